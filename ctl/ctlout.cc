// Answer lines taken apart, filtered and written as JSON.
#include "ctl/ctlout.h"

#include <cstring>
#include <ctime>

#include "ctlproto/words.h"
#include "runtime/text.h"

namespace {

// Copies the word at p (up to a blank or end) into out (size bytes);
// returns what follows the blank.
const char* word(const char* p, char* out, int size) {
  int n = static_cast<int>(strcspn(p, " "));
  strzcpy(out, p, n < size - 1 ? n : size - 1);
  return p[n] ? p + n + 1 : p + n;
}

bool put(char* out, int size, int* len, const char* text) {
  int n = static_cast<int>(strlen(text));
  if (*len + n >= size) return false;
  memcpy(out + *len, text, static_cast<size_t>(n) + 1);
  *len += n;
  return true;
}

// ["eu","pvp"] of a tag list.
bool putTags(char* out, int size, int* len, const char* tags) {
  if (!put(out, size, len, "[")) return false;
  for (const char* p = tags; *p;) {
    char tag[kTagChars + 1];
    int n = static_cast<int>(strcspn(p, ","));
    strzcpy(tag, p, n < kTagChars ? n : kTagChars);
    if ((p != tags && !put(out, size, len, ",")) || !jsonString(tag, out, size, len)) return false;
    p += n + (p[n] == ',');
  }
  return put(out, size, len, "]");
}

// In "NAME IPPORT ->TEXT", the arrow right after the address; null when
// there is none there (an arrow further on is the server's text).
const char* alertArrow(const char* rest) {
  const char* server = strchr(rest, ' ');
  if (server == nullptr) return nullptr;
  const char* arrow = server + 1 + strcspn(server + 1, " ");
  return strncmp(arrow, kAnsArrow, strlen(kAnsArrow)) == 0 ? arrow : nullptr;
}

}  // namespace

void ctlSplit(char* line, ctlParts* out) {
  *out = ctlParts();
  const int arrowChars = static_cast<int>(strlen(kAnsArrow));
  const char* arrow = strstr(line, kAnsArrow);
  const char* rest = nullptr;
  const char* alertText = nullptr;
  if ((rest = afterWord(line, kAnsConsole)) != nullptr) {
    out->kind = "console";
    out->text = rest;
  } else if ((rest = afterWord(line, kAnsSent)) != nullptr) {
    out->kind = "sent";
    rest = word(rest, out->server, sizeof out->server);
    strzcpy(out->state, rest, sizeof out->state - 1);
  } else if ((rest = afterWord(line, kAnsStatus)) != nullptr && strstr(line, kAnsStatusColon)) {
    out->kind = "status";
    const char* colon = strstr(line, kAnsStatusColon);
    int n = static_cast<int>(colon - rest);
    strzcpy(out->server, rest, n < 255 ? n : 255);
    out->text = colon + strlen(kAnsStatusColon);
    char* tags = strstr(line + (colon - line), kAnsStatusTags);
    if (tags) *tags = 0;
  } else if ((rest = afterWord(line, kAnsAlert)) != nullptr && arrow &&
             (alertText = alertArrow(rest)) != nullptr) {
    out->kind = "alert";
    rest = word(rest, out->alert, sizeof out->alert);
    word(rest, out->server, sizeof out->server);
    out->text = alertText + arrowChars;
  } else if (arrow && !memchr(line, ' ', static_cast<size_t>(arrow - line))) {
    out->kind = "server";
    int n = static_cast<int>(arrow - line);
    strzcpy(out->server, line, n < 255 ? n : 255);
    out->text = arrow + arrowChars;
  } else {
    out->kind = "other";
    out->text = line;
  }
}

ctlFilter::~ctlFilter() {
  for (int i = 0; i < keepCount; i++) patternFree(&keep[i]);
  for (int i = 0; i < hideCount; i++) patternFree(&hide[i]);
}

