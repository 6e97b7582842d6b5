// The control socket: opening it safely, the clients, the request lines and
// the lines offered to followers.
#include "app/control.h"

#include <strings.h>

#include <cstdarg>
#include <cstring>

#include "app/bounded.h"
#include "app/globals.h"
#include "app/log.h"
#include "input/admin_input.h"
#include "input/commands.h"
#include "protocol/outbound.h"
#include "runtime/files.h"
#include "runtime/mem.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"

namespace {

constexpr unsigned kSocketMask = 0177;  // the socket file is made 0600
constexpr int kReadPerPass = 4096;      // request bytes taken from a client per pass

void notOpened(const char* what, const char* why) {
  log("**Control socket not opened: %s: %s\n", what, why);
}

// Makes the default folder when it is missing and checks that it is private.
bool privateDir(const char* dir, unsigned uid) {
  trPathInfo info;
  if (trPathStat(dir, &info) == 0 && info.kind == kPathNone) {
    if (trMakeDir(dir, 0700) != 0) {
      notOpened(dir, trErrorText(trLastError()));
      return false;
    }
  }
  if (trPathStat(dir, &info) != 0) {
    notOpened(dir, trErrorText(trLastError()));
    return false;
  }
  const char* problem = ctlDirProblem(info, uid);
  if (problem) notOpened(dir, problem);
  return problem == nullptr;
}

// The socket's path into g_ctl.path from the setting; false when there is
// to be none (off, or the folder is not fit).
bool choosePath(const char* setting, unsigned port) {
  if (setting[0] != 0) {
    if (static_cast<int>(strlen(setting)) >= kCtlPathSize) {
      notOpened(setting, "the path is too long for a socket");
      return false;
    }
    strzcpy(g_ctl.path, setting, kCtlPathSize - 1);
    return true;
  }
  char dirs[kCtlDirs][kCtlPathSize];
  unsigned uid = trUid();
  if (ctlDirs(trEnv("XDG_RUNTIME_DIR"), uid, dirs) == 0) return false;
  if (!privateDir(dirs[0], uid)) return false;
  return ctlSocketPath(dirs[0], port, g_ctl.path);
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

bool listenAt(const char* path) {
  int h = trUnixSocket();
  if (h < 0 || trUnixBind(h, path, kSocketMask) != 0 || trListen(h, kCtlClients) != 0) {
    notOpened(path, trErrorText(trLastError()));
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
  c->out.push(line, len);
}

void updateFollowing() {
  g_ctl.following = false;
  for (const ctlClient& c : g_ctl.clients) {
    if (c.fd >= 0 && (c.followAll || c.followConsole || c.follow || c.followTags[0])) {
      g_ctl.following = true;
    }
  }
}

void closeClient(ctlClient* c) {
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
void pushLines(ctlClient* c, const char* prefix, const char* text) {
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
    c->out.push(line, len);
  }
}

const char* linkWord(const serverRec* r) {
  switch (linkState(r)) {
    case kLinkMismatch:
      return "mismatch";
    case kLinkNoAnswer:
      return "noanswer";
    case kLinkUp:
      return "up";
    default:
      return "waiting";
  }
}

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
    sendLine(c, "error the line is longer than %d characters\n", kLineChars);
    return;
  }
  g_ctl.doer = c;
  processInputLine(sock, tick, mono, line);
  g_ctl.doer = nullptr;
  sendLine(c, "ok\n");
}

// Adds the names of tags to list (kTagListChars + 1 bytes); false after an
// error line naming a bad one.
bool addTags(ctlClient* c, char* list, const char* tags) {
  char bad[kTagChars + 1];
  const char* why = "";
  if (tagListAdd(list, tags, bad, sizeof bad, &why)) return true;
  sendLine(c, "error bad tag \"%s\": %s\n", bad, why);
  return false;
}

// The servers of an "@TAG[,TAG...]" target into found (flServer.nodes()
// entries at most); how many, or -1 after an error line to the client.
int taggedServers(ctlClient* c, const char* target, serverRec** found) {
  const char* tags = target + 1;
  char list[kTagListChars + 1] = "";
  if (!addTags(c, list, tags)) return -1;
  int n = 0;
  for (int i = 0; i < flServer.nodes(); i++) {
    if (tagListsMeet(serverAt(i)->tags, list)) found[n++] = serverAt(i);
  }
  if (n == 0) sendLine(c, "error no server has the tag %s\n", tags);
  return n > 0 ? n : -1;
}

// Runs each(r) for the servers of target ("" or "*" every one, "@TAGS" the
// tagged ones, else one by address) and ends with "ok", or answers an error.
template <typename F>
void forTarget(ctlClient* c, const char* target, F each) {
  if (target[0] == '@') {
    serverRec** found =
        static_cast<serverRec**>(trAlloc(sizeof(serverRec*) * (flServer.nodes() + 1), "ctl"));
    int n = found ? taggedServers(c, target, found) : -1;
    for (int i = 0; i < n; i++) each(found[i]);
    trFree(found, "ctl");
    if (n > 0) sendLine(c, "ok\n");
    return;
  }
  if (target[0] == 0 || strcmp(target, "*") == 0) {
    for (int i = 0; i < flServer.nodes(); i++) each(serverAt(i));
  } else if (serverRec* r = findServer(target)) {
    each(r);
  } else {
    sendLine(c, "error unknown server %s\n", target);
    return;
  }
  sendLine(c, "ok\n");
}

void sendTo(ctlClient* c, int sock, uint32_t tick, uint32_t mono, serverRec* r, const char* command) {
  sendCommand(sock, tick, mono, r, command);
  g_noscreenlog = 1;  // in the file, as a typed command is
  log("Control: to %s: %s\n", r->ipPort, command);
  g_noscreenlog = 0;
  sendLine(c, "sent %s %s\n", r->ipPort, linkWord(r));
}

void sendRequest(ctlClient* c, int sock, uint32_t tick, uint32_t mono, char* args) {
  const char* command = splitWord(args);
  // An empty line is a line: it asks the server for a new challenge.
  if (args[0] == 0) {
    sendLine(c, "error usage: send TARGET LINE\n");
  } else if (strlen(command) > static_cast<size_t>(kLineChars)) {
    sendLine(c, "error the command is longer than %d characters\n", kLineChars);
  } else if (strcmp(args, "*") == 0) {
    for (int i = 0; i < flServer.nodes(); i++) sendTo(c, sock, tick, mono, serverAt(i), command);
    sendLine(c, "ok\n");
  } else if (args[0] == '@') {
    forTarget(c, args, [=](serverRec* r) { sendTo(c, sock, tick, mono, r, command); });
  } else if (serverRec* r = findServer(args)) {
    sendTo(c, sock, tick, mono, r, command);
    sendLine(c, "ok\n");
  } else {
    sendLine(c, "error unknown server %s\n", args);
  }
}

void statusRequest(ctlClient* c, uint32_t mono, const char* target) {
  forTarget(c, target, [c, mono](const serverRec* r) {
    char line[512 + kTagListChars];
    statusLine(r, mono, line, 512);
    int len = static_cast<int>(strlen(line));
    // A tagged server's tags close its line: ", tags eu,pvp".
    if (r->tags[0] && len > 0 && line[len - 1] == '\n') {
      trf(line + len - 1, static_cast<int>(sizeof line) - len + 1, ", tags %s\n", r->tags);
    }
    pushLines(c, "", line);
  });
}

void tagsRequest(ctlClient* c, const char* target) {
  forTarget(c, target,
            [c](const serverRec* r) { sendLine(c, "tags %s %s\n", r->ipPort, r->tags); });
}

void serversRequest(ctlClient* c) {
  sendLine(c, "myaddr %s\n", g_myaddr);
  for (int i = 0; i < flServer.nodes(); i++) {
    sendLine(c, "server %s %s\n", serverAt(i)->ipPort, linkWord(serverAt(i)));
  }
  sendLine(c, "ok\n");
}

// Adds the tags of an "@TAG[,TAG...]" target to what c follows: another
// follow of tags widens the set, up to a server's worth of tags. False
// after an error line when a tag is bad or no server has any of them.
bool followTags(ctlClient* c, const char* target) {
  char wanted[kTagListChars + 1] = "";
  if (!addTags(c, wanted, target + 1)) return false;
  bool some = false;
  for (int i = 0; i < flServer.nodes() && !some; i++) {
    some = tagListsMeet(serverAt(i)->tags, wanted);
  }
  if (!some) sendLine(c, "error no server has the tag %s\n", target + 1);
  return some && addTags(c, c->followTags, wanted);
}

void followRequest(ctlClient* c, const char* target) {
  if (strcmp(target, "*") == 0) {
    c->followAll = true;
  } else if (strcmp(target, "console") == 0) {
    c->followConsole = true;
  } else if (strcmp(target, "alerts") == 0) {
    c->followAlerts = true;
  } else if (target[0] == '@') {
    if (!followTags(c, target)) return;
  } else if (const serverRec* r = findServer(target)) {
    c->follow = r;
  } else {
    sendLine(c, "error unknown server %s\n", target);
    return;
  }
  updateFollowing();
  sendLine(c, "ok\n");
}

void request(ctlClient* c, int sock, uint32_t tick, uint32_t mono, char* line) {
  char* args = splitWord(line);
  if (strcmp(line, "do") == 0) {
    runTyped(c, sock, tick, mono, args);
  } else if (strcmp(line, "send") == 0) {
    sendRequest(c, sock, tick, mono, args);
  } else if (strcmp(line, "status") == 0) {
    statusRequest(c, mono, args);
  } else if (strcmp(line, "tags") == 0) {
    tagsRequest(c, args);
  } else if (strcmp(line, "servers") == 0) {
    serversRequest(c);
  } else if (strcmp(line, "follow") == 0) {
    followRequest(c, args);
  } else if (strcmp(line, "unfollow") == 0) {
    c->followAll = c->followConsole = c->followAlerts = false;
    c->follow = nullptr;
    c->followTags[0] = 0;
    updateFollowing();
    sendLine(c, "ok\n");
  } else if (strcmp(line, "exit") == 0) {
    g_exit = 1;
    sendLine(c, "ok\n");
  } else {
    sendLine(c, "error unknown request \"%.64s\"\n", line);
  }
}

// Feeds received bytes into the client's line; runs each finished line.
void takeBytes(ctlClient* c, int sock, uint32_t tick, uint32_t mono, const char* data, int n) {
  for (int i = 0; i < n && c->fd >= 0; i++) {
    char b = data[i];
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
      sendLine(c, "error the request is longer than %d characters\n", kCtlRequestChars);
    } else {
      request(c, sock, tick, mono, c->in);
    }
    c->inLen = 0;
    c->overlong = false;
  }
}

