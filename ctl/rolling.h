// send --rolling: the LINEs to a group one server at a time, in the
// console's configuration order, each waited for before the next one gets
// them. The pure part (what a server's turn came to, whether the run goes
// on, the result lines) is table-tested; rollingSend drives a console.
#ifndef QZUCON_CTL_ROLLING_H_
#define QZUCON_CTL_ROLLING_H_

#include <cstdint>

#include "ctl/answer.h"
#include "ctl/ctlargs.h"

class ctlConn;

constexpr int kRollingServers = 1024;  // servers one run takes at most
constexpr int kRollingReasonChars = 95;

// What one server's turn came to.
enum rollingOutcome {
  kRollOk,       // sent, answered (or its --until line came), session sound
  kRollFailed,   // sent, and something went wrong: see status and reason
  kRollNotSent,  // its turn never came: an earlier server failed, or the run was stopped
};

struct rollingResult {
  char ipPort[kCtlAddrChars + 1] = "";
  rollingOutcome outcome = kRollNotSent;
  int status = kCtlOk;  // the exit status this server earns
  long ms = 0;          // from its send to the end of its wait
  char reason[kRollingReasonChars + 1] = "";
};

// A turn's result from what was seen: the session status the send's lines
// and the end of the wait gave (answer.h's, kCtlError when the console
// refused or went away), and with --until whether a matching line came
// within timeoutMs.
void rollingJudge(rollingResult* r, int sessionStatus, bool untilAsked, bool untilSeen,
                  long timeoutMs);

// Whether the run takes the next server after this result.
bool rollingGoOn(const rollingResult& r, bool keepGoing);

// The result line of r: "ADDR ok 1.2 s", "ADDR failed: REASON" or "ADDR not
// sent: REASON"; with json one object {"server","time","kind":"rolling",
// "result","seconds","reason"} (seconds and reason where they apply). Into
// out (size bytes); the length, or -1 when it does not fit.
int rollingLine(const rollingResult& r, bool json, int64_t timeMs, char* out, int size);

// The run's exit status: kCtlOk when every server is ok; else the worst
// (worseStatus, with kCtlNotSeen after the session states) of the failed
// servers' statuses; kCtlStopped when none failed but some were not sent
// because the run was stopped.
int rollingStatus(const rollingResult* results, int count);

// The server of a "tags IPPORT LIST" answer line into out (kCtlAddrChars + 1
// bytes); false for any other line or an address too long to track.
bool rollingServerOf(const char* line, char* out);

// What main.cc lends the run: its answer reader and printer, and the end of
// a send (unfollow, and the servers' states counted into status).
struct rollingHooks {
  int (*untilOk)(ctlConn* c, int* status, answerWait* wait);
  void (*show)(const char* line);
  int (*lateStates)(ctlConn* c, const char* target, int status);
  long (*now)();  // the milliseconds untilOk gives answerWait
};

// Runs send --rolling as a asks; returns the exit status.
int rollingSend(ctlConn* c, const ctlArgs& a, const rollingHooks& h);

#endif  // QZUCON_CTL_ROLLING_H_
