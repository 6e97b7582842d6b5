// The control socket: opening it safely, the clients, the request lines and
// the lines offered to followers.
#include "app/control.h"

#include <strings.h>

#include <cstdarg>
#include <cstring>

#include "app/alerts.h"
#include "app/bounded.h"
#include "app/ctltop.h"
#include "app/ctlaccess.h"
#include "app/globals.h"
#include "app/journal.h"
#include "app/log.h"
#include "app/reload.h"
#include "ctlproto/words.h"
#include "input/admin_input.h"
#include "input/commands.h"
#include "protocol/outbound.h"
#include "runtime/files.h"
#include "runtime/mem.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"

ctlState g_ctl;

namespace {

constexpr unsigned kSocketMask = 0177;       // the socket file is made 0600
constexpr unsigned kGroupSocketMask = 0117;  // ... or 0660 for the control group
// Room an answer line needs before it is written: a line of the longest kind,
// which is also what followed lines always leave free (ctlqueue::offer).
constexpr int kAnswerRoom = kCtlLineMax;
// Lines of long answers written per client per pass, so that a fast reader
// of 10,000 servers' lines shares the pass with everything else.
constexpr int kJobLinesPerPass = 2048;

void notOpened(const char* what, const char* why) {
  log("**Control socket not opened: %s: %s\n", what, why);
}

// Makes a missing folder 0700, with its missing parents (the folder under
// home may be the first of its kind there). False, said, when that fails.
bool makeMissing(const char* dir) {
  char part[kCtlPathSize];
  strzcpy(part, dir, kCtlPathSize - 1);
  for (char* slash = strchr(part + 1, '/');; slash = strchr(slash + 1, '/')) {
    if (slash) *slash = 0;
    trPathInfo info;
    if (trPathStat(part, &info) == 0 && info.kind == kPathNone && trMakeDir(part, 0700) != 0) {
      notOpened(dir, trErrorText(trLastError()));
      return false;
    }
    if (!slash) return true;
    *slash = '/';
  }
}

// The first fit folder of the shared list into g_ctl.path. One that another
// user has taken (their folder or link in /tmp) is passed over, and said
// once, so that nobody can leave the console without its socket; the user's
// own folder left open to others is the user's to mend and ends the search.
bool chooseDefault(unsigned port) {
  char dirs[kCtlDirs][kCtlPathSize];
  unsigned uid = trUid();
  int n = ctlDirs(ctlEnvNow(), uid, dirs);
  const char* taken = nullptr;
  const char* why = nullptr;
  for (int i = 0; i < n; i++) {
    trPathInfo info;
    if (!makeMissing(dirs[i])) return false;
    if (trPathStat(dirs[i], &info) != 0) {
      notOpened(dirs[i], trErrorText(trLastError()));
      return false;
    }
    const char* problem = ctlDirProblem(info, uid);
    if (problem == nullptr) {
      if (taken) log("**Control socket in %s instead: %s: %s\n", dirs[i], taken, why);
      return ctlSocketPath(dirs[i], port, g_ctl.path);
    }
    if (!ctlDirSquattable(info, uid)) {
      notOpened(dirs[i], problem);
      return false;
    }
    if (!taken) {
      taken = dirs[i];
      why = problem;
    }
  }
  if (taken) notOpened(taken, why);
  return false;
}

// The socket's path into g_ctl.path from the setting; false when there is
// to be none (off, or no folder is fit).
bool choosePath(const char* setting, unsigned port) {
  if (setting[0] != 0) {
    if (static_cast<int>(strlen(setting)) >= kCtlPathSize) {
      notOpened(setting, "the path is too long for a socket");
      return false;
    }
    strzcpy(g_ctl.path, setting, kCtlPathSize - 1);
    return true;
  }
  return chooseDefault(port);
}

// A socket file already at the path is removed when nobody answers on it
// (left by a console that was killed); one that answers belongs to a running
// console and anything that is no socket is not ours to remove.
bool clearLeftover(const char* path) {
  trPathInfo info;
  if (trPathStat(path, &info) != 0) {
    notOpened(path, trErrorText(trLastError()));
    return false;
  }
  if (info.kind == kPathNone) return true;
  if (info.kind != kPathSocket) {
    notOpened(path, "something that is no socket is in the way");
    return false;
  }
  trsock probe;
  probe.handle = trUnixSocket();
  if (probe.valid() && trUnixConnect(probe.handle, path) == 0) {
    notOpened(path, "another console answers on it");
    return false;
  }
  trUnlink(path);
  return true;
}

// With controlgroup=: whether the group exists and can reach the socket at
// path, through folders nobody but their owners can fill; said when not.
bool groupCanReach(const char* path) {
  const ctlAccess& a = g_ctlAccess;
  if (!a.groupKnown) {
    char why[kUserNameChars + 40];
    trf(why, sizeof why, "the group %s does not exist", a.group);
    notOpened(path, why);
    return false;
  }
  if (path[0] != '/') {
    notOpened(path, "controlgroup= needs controlsocket= with a full path");
    return false;
  }
  // Every folder from "/" to the socket's own, each name ending at a slash.
  constexpr int kDepth = 32;
  char names[kDepth][kCtlPathSize];
  const char* nameOf[kDepth];
  trPathInfo dirs[kDepth];
  int count = 0;
  for (const char* slash = path; (slash = strchr(slash, '/')) != nullptr && count < kDepth;
       slash++) {
    strzcpy(names[count], path, slash == path ? 1 : static_cast<int>(slash - path));
    nameOf[count] = names[count];
    if (trPathStat(names[count], &dirs[count]) != 0) {
      notOpened(names[count], trErrorText(trLastError()));
      return false;
    }
    count++;
  }
  char why[kCtlPathSize + 80];
  if (const char* problem =
          ctlGroupPathProblem(dirs, nameOf, count, a.gid, trUid(), why, sizeof why)) {
    notOpened(path, problem);
    return false;
  }
  return true;
}

bool listenAt(const char* path) {
  bool group = g_ctlAccess.group[0] != 0;
  if (group && !groupCanReach(path)) return false;
  int h = trUnixSocket();
  bool bound = h >= 0 && trUnixBind(h, path, group ? kGroupSocketMask : kSocketMask) == 0;
  if (!bound || (group && trChangeGroup(path, g_ctlAccess.gid) != 0) ||
      trListen(h, kCtlClients) != 0) {
    int err = trLastError();
    if (bound) trUnlink(path);  // a socket nobody serves is no use to anyone
    notOpened(path, trErrorText(err));
    if (h >= 0) trClosesocket(h);
    return false;
  }
  trNonblock(h);
  trPathInfo info;
  trPathStat(path, &info);
  g_ctl.dev = info.dev;
  g_ctl.ino = info.ino;
  g_ctl.listener = h;
  return true;
}

// ---- clients ----

void sendLine(ctlClient* c, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

void sendLine(ctlClient* c, const char* fmt, ...) {
  char line[kCtlLineMax];
  va_list ap;
  va_start(ap, fmt);
  int len = vtrf(line, sizeof line, fmt, ap);
  va_end(ap);
  if (len > static_cast<int>(sizeof line) - 1) len = static_cast<int>(sizeof line) - 1;
  // Answers echo what the client or a server named: no control byte of
  // theirs goes out, as in pushLines.
  for (int i = 0; i < len - 1; i++) {
    unsigned char b = static_cast<unsigned char>(line[i]);
    if (b < 32 || b == 127) line[i] = '?';
  }
  c->out.push(line, len);
}

void sendOk(ctlClient* c) { sendLine(c, "%s\n", kAnsOk); }

// "error TEXT": the request is refused, and why.
void sendError(ctlClient* c, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

void sendError(ctlClient* c, const char* fmt, ...) {
  char why[kCtlLineMax];
  va_list ap;
  va_start(ap, fmt);
  vtrf(why, sizeof why, fmt, ap);
  va_end(ap);
  sendLine(c, "%s %s\n", kAnsError, why);
}

// Says why to a connection that is not admitted, then closes it; it is not
// a client, so the line goes out at once or not at all.
void refuse(int fd, const char* why) {
  char line[128];
  trf(line, sizeof line, "%s %s\n", kAnsError, why);
  trSendNow(fd, line, static_cast<unsigned>(strlen(line)));
  trClosesocket(fd);
}

// Whether c follows lines as they are logged (alerts come their own way).
bool followsLines(const ctlClient& c) {
  return c.followAll || c.followConsole || c.follow || c.followTags[0];
}

void updateFollowing() {
  g_ctl.following = false;
  for (const ctlClient& c : g_ctl.clients) {
    if (c.fd >= 0 && followsLines(c)) g_ctl.following = true;
  }
}

void stopFollowing(ctlClient* c) {
  c->followAll = c->followConsole = c->followAlerts = false;
  c->follow = nullptr;
  c->followTags[0] = 0;
  updateFollowing();
}

void closeClient(ctlClient* c) {
  g_ctl.droppedLines += c->out.droppedTotal();
  trClosesocket(c->fd);
  c->fd = -1;
  updateFollowing();
}

int toSocket(void* ctx, const char* data, int len) {
  int n = trSendNow(*static_cast<int*>(ctx), data, static_cast<unsigned>(len));
  if (n >= 0) return n;
  return trWouldBlock() ? 0 : -1;
}

// Pushes text as lines, each behind prefix; control bytes a stranger may
// have put into a message are shown as '?', never passed to a terminal.
// Followed lines are offered (lost when the client is behind); answers pushed.
void pushLines(ctlClient* c, const char* prefix, const char* text, bool followed = false) {
  char line[kCtlLineMax];
  int plen = trf(line, sizeof line, "%s", prefix);
  while (*text) {
    int len = plen;
    for (; *text && *text != '\n' && len < kCtlLineMax - 1; text++) {
      unsigned char b = static_cast<unsigned char>(*text);
      line[len++] = b < 32 || b == 127 ? '?' : static_cast<char>(b);
    }
    if (*text == '\n') text++;
    line[len++] = '\n';
    if (followed) {
      c->out.offer(line, len);
    } else {
      c->out.push(line, len);
    }
  }
}

// A server's text as "HEAD IPPORT ->TEXT" lines (HEAD may be empty): a text
// with line feeds in it goes out as several lines, and each carries the
// server and the arrow, so that every part stays the server's.
void pushServerLines(ctlClient* c, const char* head, const serverRec* from, const char* msg) {
  const char* arrow = kAnsArrow + 1;  // the logged message starts "->", without the blank
  size_t arrowLen = strlen(arrow);
  const char* text = strncmp(msg, arrow, arrowLen) == 0 ? msg + arrowLen : msg;
  char prefix[sizeof kAnsAlert + kAlertNameChars + sizeof from->ipPort + sizeof kAnsArrow + 2];
  trf(prefix, sizeof prefix, "%s%s%s", head, from->ipPort, kAnsArrow);
  pushLines(c, prefix, text, true);
}

}  // namespace

const char* linkWord(const serverRec* r) {
  switch (linkState(r)) {
    case kLinkMismatch:
      return kStateMismatch;
    case kLinkNoAnswer:
      return kStateNoAnswer;
    case kLinkConfirmed:
      return kStateConfirmed;
    case kLinkUp:
      return kStateUp;
    case kLinkUnreachable:
      return kStateUnreachable;
    default:
      return kStateWaiting;
  }
}

namespace {

// ---- requests ----

// Splits "WORD REST": the word ends at the first blank, rest is after it.
char* splitWord(char* line) {
  char* space = strchr(line, ' ');
  if (!space) return line + strlen(line);
  *space = 0;
  return space + 1;
}

void runTyped(ctlClient* c, int sock, uint32_t tick, uint32_t mono, const char* line) {
  if (strlen(line) > static_cast<size_t>(kLineChars)) {
    sendError(c, "the line is longer than %d characters", kLineChars);
    return;
  }
  g_ctl.doer = c;
  processInputLine(sock, tick, mono, line);
  g_ctl.doer = nullptr;
  sendOk(c);
}

// Adds the names of tags to list (kTagListChars + 1 bytes); false after an
// error line naming a bad one.
bool addTags(ctlClient* c, char* list, const char* tags) {
  char bad[kTagChars + 1];
  const char* why = "";
  if (tagListAdd(list, tags, bad, sizeof bad, &why)) return true;
  sendError(c, "bad tag \"%s\": %s", bad, why);
  return false;
}

// Whether some server has one of the tags in list.
bool someServerTagged(const char* list) {
  for (int i = 0; i < flServer.nodes(); i++) {
    if (tagListsMeet(serverAt(i)->tags, list)) return true;
  }
  return false;
}

// Takes the tags of an "@TAG[,TAG...]" target (tags: its list) as what c's
// next long answer is limited to. False after an error line when a tag is
// bad or no server has any of them.
bool takeJobTags(ctlClient* c, const char* tags) {
  c->jobTags[0] = 0;
  if (!addTags(c, c->jobTags, tags)) return false;
  if (someServerTagged(c->jobTags)) return true;
  sendError(c, "no server has the tag %s", tags);
  c->jobTags[0] = 0;
  return false;
}

void sendTo(const ctlClient* c, int sock, uint32_t tick, uint32_t mono, serverRec* r,
            const char* command) {
  sendCommand(sock, tick, mono, r, command);
  if (c->member) return;  // a member's request is on record once, whatever it reached
  // In the file, as a typed command is.
  logCommand(r, kSourceControl, static_cast<long>(c->uid), "Control: to %s: %s\n", r->ipPort,
             command);
}

void startJob(ctlClient* c, ctlJob job) {
  c->job = job;
  c->next = 0;
}

void sendRequest(ctlClient* c, int sock, uint32_t tick, uint32_t mono, char* args) {
  const char* command = splitWord(args);
  // An empty line is a line: it asks the server for a new challenge.
  if (args[0] == 0) {
    sendError(c, "usage: send TARGET LINE");
  } else if (strlen(command) > static_cast<size_t>(kLineChars)) {
    sendError(c, "the command is longer than %d characters", kLineChars);
  } else if (strcmp(args, kTargetAll) == 0) {
    // Every server gets the command now; the "sent" lines follow as read.
    for (int i = 0; i < flServer.nodes(); i++) sendTo(c, sock, tick, mono, serverAt(i), command);
    startJob(c, kJobSent);
  } else if (const char* tags = targetTags(args)) {
    if (!takeJobTags(c, tags)) return;
    for (int i = 0; i < flServer.nodes(); i++) {
      if (tagListsMeet(serverAt(i)->tags, c->jobTags)) sendTo(c, sock, tick, mono, serverAt(i), command);
    }
    startJob(c, kJobSent);
  } else if (serverRec* r = findServer(args)) {
    sendTo(c, sock, tick, mono, r, command);
    sendLine(c, "%s %s %s\n", kAnsSent, r->ipPort, linkWord(r));
    sendOk(c);
  } else {
    sendError(c, "unknown server %s", args);
  }
}

// The "status" line of r, a tagged server's tags closing it: ", tags eu,pvp".
void statusWithTags(ctlClient* c, const serverRec* r, uint32_t mono) {
  char line[512 + kTagListChars];
  statusLine(r, mono, line, 512);
  int len = static_cast<int>(strlen(line));
  if (r->tags[0] && len > 0 && line[len - 1] == '\n') {
    trf(line + len - 1, static_cast<int>(sizeof line) - len + 1, "%s%s\n", kAnsStatusTags, r->tags);
  }
  pushLines(c, "", line);
}

// The job's line for server r.
void jobLine(ctlClient* c, const serverRec* r, uint32_t mono) {
  switch (c->job) {
    case kJobStatus:
      statusWithTags(c, r, mono);
      break;
    case kJobServers:
      sendLine(c, "%s %s %s\n", kAnsServer, r->ipPort, linkWord(r));
      break;
    case kJobTags:
      sendLine(c, "%s %s %s\n", kAnsTags, r->ipPort, r->tags);
      break;
    default:
      sendLine(c, "%s %s %s\n", kAnsSent, r->ipPort, linkWord(r));
  }
}

// "status" and "tags" of one TARGET: every server ("" or "*"), the tagged
// ones ("@TAGS") as long answers, or one server at once.
void perServerRequest(ctlClient* c, ctlJob job, uint32_t mono, const char* target) {
  c->jobTags[0] = 0;
  if (target[0] == 0 || strcmp(target, kTargetAll) == 0) {
    startJob(c, job);
  } else if (const char* tags = targetTags(target)) {
    if (takeJobTags(c, tags)) startJob(c, job);
  } else if (const serverRec* r = findServer(target)) {
    c->job = job;  // for jobLine: which line
    jobLine(c, r, mono);
    c->job = kJobNone;
    sendOk(c);
  } else {
    sendError(c, "unknown server %s", target);
  }
}

// The next line of a metrics answer, or its "ok" after the last.
void metricsJobLine(ctlClient* c) {
  char line[kMetricsLineMax + 1];
  int n = metricsLine(&c->cursor, c->figures, line);
  if (n > 0) {
    line[n] = 0;  // the generator gives a length, pushLines a string
    pushLines(c, "", line);
  } else {
    c->job = kJobNone;
    sendOk(c);
  }
}

// Where the "top" answer of c is kept: its slot's, or the spare one for a
// client outside the table (controlFeed's).
int topSlot(const ctlClient* c) {
  uintptr_t at = reinterpret_cast<uintptr_t>(c);
  uintptr_t first = reinterpret_cast<uintptr_t>(g_ctl.clients);
  if (at < first || at >= first + sizeof g_ctl.clients) return kCtlClients;
  return static_cast<int>((at - first) / sizeof(ctlClient));
}

// The next line of a "top" answer, or its "ok" after the last.
void topJobLine(ctlClient* c, uint32_t mono) {
  char line[kTopLineChars];
  if (topLine(topSlot(c), &c->next, mono, line) > 0) {
    pushLines(c, "", line);
  } else {
    c->job = kJobNone;
    sendOk(c);
  }
}

// Writes the client's long answer on while its queue has room; "ok" ends it.
// The count of servers is read at every step: a line typed meanwhile may
// have added one.
void runJob(ctlClient* c, uint32_t mono, int* budget) {
  for (; c->job != kJobNone && c->out.room() >= kAnswerRoom && *budget > 0; --*budget) {
    if (c->job == kJobMetrics) {
      metricsJobLine(c);
      continue;
    }
    if (c->job == kJobTop) {
      topJobLine(c, mono);
      continue;
    }
    if (c->next >= flServer.nodes()) {
      c->job = kJobNone;
      c->jobTags[0] = 0;
      sendOk(c);
      return;
    }
    const serverRec* r = serverAt(c->next++);
    if (c->jobTags[0] && !tagListsMeet(r->tags, c->jobTags)) {
      ++*budget;  // a server left out costs no line
      continue;
    }
    jobLine(c, r, mono);
  }
}

// Adds the tags of an "@TAG[,TAG...]" target (tags: its list) to what c
// follows: another follow of tags widens the set, up to a server's worth of
// tags. False after an error line when a tag is bad or no server has any
// of them.
bool followTags(ctlClient* c, const char* tags) {
  char wanted[kTagListChars + 1] = "";
  if (!addTags(c, wanted, tags)) return false;
  if (someServerTagged(wanted)) return addTags(c, c->followTags, wanted);
  sendError(c, "no server has the tag %s", tags);
  return false;
}

void followRequest(ctlClient* c, const char* target) {
  if (strcmp(target, kTargetAll) == 0) {
    c->followAll = true;
  } else if (strcmp(target, kFollowConsole) == 0) {
    c->followConsole = true;
  } else if (strcmp(target, kFollowAlerts) == 0) {
    c->followAlerts = true;
  } else if (const char* tags = targetTags(target)) {
    if (!followTags(c, tags)) return;
  } else if (const serverRec* r = findServer(target)) {
    c->follow = r;
  } else {
    sendError(c, "unknown server %s", target);
    return;
  }
  updateFollowing();
  sendOk(c);
}

// What a request's handler gets: the client, the pass's socket and times,
// and the words after the request's own.
struct requestCall {
  ctlClient* c;
  int sock;
  uint32_t tick, mono;
  char* args;
};

void doRequest(const requestCall& q) { runTyped(q.c, q.sock, q.tick, q.mono, q.args); }
void sendWords(const requestCall& q) { sendRequest(q.c, q.sock, q.tick, q.mono, q.args); }
void statusRequest(const requestCall& q) { perServerRequest(q.c, kJobStatus, q.mono, q.args); }
void tagsRequest(const requestCall& q) { perServerRequest(q.c, kJobTags, q.mono, q.args); }
void serversRequest(const requestCall& q) {
  sendLine(q.c, "%s %s\n", kAnsMyaddr, g_myaddr);
  sendLine(q.c, "%s %s\n", kAnsName, g_consoleLabel);
  startJob(q.c, kJobServers);
}
void followWords(const requestCall& q) { followRequest(q.c, q.args); }
void unfollowRequest(const requestCall& q) {
  stopFollowing(q.c);
  sendOk(q.c);
}
void metricsRequest(const requestCall& q) {
  q.c->cursor = metricsCursor();
  q.c->figures = gatherFigures(true, q.mono);
  startJob(q.c, kJobMetrics);
}
void topRequest(const requestCall& q) {
  char why[128];
  if (topBegin(topSlot(q.c), q.args, q.mono, why, sizeof why)) {
    startJob(q.c, kJobTop);
  } else {
    sendError(q.c, "%s", why);
  }
}
void exitRequest(const requestCall& q) {
  g_exit = 1;
  sendOk(q.c);
}
void reloadRequest(const requestCall& q) {
  const reloadResult& r = reloadConfiguration(q.sock, q.tick, q.mono, static_cast<long>(q.c->uid));
  if (!r.applied) {
    for (int i = 0; i < r.errors.count && i < kConfigErrorsMax; i++) {
      sendLine(q.c, "%s %s\n", kAnsInvalid, r.errors.text[i]);
    }
    sendError(q.c, "configuration refused, nothing changed: %d error%s", r.errors.count,
              r.errors.count == 1 ? "" : "s");
    return;
  }
  sendLine(q.c, "%s %d %d %d %d\n", kAnsReloaded, r.counts.added, r.counts.removed,
           r.counts.changed, r.counts.kept);
  for (int i = 0; i < r.restarts; i++) sendLine(q.c, "%s %s\n", kAnsRestart, r.restart[i]);
  sendOk(q.c);
}

// The requests, by their words in ctlproto/words.h, with what each needs of
// a member of the control group (app/ctlaccess.h).
struct requestWord {
  const char* word;
  ctlRight right;
  void (*run)(const requestCall&);
};
const requestWord kRequests[] = {
    {kReqDo, kRightOwner, doRequest},
    {kReqSend, kRightSend, sendWords},
    {kReqStatus, kRightRead, statusRequest},
    {kReqTags, kRightRead, tagsRequest},
    {kReqServers, kRightRead, serversRequest},
    {kReqFollow, kRightRead, followWords},
    {kReqUnfollow, kRightRead, unfollowRequest},
    {kReqMetrics, kRightRead, metricsRequest},
    {kReqExit, kRightOwner, exitRequest},
    {kReqReload, kRightOwner, reloadRequest},
    {kReqTop, kRightRead, topRequest},
};

// Why member c may not make request w with args (for send, "TARGET LINE"),
// into why; null when it may.
const char* memberDenied(const ctlClient* c, const requestWord& w, const char* args, char* why,
                         int size) {
  if (w.right == kRightRead) return nullptr;
  if (w.right == kRightOwner) {
    trf(why, size, "%s is the console owner's alone", w.word);
    return why;
  }
  const char* space = strchr(args, ' ');
  const char* command = space ? space + 1 : "";
  const ctlAccess& a = g_ctlAccess;
  if (allowRuleFor(a.rules, a.ruleCount, c->uid, c->groups, c->groupCount, command) >= 0) {
    return nullptr;
  }
  trf(why, size, "no allow= rule for %s or a group of theirs matches \"%.200s\"", c->user, command);
  return why;
}

void request(ctlClient* c, int sock, uint32_t tick, uint32_t mono, char* line) {
  size_t len = strcspn(line, " ");
  const requestWord* w = nullptr;
  for (const requestWord& r : kRequests) {
    if (strlen(r.word) == len && strncmp(line, r.word, len) == 0) w = &r;
  }
  if (c->member) {
    // On record before it runs: a refusal as much as what it sends.
    char why[400];
    const char* denied = w ? memberDenied(c, *w, line[len] ? line + len + 1 : "", why, sizeof why)
                           : "unknown request";
    recordMemberRequest(c->user, c->uid, line, denied);
    if (denied && w) {
      sendError(c, "%s: %s", kErrDenied, denied);
      return;
    }
  } else {
    countCtlRequest(c->user, true);
  }
  requestCall q = {c, sock, tick, mono, splitWord(line)};
  if (w) return w->run(q);
  sendError(c, "unknown request \"%.64s\"", line);
}

// A client waits with its further requests while a long answer is written
// or its queue is short of room for an answer: one that does not read what
// it asked for stops being served, and costs nothing.
bool busy(const ctlClient* c) { return c->job != kJobNone || c->out.room() < kAnswerRoom; }

// Runs the client's finished request lines from the bytes read, as far as
// it is not busy; the rest waits in pend.
void takeBytes(ctlClient* c, int sock, uint32_t tick, uint32_t mono) {
  while (c->pendOff < c->pendLen && !busy(c)) {
    char b = c->pend[c->pendOff++];
    if (b != '\n') {
      if (c->inLen < kCtlRequestChars) {
        c->in[c->inLen++] = b;
      } else {
        c->overlong = true;
      }
      continue;
    }
    if (c->inLen > 0 && c->in[c->inLen - 1] == '\r') c->inLen--;
    c->in[c->inLen] = 0;
    if (c->overlong) {
      sendError(c, "the request is longer than %d characters", kCtlRequestChars);
    } else {
      request(c, sock, tick, mono, c->in);
    }
    c->inLen = 0;
    c->overlong = false;
  }
}

void readClient(ctlClient* c, int sock, uint32_t tick, uint32_t mono) {
  takeBytes(c, sock, tick, mono);
  if (c->pendOff < c->pendLen || busy(c)) return;
  int n = trRecv(c->fd, c->pend, sizeof c->pend);
  if (n > 0) {
    c->heard = mono;
    c->pendOff = 0;
    c->pendLen = n;
    takeBytes(c, sock, tick, mono);
  } else if (n == 0 || !trWouldBlock()) {
    // Its side has ended: what it asked for still goes out, then it is closed.
    c->closing = true;
    stopFollowing(c);
  }
}

// A client that asks nothing, follows nothing and has nothing coming.
bool idle(const ctlClient& c, uint32_t mono) {
  return !followsLines(c) && !c.followAlerts && c.job == kJobNone && c.out.empty() &&
         c.pendOff == c.pendLen && mono - c.heard >= kCtlIdleMs;
}

// Writes what waits for the client, long answers as it reads them. False
// when the client is gone.
bool writeClient(ctlClient* c, uint32_t mono, ctlSink sink, void* ctx) {
  int budget = kJobLinesPerPass;
  for (;;) {
    runJob(c, mono, &budget);
    if (!c->out.drain(sink, ctx)) return false;
    if (c->job == kJobNone || budget == 0 || c->out.room() < kAnswerRoom) return true;
  }
}

// Admits one waiting connection; false when none was waiting.
bool admitClient(uint32_t mono) {
  int fd = trUnixAccept(g_ctl.listener);
  if (fd < 0) return false;
  unsigned uid = 0;
  bool known = trPeerUid(fd, &uid) == 0;
  // Looked up for every connection: a member taken out of the group is out
  // at the next one.
  char user[kUserNameChars + 1] = "";
  static unsigned groups[kUserGroupsMax];
  int groupCount = 0;
  ctlRole role = known ? ctlPeerRole(uid, user, groups, &groupCount) : kRoleNone;
  if (role == kRoleNone) {
    refuse(fd, g_ctlAccess.group[0] ? "refused: neither the console's user nor of its group"
                                    : "refused: not the console's user");
    if (known) {
      char user[16];
      trf(user, sizeof user, "%u", uid);
      logBounded(kCtlOtherUser, mono, user);
    } else {
      logBounded(kCtlUnverified, mono);
    }
    return true;
  }
  // The owner always finds a slot: members may hold all but one.
  int members = 0;
  for (const ctlClient& c : g_ctl.clients) members += c.fd >= 0 && c.member;
  if (role == kRoleMember && members >= kCtlClients - 1) {
    refuse(fd, "too many control clients");
    return true;
  }
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd >= 0) continue;
    c = ctlClient();
    c.fd = fd;
    c.heard = mono;
    c.uid = uid;
    c.member = role == kRoleMember;
    memcpy(c.user, user, sizeof c.user);
    memcpy(c.groups, groups, sizeof groups[0] * static_cast<size_t>(groupCount));
    c.groupCount = groupCount;
    return true;
  }
  refuse(fd, "too many control clients");
  return true;
}

}  // namespace