void readClient(ctlClient* c, int sock, uint32_t tick, uint32_t mono) {
  char data[kReadPerPass];
  int n = trRecv(c->fd, data, sizeof data);
  if (n > 0) {
    takeBytes(c, sock, tick, mono, data, n);
  } else if (n == 0 || !trWouldBlock()) {
    // Its side has ended: what it asked for still goes out, then it is closed.
    c->closing = true;
    c->followAll = c->followConsole = c->followAlerts = false;
    c->follow = nullptr;
    c->followTags[0] = 0;
    updateFollowing();
  }
}

// Admits one waiting connection; false when none was waiting.
bool admitClient(uint32_t mono) {
  int fd = trUnixAccept(g_ctl.listener);
  if (fd < 0) return false;
  unsigned uid = 0;
  bool known = trPeerUid(fd, &uid) == 0;
  if (!controlPeerAllowed(known, uid, trUid())) {
    trSendNow(fd, "error refused: not the console's user\n", 38);
    trClosesocket(fd);
    if (known) {
      char user[16];
      trf(user, sizeof user, "%u", uid);
      logBounded(kCtlOtherUser, mono, user);
    } else {
      logBounded(kCtlUnverified, mono);
    }
    return true;
  }
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd >= 0) continue;
    c = ctlClient();
    c.fd = fd;
    return true;
  }
  trSendNow(fd, "error too many control clients\n", 31);
  trClosesocket(fd);
  return true;
}

}  // namespace

