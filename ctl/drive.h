// Driving the console itself: do (a line as if typed at it) and exit (its
// end). Refusals and a lost console are said on standard error.
#ifndef QZUCON_CTL_DRIVE_H_
#define QZUCON_CTL_DRIVE_H_

#include "ctl/ctlargs.h"
#include "ctl/ctlconn.h"

// do: the words joined by blanks into one typed line; kCtlOk once done.
int doLine(ctlConn* c, const ctlArgs& a);
// exit: kCtlOk once the console has ended, kCtlError when it refused or is
// still there after the wait.
int endConsole(ctlConn* c);

#endif  // QZUCON_CTL_DRIVE_H_
