// Reading the answers to a request up to its "ok", and what the servers'
// session states make of the run's exit status.
#include "ctl/replies.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ctl/fleetout.h"
#include "ctlproto/words.h"
#include "runtime/clock.h"

// Milliseconds since the first call: differences of the tick survive its wrap.
long elapsedMs() {
  static const uint32_t base = GetTickCount();
  return static_cast<long>(GetTickCount() - base);
}

// Takes "IPPORT STATE" of a sent command into the run's status; says what
// is wrong with a session that is not up.
void noteState(const char* sent, int* status) {
  const char* state = strrchr(sent, ' ');
  if (!state) return;
  int s = stateStatus(state + 1);
  *status = worseStatus(*status, s);
  const char* why = s == kCtlMismatch   ? "password mismatch (check its password=)"
                    : s == kCtlNoAnswer ? "no answer from the server"
                    : s == kCtlUnreachable
                        ? "unreachable: its port is closed, or it answered nothing after a silence"
                    : s == kCtlWaiting ? "its challenge is not answered yet"
                    : s == kCtlUnconfirmed
                        ? "its password is not confirmed: nothing it sent shows it right yet"
                        : nullptr;
  if (why) fprintf(stderr, "qzuconctl: %.*s: %s\n", static_cast<int>(state - sent), sent, why);
}

// Reads until the request's "ok"; prints the other lines (sent lines go to
// status instead, and to wait's servers). kCtlOk, or kCtlError (kCtlDenied
// when the request is not the user's to make) after an error line, or
// kCtlError for a lost console.
int untilOk(ctlConn* c, int* status, answerWait* wait) {
  char line[kCtlLineSize];
  for (;;) {
    if (c->readLine(line, sizeof line, -1) != 1) {
      fprintf(stderr, "qzuconctl: the console closed the connection\n");
      return kCtlError;
    }
    switch (answerKindOf(line)) {
      case kAnswerOk:
        return kCtlOk;
      case kAnswerError:
        fprintf(stderr, "qzuconctl: %s\n", afterWord(line, kAnsError));
        return errorStatus(afterWord(line, kAnsError));
      case kAnswerSent:
        if (wait) wait->add(afterWord(line, kAnsSent));
        // Whether the password is right shows in the answer, and whether the
        // server is there in whether it answers: both judged at the end.
        if (status && stateStatus(strrchr(line, ' ') + 1) != kCtlUnconfirmed &&
            stateStatus(strrchr(line, ' ') + 1) != kCtlUnreachable) {
          noteState(afterWord(line, kAnsSent), status);
        }
        if (fleetJson()) fleetShow(line);
        break;
      default:
        if (wait) wait->heard(line, elapsedMs());
        show(line);
    }
  }
}
