// send: commands to servers, then the wait for their answers, and the exit
// status their sessions earn.
#include "ctl/send.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ctl/fleetout.h"
#include "ctl/replies.h"
#include "ctlproto/words.h"
#include "fleet/tags.h"
#include "runtime/clock.h"
#include "runtime/text.h"

namespace {

// The console's only server, for send without -s or -a.
bool onlyServer(ctlConn* c, char* out, int size) {
  if (!c->request("%s", kReqServers)) return false;
  char line[kCtlLineSize];
  int servers = 0;
  while (c->readLine(line, sizeof line, -1) == 1 && answerKindOf(line) != kAnswerOk) {
    const char* server = afterWord(line, kAnsServer);
    if (server && ++servers == 1) strzcpy(out, server, static_cast<int>(strcspn(server, " ")));
  }
  if (servers == 1 && static_cast<int>(strlen(out)) < size) return true;
  fprintf(stderr, "qzuconctl: the console has %d servers: name one with -s or use -a\n", servers);
  return false;
}

}  // namespace

// A wrong password shows in the lines that come back, after the command went
// out; a right one too: the servers' states at the end of the wait count as
// well. Returns the run's status with them.
int lateStates(ctlConn* c, const char* target, int status) {
  if (!c->request("%s", kReqUnfollow) || untilOk(c) != kCtlOk || !c->request("%s", kReqServers)) {
    return status;
  }
  char line[kCtlLineSize];
  while (c->readLine(line, sizeof line, -1) == 1 && answerKindOf(line) != kAnswerOk) {
    const char* ipPort = afterWord(line, kAnsServer);
    if (!ipPort) continue;
    const char* state = strrchr(ipPort, ' ');
    size_t n = strcspn(ipPort, " ");
    bool mine =
        strcmp(target, kTargetAll) == 0 || (strlen(target) == n && !strncmp(ipPort, target, n));
    if (const char* tags = targetTags(target)) {
      char addr[256];
      strzcpy(addr, ipPort, n < 255 ? static_cast<int>(n) : 255);
      mine = tagListsMeet(fleetTagsOf(addr), tags);
    }
    if (!mine || !state) continue;
    int s = stateStatus(state + 1);
    // The states judged only here are named for every server; the others
    // were named when the command went out, and count here when they are new.
    bool bad = s == kCtlMismatch || s == kCtlNoAnswer;
    if ((bad && worseStatus(status, s) != status) || s == kCtlUnreachable || s == kCtlUnconfirmed) {
      noteState(ipPort, &status);
    }
  }
  return status;
}


// send: the LINEs to the servers asked for, then their lines until they have
// answered and gone quiet or -w is up; the status says how their sessions
// stand.
int sendCommands(ctlConn* c, const ctlArgs& a) {
  char target[kCtlLineSize];
  strzcpy(target, kTargetAll, sizeof target - 1);
  if (a.server) strzcpy(target, a.server, sizeof target - 1);
  if (a.tagCount) tagTarget(a, target, sizeof target);
  if (!a.all && !a.server && !a.tagCount && !onlyServer(c, target, sizeof target)) {
    return kCtlError;
  }
  // Following first: no line the command causes can come before it.
  if (!c->request("%s %s", kReqFollow, target)) return kCtlError;
  int status = untilOk(c);
  if (status != kCtlOk) return status;
  static answerWait wait;  // large: kept off the stack
  for (int i = 0; i < a.lineCount; i++) {
    if (!c->request("%s %s %s", kReqSend, target, a.lines[i])) return kCtlError;
    int rc = untilOk(c, &status, &wait);
    if (rc != kCtlOk) return rc;
  }
  // One deadline for the whole wait: a server that keeps talking must not
  // keep the script waiting. It ends sooner once every server has answered
  // and gone quiet: the script wants the answer, then its prompt back.
  uint32_t start = GetTickCount();
  char line[kCtlLineSize];
  for (;;) {
    long left = a.waitMs - static_cast<long>(GetTickCount() - start);
    long quiet = wait.left(elapsedMs());
    if (quiet >= 0 && quiet < left) left = quiet;
    // Ended: the time is up, or the console is gone and nothing more can come.
    if (left <= 0 || c->readLine(line, sizeof line, left) != 1) break;
    wait.heard(line, elapsedMs());
    show(line);
  }
  return lateStates(c, target, status);
}
