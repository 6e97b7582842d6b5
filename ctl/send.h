// send: the command's LINEs to the servers asked for (-s, -a, -t, or the
// console's only server), then their lines until they have answered and
// gone quiet or -w is up. Says on standard error what is wrong with a
// session that is not up.
#ifndef QZUCON_CTL_SEND_H_
#define QZUCON_CTL_SEND_H_

#include "ctl/ctlargs.h"
#include "ctl/ctlconn.h"

// The run's exit status: kCtlOk, the worst a server's session earned, or
// kCtlError when a request failed.
int sendCommands(ctlConn* c, const ctlArgs& a);

// The end of a send to target: unfollows, then counts the servers' states at
// the end of the wait into status (naming what is wrong); returns it.
int lateStates(ctlConn* c, const char* target, int status);

#endif  // QZUCON_CTL_SEND_H_
