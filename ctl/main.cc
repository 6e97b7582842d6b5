// qzuconctl: drives a running qzucon console of this user through its
// private control socket and prints what comes back, for scripts.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ctl/answer.h"
#include "ctl/ctlargs.h"
#include "ctl/ctlconn.h"
#include "ctl/rolling.h"
#include "ctlproto/words.h"
#include "runtime/clock.h"
#include "runtime/flexar.h"
#include "runtime/signals.h"
#include "runtime/tags.h"
#include "runtime/text.h"

namespace {

const char kUsage[] =
    "usage: qzuconctl [-p PORT | -S SOCKET] COMMAND [ARGS]\n"
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
    "exit status: 0 ok, 1 usage or connection error, 2 password mismatch,\n"
    "3 no answer from a server, 4 a server's session not up yet,\n"
    "5 a server's password not confirmed yet by what it sent,\n"
    "6 a server unreachable, 7 the console ended while followed,\n"
    "8 --until's line not seen in time, 9 a rolling send stopped by Ctrl-C\n";

constexpr int kLineSize = 8192;
constexpr long kExitWaitMs = 30000;  // for the console to finish after "exit"

// ---- the fleet's output: tags, filters, JSON ----

// Each server's tags by address, sorted, from the console's "tags" answer.
struct tagEntry {
  char ipPort[256];
  char tags[kTagListChars + 1];
};

int byAddress(const void* a, const void* b) {
  return strcmp(static_cast<const tagEntry*>(a)->ipPort, static_cast<const tagEntry*>(b)->ipPort);
}

struct fleetOutput {
  bool active = false;  // any of the below: lines go through fleetShow
  bool json = false;
  ctlFilter filter;
  char alertTags[kTagListChars + 1] = "";  // --alerts -t: only these servers' alerts
  flexar tags{sizeof(tagEntry), "ctltags"};

  const char* tagsOf(const char* ipPort) {
    tagEntry key;
    strzcpy(key.ipPort, ipPort, sizeof key.ipPort - 1);
    const void* found = tags.nodes()
                            ? bsearch(&key, tags.data(0), static_cast<size_t>(tags.nodes()),
                                      sizeof(tagEntry), byAddress)
                            : nullptr;
    return found ? static_cast<const tagEntry*>(found)->tags : "";
  }
};
fleetOutput fleet;

void print(const char* line);

// Takes the console's "tags IPPORT LIST" lines into fleet.tags. A console
// without tags answers with an error: no server has tags then.
void fetchTags(ctlConn* c) {
  if (!c->request("%s", kReqTags)) return;
  char line[kLineSize];
  while (c->readLine(line, sizeof line, -1) == 1 && answerKindOf(line) != kAnswerOk &&
         answerKindOf(line) != kAnswerError) {
    const char* rest = afterWord(line, kAnsTags);
    if (!rest) continue;
    tagEntry e;
    int n = static_cast<int>(strcspn(rest, " "));
    strzcpy(e.ipPort, rest, n < 255 ? n : 255);
    strzcpy(e.tags, rest[n] ? rest + n + 1 : "", kTagListChars);
    fleet.tags.add(&e);
  }
  if (fleet.tags.nodes() > 1) {
    qsort(fleet.tags.data(0), static_cast<size_t>(fleet.tags.nodes()), sizeof(tagEntry), byAddress);
  }
}

// Sets up the output the options ask for; false after a message when an
// expression is bad.
bool fleetSetUp(const ctlArgs& a) {
  char err[400];
  if (!ctlFilterCompile(&fleet.filter, a.keep, a.keepCount, a.hide, a.hideCount, err, sizeof err)) {
    fprintf(stderr, "qzuconctl: %s\n", err);
    return false;
  }
  if (a.alerts && a.tagCount > 0) {
    char target[kTagListChars + 2];
    tagTarget(a, target, sizeof target);
    strzcpy(fleet.alertTags, targetTags(target), kTagListChars);
  }
  fleet.json = a.json;
  fleet.active = a.json || a.keepCount || a.hideCount || fleet.alertTags[0];
  return true;
}

// A line as the options want it: hidden by a filter, or printed as JSON.
// False when it is to be printed as it is.
bool fleetShow(const char* line) {
  if (!fleet.active) return false;
  static char copy[kLineSize];
  static char json[6 * kLineSize + 1024];
  strzcpy(copy, line, kLineSize - 1);
  ctlParts p;
  ctlSplit(copy, &p);
  const char* tags = fleet.tagsOf(p.server);
  if (fleet.alertTags[0] && !tagListsMeet(tags, fleet.alertTags)) return true;
  if (!ctlFilterPass(fleet.filter, p.text)) return true;
  if (!fleet.json) return false;
  if (ctlJson(p, tags, trWallMs(), json, sizeof json) > 0) print(json);
  return true;
}

void print(const char* line) {
  fputs(line, stdout);
  fputc('\n', stdout);
  fflush(stdout);  // a script reading us must see each line as it comes
}

// Milliseconds since the first call: differences of the tick survive its wrap.
long elapsedMs() {
  static const uint32_t base = GetTickCount();
  return static_cast<long>(GetTickCount() - base);
}

// Prints a line that is no answer to a request: a server's or a console
// message, or the note of lines lost.
void show(const char* line) {
  answerKind kind = answerKindOf(line);
  if (kind != kAnswerDropped && fleetShow(line)) return;
  switch (kind) {
    case kAnswerConsole:
      print(afterWord(line, kAnsConsole));
      break;
    case kAnswerDropped:
      fprintf(stderr, "qzuconctl: %s\n", line);
      break;
    default:
      print(line);
  }
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
// status instead, and to wait's servers). kCtlOk, or kCtlError after an error
// line or a lost console.
int untilOk(ctlConn* c, int* status = nullptr, answerWait* wait = nullptr) {
  char line[kLineSize];
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
        return kCtlError;
      case kAnswerSent:
        if (wait) wait->add(afterWord(line, kAnsSent));
        // Whether the password is right shows in the answer, and whether the
        // server is there in whether it answers: both judged at the end.
        if (status && stateStatus(strrchr(line, ' ') + 1) != kCtlUnconfirmed &&
            stateStatus(strrchr(line, ' ') + 1) != kCtlUnreachable) {
          noteState(afterWord(line, kAnsSent), status);
        }
        if (fleet.json) fleetShow(line);
        break;
      default:
        if (wait) wait->heard(line, elapsedMs());
        show(line);
    }
  }
}