void controlOpen(unsigned port) {
  char setting[kNameChars + 1];
  strzcpy(setting, g_ctlsocket, kNameChars);
  strim(setting, " \t");
  if (strcasecmp(setting, "off") == 0) return;
  if (strcasecmp(setting, "on") == 0) setting[0] = 0;
  if (choosePath(setting, port) && clearLeftover(g_ctl.path)) listenAt(g_ctl.path);
}

void controlClose() {
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd < 0) continue;
    c.out.drain(toSocket, &c.fd);  // what still fits goes out: the last lines, an "ok"
    closeClient(&c);
  }
  if (g_ctl.listener < 0) return;
  trClosesocket(g_ctl.listener);
  g_ctl.listener = -1;
  trPathInfo info;
  if (trPathStat(g_ctl.path, &info) == 0 && info.kind == kPathSocket && info.dev == g_ctl.dev &&
      info.ino == g_ctl.ino) {
    trUnlink(g_ctl.path);
  }
}

void controlPass(int sock, uint32_t tick, uint32_t mono) {
  if (g_ctl.listener < 0) return;
  if (g_ctl.knocked) {
    for (int i = 0; i < kCtlClients && admitClient(mono); i++) {
    }
    g_ctl.knocked = false;
  }
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd >= 0 && !c.closing) readClient(&c, sock, tick, mono);
    if (c.fd < 0) continue;
    bool done = c.closing && c.job == kJobNone && c.out.empty();
    if (!writeClient(&c, mono, toSocket, &c.fd) || done || idle(c, mono)) closeClient(&c);
  }
}

