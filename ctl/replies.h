// Reading the answers to a request up to its "ok": the lines that are no
// reply are shown (fleetout.h), a refusal or a lost console is said on
// standard error, and the session states of a send's "sent" lines count in
// the run's exit status.
#ifndef QZUCON_CTL_REPLIES_H_
#define QZUCON_CTL_REPLIES_H_

#include "ctl/answer.h"
#include "ctl/ctlconn.h"

// Milliseconds since the first call: differences of the tick survive its wrap.
long elapsedMs();

// Takes "IPPORT STATE" of a sent command into *status (the worse of the
// two); says on standard error what is wrong with a session that is not up.
void noteState(const char* sent, int* status);

// Reads until the request's "ok"; prints the other lines (sent lines go to
// status instead, and to wait's servers). kCtlOk, or kCtlError after an error
// line or a lost console.
int untilOk(ctlConn* c, int* status = nullptr, answerWait* wait = nullptr);

#endif  // QZUCON_CTL_REPLIES_H_
