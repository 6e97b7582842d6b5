// What qzuconctl prints, and the fleet's view of each line: the servers'
// tags, the filters, the alerts of some tags only, and JSON.
#include "ctl/fleetout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ctl/answer.h"
#include "ctl/ctlout.h"
#include "ctlproto/words.h"
#include "fleet/tags.h"
#include "runtime/clock.h"
#include "runtime/flexar.h"
#include "runtime/text.h"

namespace {

// Each server's tags by address, sorted, from the console's "tags" answer.
struct tagEntry {
  char ipPort[256];
  char tags[kTagListChars + 1];
};

int byAddress(const void* a, const void* b) {
  return strcmp(static_cast<const tagEntry*>(a)->ipPort, static_cast<const tagEntry*>(b)->ipPort);
}

struct fleetOutput {
  bool active = false;  // any of the below: lines go through fleetShow
  bool json = false;
  ctlFilter filter;
  char alertTags[kTagListChars + 1] = "";  // --alerts -t: only these servers' alerts
  flexar tags{sizeof(tagEntry), "ctltags"};

  const char* tagsOf(const char* ipPort) {
    tagEntry key;
    strzcpy(key.ipPort, ipPort, sizeof key.ipPort - 1);
    const void* found = tags.nodes()
                            ? bsearch(&key, tags.data(0), static_cast<size_t>(tags.nodes()),
                                      sizeof(tagEntry), byAddress)
                            : nullptr;
    return found ? static_cast<const tagEntry*>(found)->tags : "";
  }
};
fleetOutput fleet;

}  // namespace

// Takes the console's "tags IPPORT LIST" lines into fleet.tags. A console
// without tags answers with an error: no server has tags then.
void fetchTags(ctlConn* c) {
  if (!c->request("%s", kReqTags)) return;
  char line[kCtlLineSize];
  while (c->readLine(line, sizeof line, -1) == 1 && answerKindOf(line) != kAnswerOk &&
         answerKindOf(line) != kAnswerError) {
    const char* rest = afterWord(line, kAnsTags);
    if (!rest) continue;
    tagEntry e;
    int n = static_cast<int>(strcspn(rest, " "));
    strzcpy(e.ipPort, rest, n < 255 ? n : 255);
    strzcpy(e.tags, rest[n] ? rest + n + 1 : "", kTagListChars);
    fleet.tags.add(&e);
  }
  if (fleet.tags.nodes() > 1) {
    qsort(fleet.tags.data(0), static_cast<size_t>(fleet.tags.nodes()), sizeof(tagEntry), byAddress);
  }
}

void fleetForgetTags() { fleet.tags.reset(); }

const char* fleetTagsOf(const char* ipPort) { return fleet.tagsOf(ipPort); }

bool fleetJson() { return fleet.json; }

// Sets up the output the options ask for; false after a message when an
// expression is bad.
bool fleetSetUp(const ctlArgs& a) {
  char err[400];
  if (!ctlFilterCompile(&fleet.filter, a.keep, a.keepCount, a.hide, a.hideCount, err, sizeof err)) {
    fprintf(stderr, "qzuconctl: %s\n", err);
    return false;
  }
  if (a.alerts && a.tagCount > 0) {
    char target[kTagListChars + 2];
    tagTarget(a, target, sizeof target);
    strzcpy(fleet.alertTags, targetTags(target), kTagListChars);
  }
  fleet.json = a.json;
  fleet.active = a.json || a.keepCount || a.hideCount || fleet.alertTags[0];
  return true;
}

// A line as the options want it: hidden by a filter, or printed as JSON.
// False when it is to be printed as it is.
bool fleetShow(const char* line) {
  if (!fleet.active) return false;
  static char copy[kCtlLineSize];
  static char json[6 * kCtlLineSize + 1024];
  strzcpy(copy, line, kCtlLineSize - 1);
  ctlParts p;
  ctlSplit(copy, &p);
  const char* tags = fleet.tagsOf(p.server);
  if (fleet.alertTags[0] && !tagListsMeet(tags, fleet.alertTags)) return true;
  if (!ctlFilterPass(fleet.filter, p.text)) return true;
  if (!fleet.json) return false;
  if (ctlJson(p, tags, trWallMs(), json, sizeof json) > 0) print(json);
  return true;
}

void print(const char* line) {
  fputs(line, stdout);
  fputc('\n', stdout);
  fflush(stdout);  // a script reading us must see each line as it comes
}

// Prints a line that is no answer to a request: a server's or a console
// message, or the note of lines lost.
void show(const char* line) {
  answerKind kind = answerKindOf(line);
  if (kind != kAnswerDropped && fleetShow(line)) return;
  switch (kind) {
    case kAnswerConsole:
      print(afterWord(line, kAnsConsole));
      break;
    case kAnswerDropped:
      fprintf(stderr, "qzuconctl: %s\n", line);
      break;
    default:
      print(line);
  }
}