int controlWaitFds(int* fds, int room) {
  int n = 0;
  if (g_ctl.listener < 0 || room <= 0) return 0;
  fds[n++] = g_ctl.listener;
  for (const ctlClient& c : g_ctl.clients) {
    // A busy client's requests wait unread: its socket would only wake the
    // wait at once, pass after pass.
    if (c.fd >= 0 && !c.closing && c.pendOff == c.pendLen && !busy(&c) && n < room) {
      fds[n++] = c.fd;
    }
  }
  return n;
}

void controlNoteWait(const int* ready, int n) {
  if (g_ctl.listener >= 0 && n > 0 && ready[0] != 0) g_ctl.knocked = true;
}

namespace {

// A server line as followers get it: where reception kept the server's own
// text (l.own), "->" and that text as UTF-8 (utf8Clean: no byte a terminal
// or a JSON reader would trip on) instead of the screen's 0xFA form; else
// the screen's text as it is.
const char* followerText(const line& l) {
  if (l.own == nullptr) return l.text;
  static char text[3 * kMaxDatagram + 4];
  int len = static_cast<int>(strlen(l.own));
  int n = 2 + utf8Clean(l.own, len, text + 2, sizeof text - 4);  // fits: 3 bytes a byte
  text[0] = '-';
  text[1] = '>';
  if (n == 2 || text[n - 1] != '\n') text[n++] = '\n';
  text[n] = 0;
  return text;
}

}  // namespace