bool controlPeerAllowed(bool credsKnown, unsigned peerUid, unsigned ownUid) {
  return credsKnown && (peerUid == ownUid || peerUid == 0);
}

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
    if (!c.out.drain(toSocket, &c.fd) || (c.closing && c.out.empty())) closeClient(&c);
  }
}

int controlWaitFds(int* fds, int room) {
  int n = 0;
  if (g_ctl.listener < 0 || room <= 0) return 0;
  fds[n++] = g_ctl.listener;
  for (const ctlClient& c : g_ctl.clients) {
    if (c.fd >= 0 && !c.closing && n < room) fds[n++] = c.fd;
  }
  return n;
}

void controlNoteWait(const int* ready, int n) {
  if (g_ctl.listener >= 0 && n > 0 && ready[0] != 0) g_ctl.knocked = true;
}

void controlPublish(const serverRec* from, const char* msg) {
  if (!g_ctl.following && !g_ctl.doer) return;
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd < 0) continue;
    if (from && (c.followAll || c.follow == from ||
                 (c.followTags[0] && tagListsMeet(from->tags, c.followTags)))) {
      char prefix[sizeof from->ipPort + 1];
      trf(prefix, sizeof prefix, "%s ", from->ipPort);
      pushLines(&c, prefix, msg);
    } else if (!from && (c.followConsole || &c == g_ctl.doer)) {
      pushLines(&c, "console ", msg);
    }
  }
}

void controlPublishAlerts(const serverRec* from, const char* msg) {
  for (ctlClient& c : g_ctl.clients) {
    if (c.fd < 0 || !c.followAlerts) continue;
    for (int i = 0; i < g_alerts.lineMatches(); i++) {
      char prefix[kAlertNameChars + sizeof from->ipPort + 9];
      trf(prefix, sizeof prefix, "alert %s %s ", g_alerts.name(g_alerts.lineMatch(i)),
          from->ipPort);
      pushLines(&c, prefix, msg);
    }
  }
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
