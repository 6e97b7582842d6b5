// follow: the lines asked for (a server, some tags, alerts, or everything)
// until the console goes or qzuconctl is stopped.
#ifndef QZUCON_CTL_FOLLOW_H_
#define QZUCON_CTL_FOLLOW_H_

#include "ctl/ctlargs.h"
#include "ctl/ctlconn.h"

// kCtlEnded once the console has ended (said on standard error), kCtlError
// when a request failed.
int follow(ctlConn* c, const ctlArgs& a);

#endif  // QZUCON_CTL_FOLLOW_H_