// The console's only server, for send without -s or -a.
bool onlyServer(ctlConn* c, char* out, int size) {
  if (!c->request("%s", kReqServers)) return false;
  char line[kLineSize];
  int servers = 0;
  while (c->readLine(line, sizeof line, -1) == 1 && answerKindOf(line) != kAnswerOk) {
    const char* server = afterWord(line, kAnsServer);
    if (server && ++servers == 1) strzcpy(out, server, static_cast<int>(strcspn(server, " ")));
  }
  if (servers == 1 && static_cast<int>(strlen(out)) < size) return true;
  fprintf(stderr, "qzuconctl: the console has %d servers: name one with -s or use -a\n", servers);
  return false;
}

// A wrong password shows in the lines that come back, after the command went
// out; a right one too: the servers' states at the end of the wait count as
// well. Returns the run's status with them.
int lateStates(ctlConn* c, const char* target, int status) {
  if (!c->request("%s", kReqUnfollow) || untilOk(c) != kCtlOk || !c->request("%s", kReqServers)) {
    return status;
  }
  char line[kLineSize];
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
      mine = tagListsMeet(fleet.tagsOf(addr), tags);
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
  char target[kLineSize];
  strzcpy(target, kTargetAll, sizeof target - 1);
  if (a.server) strzcpy(target, a.server, sizeof target - 1);
  if (a.tagCount) tagTarget(a, target, sizeof target);
  if (!a.all && !a.server && !a.tagCount && !onlyServer(c, target, sizeof target)) {
    return kCtlError;
  }
  // Following first: no line the command causes can come before it.
  if (!c->request("%s %s", kReqFollow, target) || untilOk(c) != kCtlOk) return kCtlError;
  int status = kCtlOk;
  static answerWait wait;  // large: kept off the stack
  for (int i = 0; i < a.lineCount; i++) {
    if (!c->request("%s %s %s", kReqSend, target, a.lines[i]) ||
        untilOk(c, &status, &wait) != kCtlOk) {
      return kCtlError;
    }
  }
  // One deadline for the whole wait: a server that keeps talking must not
  // keep the script waiting. It ends sooner once every server has answered
  // and gone quiet: the script wants the answer, then its prompt back.
  uint32_t start = GetTickCount();
  char line[kLineSize];
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
  char line[kLineSize];
  while (c->readLine(line, sizeof line, -1) == 1) show(line);
  // Only the console's end (or our own, by a signal) stops the loop above.
  fprintf(stderr, "qzuconctl: the console has ended: nothing more to follow\n");
  return kCtlEnded;
}

