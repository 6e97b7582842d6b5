// do and exit: driving the console itself.
#include "ctl/drive.h"

#include <cstdio>

#include "ctl/answer.h"
#include "ctl/fleetout.h"
#include "ctl/replies.h"
#include "ctlproto/words.h"
#include "runtime/text.h"

namespace {

constexpr long kExitWaitMs = 30000;  // for the console to finish after "exit"

}  // namespace

// do: the words joined by blanks into one typed line, as a shell split them.
int doLine(ctlConn* c, const ctlArgs& a) {
  char joined[kCtlLineSize] = "";
  int len = 0;
  for (int i = 0; i < a.lineCount; i++) {
    len +=
        trf(joined + len, static_cast<int>(sizeof joined) - len, "%s%s", i ? " " : "", a.lines[i]);
    if (len >= static_cast<int>(sizeof joined)) {
      fprintf(stderr, "qzuconctl: the line is too long\n");
      return kCtlError;
    }
  }
  return c->request("%s %s", kReqDo, joined) ? untilOk(c) : kCtlError;
}

// exit: ends the console and waits for it to be gone (kExitWaitMs at most
// between its last lines), so that a script may start the next one on the
// same port.
int endConsole(ctlConn* c) {
  if (!c->request("%s", kReqExit)) return kCtlError;
  if (int rc = untilOk(c)) return rc;
  // Done once the console has sent its exit notices and closed the socket.
  char line[kCtlLineSize];
  int got;
  while ((got = c->readLine(line, sizeof line, kExitWaitMs)) == 1) show(line);
  if (got == 0) fprintf(stderr, "qzuconctl: the console has not ended yet\n");
  return got < 0 ? kCtlOk : kCtlError;
}
