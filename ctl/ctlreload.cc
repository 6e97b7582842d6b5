// qzuconctl reload's answer: taken in, and written for a person or as JSON.
#include "ctl/ctlreload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ctl/answer.h"
#include "ctl/ctlconn.h"
#include "ctl/ctlout.h"
#include "ctlproto/words.h"
#include "runtime/text.h"

bool reloadTake(reloadAnswer* a, const char* line) {
  if (const char* p = afterWord(line, kAnsReloaded)) {
    char* end = nullptr;
    a->added = strtol(p, &end, 10);
    a->removed = strtol(end, &end, 10);
    a->changed = strtol(end, &end, 10);
    a->kept = strtol(end, &end, 10);
    a->reloaded = true;
  } else if (const char* w = afterWord(line, kAnsRestart)) {
    if (a->restarts < kReloadKept) strzcpy(a->restart[a->restarts++], w, 31);
  } else if (const char* e = afterWord(line, kAnsInvalid)) {
    if (a->errorCount < kReloadErrors) strzcpy(a->errors[a->errorCount++], e, kReloadTextChars - 1);
  } else if (const char* r = afterWord(line, kAnsError)) {
    strzcpy(a->refused, r, kReloadTextChars - 1);
  } else {
    return false;
  }
  return true;
}

void reloadText(const reloadAnswer& a, char* out, int size) {
  out[0] = 0;
  if (!a.reloaded) {
    traf(out, size, "refused: %s\n", a.refused);
    for (int i = 0; i < a.errorCount; i++) traf(out, size, "%s\n", a.errors[i]);
    return;
  }
  traf(out, size, "reloaded: %ld added, %ld removed, %ld changed, %ld kept\n", a.added, a.removed,
       a.changed, a.kept);
  for (int i = 0; i < a.restarts; i++) {
    traf(out, size, "%s%s=", i ? ", " : "kept until a restart: ", a.restart[i]);
  }
  if (a.restarts) traf(out, size, "\n");
}

namespace {

// Appends a JSON string; a text that does not fit leaves out as it was.
void putString(const char* text, char* out, int size) {
  int len = static_cast<int>(strlen(out));
  if (jsonString(text, out, size, &len)) out[len] = 0;
}

}  // namespace

void reloadJson(const reloadAnswer& a, char* out, int size) {
  out[0] = 0;
  if (!a.reloaded) {
    traf(out, size, "{\"reloaded\":false,\"error\":");
    putString(a.refused, out, size);
    traf(out, size, ",\"errors\":[");
    for (int i = 0; i < a.errorCount; i++) {
      if (i) traf(out, size, ",");
      putString(a.errors[i], out, size);
    }
    traf(out, size, "]}\n");
    return;
  }
  traf(out, size,
       "{\"reloaded\":true,\"added\":%ld,\"removed\":%ld,\"changed\":%ld,\"kept\":%ld,"
       "\"restart\":[",
       a.added, a.removed, a.changed, a.kept);
  for (int i = 0; i < a.restarts; i++) {
    if (i) traf(out, size, ",");
    putString(a.restart[i], out, size);
  }
  traf(out, size, "]}\n");
}

int reloadCommand(ctlConn* c, bool json) {
  if (!c->request("%s", kReqReload)) return kCtlError;
  static reloadAnswer a;  // 16 KB of error texts: off the stack
  a = reloadAnswer();
  char line[8192];
  for (;;) {
    if (c->readLine(line, sizeof line, -1) != 1) {
      fprintf(stderr, "qzuconctl: the console closed the connection\n");
      return kCtlError;
    }
    bool known = reloadTake(&a, line);
    if (answerKindOf(line) == kAnswerOk || (answerKindOf(line) == kAnswerError)) break;
    if (!known) fprintf(stderr, "qzuconctl: %s\n", line);
  }
  // An error with no reload or errors before it is the request refused
  // (another user's, an older console), not a configuration.
  if (!a.reloaded && a.errorCount == 0) {
    fprintf(stderr, "qzuconctl: %s\n", a.refused);
    return errorStatus(a.refused);
  }
  static char out[kReloadErrors * (kReloadTextChars + 8) + 1024];
  if (json) {
    reloadJson(a, out, sizeof out);
  } else {
    reloadText(a, out, sizeof out);
  }
  fputs(out, a.reloaded || json ? stdout : stderr);
  fflush(stdout);
  return a.reloaded ? kCtlOk : kCtlRefused;
}
