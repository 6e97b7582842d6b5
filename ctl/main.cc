// qzuconctl: drives a running qzucon console of this user through its
// private control socket and prints what comes back, for scripts.
//
// Here only the command line and the choice of what runs; each command's
// logic lives in its module: send.* (the send and its wait), follow.*,
// drive.* (do and exit), consoles.* (list, and which console), remote.*
// (-H: the same command on other hosts over ssh), over
// replies.* (a request's answers) and fleetout.* (what is printed, with
// the fleet's tags, filters and JSON).
#include <cstdio>
#include <cstdlib>

#include "ctl/answer.h"
#include "ctl/consoles.h"
#include "ctl/ctlargs.h"
#include "ctl/ctlconn.h"
#include "ctl/ctlreload.h"
#include "ctl/drive.h"
#include "ctl/fleetout.h"
#include "ctl/follow.h"
#include "ctl/remote.h"
#include "ctl/replies.h"
#include "ctl/rolling.h"
#include "ctl/send.h"
#include "ctl/topview.h"
#include "ctlproto/words.h"
#include "fleet/tags.h"
#include "runtime/signals.h"

namespace {

const char kUsage[] =
    "usage: qzuconctl [-H [ssh://][USER@]HOST[:PORT][,...]] [-p PORT | -S SOCKET] COMMAND [ARGS]\n"
    "       qzuconctl -h | --help | --version\n"
    "  send [-s IPPORT | -a | -t TAG...] [-w SECONDS] [--json] LINE...\n"
    "                                              commands to servers; prints their lines\n"
    "  send --rolling [-s IPPORT | -a | -t TAG...] [--gap S] [--until REGEX] [--timeout S]\n"
    "       [--keep-going] [-w SECONDS] [--json] LINE...\n"
    "                                              one server after the other\n"
    "  status [-t TAG...] [--json]                 the status line of every server\n"
    "  follow [-s IPPORT | -t TAG...] [-e REGEX...] [-v REGEX...] [--alerts] [--json]\n"
    "                                              live lines until interrupted\n"
    "  do LINE...                                  run LINE as if typed at the console\n"
    "  exit                                        end the console\n"
    "  list [--json]                               the running consoles of this user\n"
    "  metrics                                     the console's metrics, Prometheus text\n"
    "  top [-t TAG...]                             a live view of every server, one row each\n"
    "  reload [--json]                             read the configuration again and apply it\n"
    "-H (or QZUCON_HOST): run the command by each host's own qzuconctl over ssh,\n"
    "  every line prefixed with its host (not top)\n"
    "exit status: 0 ok, 1 usage or connection error, 2 password mismatch,\n"
    "3 no answer from a server, 4 a server's session not up yet,\n"
    "5 a server's password not confirmed yet by what it sent,\n"
    "6 a server unreachable, 7 the console ended while followed or while top ran,\n"
    "8 reload refused: the configuration has errors, nothing changed,\n"
    "9 the request is not allowed to this user,\n"
    "10 --until's line not seen in time, 11 a rolling send stopped by Ctrl-C\n";

// Runs the command line's command; returns the exit status.
int run(const ctlArgs& a) {
  if (!fleetSetUp(a)) return kCtlError;
  if (a.command == kCmdList) return listConsoles(a);
  char path[kCtlPathSize];
  ctlConn c;
  if (!chooseSocket(a, path)) return kCtlError;
  if (a.command == kCmdTop) return topView(a, path);
  if (!c.open(path, false, a.socket != nullptr)) return kCtlError;
  // The servers' tags: for JSON, for alerts of some tags, for a send's end.
  if (a.json || a.tagCount) fetchTags(&c);
  char target[kTagListChars + 2] = "";
  if (a.tagCount) tagTarget(a, target, sizeof target);
  switch (a.command) {
    case kCmdSend:
      if (a.rolling) return rollingSend(&c, a, {untilOk, show, lateStates, elapsedMs});
      return sendCommands(&c, a);
    case kCmdStatus:
      if (!c.request("%s%s%s", kReqStatus, target[0] ? " " : "", target)) return kCtlError;
      return untilOk(&c);
    case kCmdMetrics:
      return c.request("%s", kReqMetrics) ? untilOk(&c) : kCtlError;
    case kCmdFollow:
      return follow(&c, a);
    case kCmdDo:
      return doLine(&c, a);
    case kCmdExit:
      return endConsole(&c);
    case kCmdReload:
      return reloadCommand(&c, a.json);
    default:
      return kCtlError;
  }
}

}  // namespace

int main(int argc, char** argv) {
  trIgnoreBrokenPipe();  // a console that goes away is an answer, not a crash
  ctlArgs a;
  char err[256];
  if (!parseCtlArgs(argc, argv, &a, err, sizeof err)) {
    fprintf(stderr, "qzuconctl: %s\n%s", err, kUsage);
    return kCtlError;
  }
  if (a.help) {
    fputs(kUsage, stdout);
    return kCtlOk;
  }
  if (a.version) {
    printf("qzuconctl %s\n", QZUCON_VERSION);
    return kCtlOk;
  }
  static sshHost hosts[kCtlMaxHosts];
  int count = hostsOfArgs(a, getenv("QZUCON_HOST"), hosts, kCtlMaxHosts, err, sizeof err);
  if (count < 0) {
    fprintf(stderr, "qzuconctl: %s\n%s", err, kUsage);
    return kCtlError;
  }
  if (count > 0) return runOnHosts(a, argc, argv, hosts, count);
  return run(a);
}