bool ctlFilterCompile(ctlFilter* f, const char* const* keep, int keepCount, const char* const* hide,
                      int hideCount, char* err, int errSize) {
  const struct {
    const char* const* src;
    int count;
    pattern* into;
    int* done;
  } kSets[] = {{keep, keepCount, f->keep, &f->keepCount},
               {hide, hideCount, f->hide, &f->hideCount}};
  for (const auto& set : kSets) {
    for (int i = 0; i < set.count && i < kCtlMaxPatterns; i++) {
      char why[160];
      if (!patternCompile(&set.into[i], set.src[i], why, sizeof why)) {
        trf(err, errSize, "bad expression \"%s\": %s", set.src[i], why);
        return false;
      }
      (*set.done)++;
    }
  }
  return true;
}

bool ctlFilterPass(const ctlFilter& f, const char* text) {
  bool kept = f.keepCount == 0;
  for (int i = 0; i < f.keepCount && !kept; i++) kept = patternMatch(&f.keep[i], text);
  for (int i = 0; i < f.hideCount && kept; i++) kept = !patternMatch(&f.hide[i], text);
  return kept;
}

bool jsonString(const char* bytes, char* out, int size, int* len) {
  static const char kHex[] = "0123456789abcdef";
  int at = *len;
  if (at >= size - 1) return false;
  out[at++] = '"';
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  int left = static_cast<int>(strlen(bytes));
  while (left > 0) {
    if (at + 7 >= size) return false;
    int n = utf8Sequence(p, left);
    if (*p == '"' || *p == '\\') {
      out[at++] = '\\';
      out[at++] = static_cast<char>(*p);
    } else if (*p < 0x20 || *p == 0x7F) {
      memcpy(out + at, "\\u00", 4);
      out[at + 4] = kHex[*p >> 4];
      out[at + 5] = kHex[*p & 15];
      at += 6;
    } else if (n > 0) {
      memcpy(out + at, p, static_cast<size_t>(n));
      at += n;
    } else {
      memcpy(out + at, kReplacementChar, 3);
      at += 3;
    }
    p += n > 0 ? n : 1;
    left -= n > 0 ? n : 1;
  }
  if (at + 1 >= size) return false;
  out[at++] = '"';
  out[at] = 0;
  *len = at;
  return true;
}

void isoTime(int64_t timeMs, char* out) {
  time_t secs = static_cast<time_t>(timeMs / 1000);
  struct tm t;
  if (gmtime_r(&secs, &t) == nullptr) memset(&t, 0, sizeof t);
  trf(out, 25, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
      t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(timeMs % 1000));
}

int ctlJson(const ctlParts& p, const char* tags, int64_t timeMs, char* out, int size) {
  int len = 0;
  char stamp[25];
  isoTime(timeMs, stamp);
  out[0] = 0;
  bool ok = put(out, size, &len, "{\"server\":") &&
            (p.server[0] ? jsonString(p.server, out, size, &len) : put(out, size, &len, "null")) &&
            put(out, size, &len, ",\"tags\":") && putTags(out, size, &len, tags) &&
            put(out, size, &len, ",\"time\":") && jsonString(stamp, out, size, &len) &&
            put(out, size, &len, ",\"kind\":") && jsonString(p.kind, out, size, &len) &&
            put(out, size, &len, ",\"text\":") && jsonString(p.text, out, size, &len);
  const struct {
    const char* key;
    const char* value;
  } kOptional[] = {{",\"state\":", p.state},
                   {",\"alert\":", p.alert},
                   {",\"socket\":", p.socket},
                   {",\"myaddr\":", p.myaddr},
                   {",\"console\":", p.console}};
  for (const auto& f : kOptional) {
    if (ok && f.value[0]) ok = put(out, size, &len, f.key) && jsonString(f.value, out, size, &len);
  }
  return ok && put(out, size, &len, "}") ? len : -1;
}