void controlPublish(const line& l) {
  if (!g_ctl.following && !g_ctl.doer) return;
  const serverRec* from = l.kind == kJournalServer ? l.server : nullptr;
  const char* msg = from ? followerText(l) : l.text;
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd < 0) continue;
    if (from && (c.followAll || c.follow == from ||
                 (c.followTags[0] && tagListsMeet(from->tags, c.followTags)))) {
      pushServerLines(&c, "", from, msg);
    } else if (!from && (c.followConsole || &c == g_ctl.doer)) {
      char prefix[sizeof kAnsConsole + 1];
      trf(prefix, sizeof prefix, "%s ", kAnsConsole);
      pushLines(&c, prefix, msg, &c != g_ctl.doer);
    }
  }
}

void controlFeed(ctlClient* c, int sock, uint32_t tick, uint32_t mono, const char* data, int n,
                 ctlSink sink, void* ctx) {
  for (int at = 0;;) {
    if (c->pendOff == c->pendLen && at < n) {
      int k = n - at < kCtlReadChars ? n - at : kCtlReadChars;
      memcpy(c->pend, data + at, static_cast<size_t>(k));
      c->pendOff = 0;
      c->pendLen = k;
      at += k;
    }
    takeBytes(c, sock, tick, mono);
    if (!writeClient(c, mono, sink, ctx)) return;
    if (at == n && c->pendOff == c->pendLen && c->job == kJobNone && c->out.empty()) return;
  }
}

