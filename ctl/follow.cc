// follow: a console's lines as they come.
#include "ctl/follow.h"

#include <cstdio>

#include "ctl/answer.h"
#include "ctl/fleetout.h"
#include "ctl/replies.h"
#include "ctlproto/words.h"
#include "fleet/tags.h"

// follow: the lines asked for until the console goes (or we are stopped).
int follow(ctlConn* c, const ctlArgs& a) {
  char target[kTagListChars + 2];
  tagTarget(a, target, sizeof target);
  // Everything, when no server or tag is named: every server and the console.
  const char* what[] = {kTargetAll, kFollowConsole};
  int count = 2;
  if (a.alerts || a.tagCount || a.server) {
    what[0] = a.alerts ? kFollowAlerts : a.tagCount ? target : a.server;
    count = 1;
  }
  for (int i = 0; i < count; i++) {
    if (!c->request("%s %s", kReqFollow, what[i]) || untilOk(c) != kCtlOk) return kCtlError;
  }
  char line[kCtlLineSize];
  while (c->readLine(line, sizeof line, -1) == 1) show(line);
  // Only the console's end (or our own, by a signal) stops the loop above.
  fprintf(stderr, "qzuconctl: the console has ended: nothing more to follow\n");
  return kCtlEnded;
}