// do: the words joined by blanks into one typed line, as a shell split them.
int doLine(ctlConn* c, const ctlArgs& a) {
  char joined[kLineSize] = "";
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
  if (!c->request("%s", kReqExit) || untilOk(c) != kCtlOk) return kCtlError;
  // Done once the console has sent its exit notices and closed the socket.
  char line[kLineSize];
  int got;
  while ((got = c->readLine(line, sizeof line, kExitWaitMs)) == 1) show(line);
  if (got == 0) fprintf(stderr, "qzuconctl: the console has not ended yet\n");
  return got < 0 ? kCtlOk : kCtlError;
}

int noConsole() {
  fprintf(stderr, "qzuconctl: no running console of this user found; is one running?\n");
  return kCtlError;
}

// What list knows of one console before its servers: its socket, own
// address and name.
struct listedConsole {
  const char* socket;
  char myaddr[kLineSize] = "";
  char name[kLineSize] = "";
  bool shown = false;  // its text line is begun
};

// One server of list --json: its console, state and tags.
void listJson(const listedConsole& k, const char* server) {
  char line[kLineSize];
  strzcpy(line, server, sizeof line - 1);
  ctlParts p;
  const char* state = strrchr(line, ' ');
  if (state) {
    strzcpy(p.state, state + 1, sizeof p.state - 1);
    line[state - line] = 0;
  }
  strzcpy(p.server, line, sizeof p.server - 1);
  p.kind = "list";
  p.socket = k.socket;
  p.myaddr = k.myaddr;
  p.console = k.name;
  static char json[6 * kLineSize + 1024];
  if (ctlJson(p, fleet.tagsOf(p.server), trWallMs(), json, sizeof json) > 0) print(json);
}

// The start of a console's text line: "NAME: SOCKET ADDRESS" (a console
// that tells no name, "SOCKET ADDRESS").
void listHead(listedConsole* k) {
  if (k->shown) return;
  k->shown = true;
  printf("%s%s%s %s", k->name, k->name[0] ? ": " : "", k->socket, k->myaddr);
}

// One line per console: its name, socket, own address and servers, each
// with its tags in brackets when it has any; or with --json one object per
// server.
int list(const ctlArgs& a) {
  ctlFound found;
  findConsoles(&found);
  if (found.count == 0) return noConsole();
  for (int i = 0; i < found.count; i++) {
    ctlConn c;
    if (!c.open(found.paths[i], true)) continue;
    fleet.tags.reset();
    fetchTags(&c);
    if (!c.request("%s", kReqServers)) continue;
    char line[kLineSize];
    static listedConsole k;
    k = listedConsole();
    k.socket = found.paths[i];
    while (c.readLine(line, sizeof line, 5000) == 1 && answerKindOf(line) != kAnswerOk) {
      const char* rest = nullptr;
      if ((rest = afterWord(line, kAnsMyaddr)) != nullptr) strzcpy(k.myaddr, rest, kLineSize - 1);
      if ((rest = afterWord(line, kAnsName)) != nullptr) strzcpy(k.name, rest, kLineSize - 1);
      if ((rest = afterWord(line, kAnsServer)) == nullptr) continue;
      if (a.json) {
        listJson(k, rest);
        continue;
      }
      listHead(&k);
      int n = static_cast<int>(strcspn(rest, " "));
      char addr[256];
      strzcpy(addr, rest, n < 255 ? n : 255);
      const char* tags = fleet.tagsOf(addr);
      printf(" %s%s%s%s", addr, tags[0] ? "[" : "", tags, tags[0] ? "]" : "");
    }
    if (!a.json) {
      listHead(&k);
      fputc('\n', stdout);
    }
    fflush(stdout);
  }
  return kCtlOk;
}

// The socket to use: -S, -p, or the only running console.
bool chooseSocket(const ctlArgs& a, char* path) {
  if (a.socket) {
    strzcpy(path, a.socket, kCtlPathSize - 1);
    return true;
  }
  if (a.port) return portSocket(a.port, path);
  ctlFound found;
  findConsoles(&found);
  if (found.count == 1) {
    memcpy(path, found.paths[0], kCtlPathSize);
    return true;
  }
  if (found.count == 0) {
    noConsole();
  } else {
    fprintf(stderr, "qzuconctl: %d consoles are running; choose one with -p or -S:\n", found.count);
    for (int i = 0; i < found.count; i++) fprintf(stderr, "  %s\n", found.paths[i]);
  }
  return false;
}

// Runs the command line's command; returns the exit status.
int run(const ctlArgs& a) {
  if (!fleetSetUp(a)) return kCtlError;
  if (a.command == kCmdList) return list(a);
  char path[kCtlPathSize];
  ctlConn c;
  if (!chooseSocket(a, path) || !c.open(path, false, a.socket != nullptr)) return kCtlError;
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
  return run(a);
}