void controlPublishAlerts(const line& l) {
  const char* msg = followerText(l);
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd < 0 || !c.followAlerts) continue;
    for (int i = 0; i < l.alertCount; i++) {
      char head[sizeof kAnsAlert + kAlertNameChars + 2];
      trf(head, sizeof head, "%s %s ", kAnsAlert, l.alerts[i]);
      pushServerLines(&c, head, l.server, msg);
    }
  }
}

void controlServersMoved(const serverRec* oldBase, int m, const int* newOf,
                         const serverRec* newBase, int n) {
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd < 0) continue;
    if (c.follow) {
      int i = static_cast<int>(c.follow - oldBase);
      c.follow = i >= 0 && i < m && newOf[i] >= 0 ? newBase + newOf[i] : nullptr;
    }
    // A long answer being written goes on from the first record not yet
    // written that is still there, in the new list's order.
    if (c.job != kJobNone && c.job != kJobMetrics) {
      int next = n;
      for (int i = c.next; i < m && next == n; i++) {
        if (newOf[i] >= 0) next = newOf[i];
      }
      c.next = next;
    }
  }
  updateFollowing();
}

void resetControl() {
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd >= 0) trClosesocket(c.fd);
    c.fd = -1;
  }
  if (g_ctl.listener >= 0) trClosesocket(g_ctl.listener);
  g_ctl.listener = -1;
  g_ctl.path[0] = 0;
  g_ctl.dev = g_ctl.ino = 0;
  g_ctl.doer = nullptr;
  g_ctl.following = false;
  g_ctl.knocked = true;
}
