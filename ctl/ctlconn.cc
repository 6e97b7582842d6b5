// Finding and talking to consoles over their control sockets.
#include "ctl/ctlconn.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ctl/answer.h"
#include "ctlproto/words.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/groups.h"
#include "runtime/keyboard.h"
#include "runtime/sock.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"

namespace {

// The private folders of this user that exist, warning about unfit ones.
int privateDirs(char dirs[kCtlDirs][kCtlPathSize]) {
  char all[kCtlDirs][kCtlPathSize];
  int n = ctlDirs(ctlEnvNow(), trUid(), all);
  int kept = 0;
  for (int i = 0; i < n; i++) {
    trPathInfo info;
    if (trPathStat(all[i], &info) != 0 || info.kind == kPathNone) continue;
    // A folder someone else made could hold a socket that only pretends
    // to be a console.
    const char* problem = ctlDirProblem(info, trUid());
    if (problem) {
      fprintf(stderr, "qzuconctl: not looking in %s: %s\n", all[i], problem);
      continue;
    }
    memcpy(dirs[kept++], all[i], kCtlPathSize);
  }
  return kept;
}

// Whether a console listens at path: a socket file a killed console left
// behind refuses the connection.
bool answers(const char* path) {
  trsock s;
  s.handle = trUnixSocket();
  return s.valid() && trUnixConnect(s.handle, path) == 0;
}

// One folder's listing being taken into found consoles.
struct scan {
  const char* dir;
  ctlFound* out;
};

// Takes a "*.sock" entry of the folder when a console answers on it.
void noteSocket(const char* name, void* ctx) {
  scan* s = static_cast<scan*>(ctx);
  size_t len = strlen(name);
  if (len < 6 || strcmp(name + len - 5, ".sock") != 0 || s->out->count == kCtlFoundMax) return;
  char* path = s->out->paths[s->out->count];
  if (trf(path, kCtlPathSize, "%s/%s", s->dir, name) >= kCtlPathSize) return;
  trPathInfo info;
  if (trPathStat(path, &info) == 0 && info.kind == kPathSocket && answers(path)) s->out->count++;
}

// Whether the socket at path and its folder are user uid's own, the folder
// closed to other writers and shared with a group of this process's alone
// (ctlNamedSocketTrusted).
bool servedInPlace(const char* path, unsigned uid) {
  // The path fits a socket address, since it was connected to: its folder fits too.
  char dir[kCtlPathSize];
  const char* slash = strrchr(path, '/');
  int len = !slash ? 0 : slash == path ? 1 : static_cast<int>(slash - path);
  strzcpy(dir, len ? path : ".", len ? len : 1);
  trPathInfo sock, folder;
  unsigned groups[kUserGroupsMax];
  int n = trOwnGroups(groups, kUserGroupsMax);
  return trPathStat(path, &sock) == 0 && trPathStat(dir, &folder) == 0 &&
         ctlNamedSocketTrusted(sock, folder, uid, groups, n);
}

}  // namespace

void findConsoles(ctlFound* out) {
  char dirs[kCtlDirs][kCtlPathSize];
  int n = privateDirs(dirs);
  for (int i = 0; i < n; i++) {
    scan s = {dirs[i], out};
    trDirNames(dirs[i], noteSocket, &s);
  }
}

bool portSocket(long port, char* path) {
  char dirs[kCtlDirs][kCtlPathSize];
  int kept = privateDirs(dirs);
  for (int i = 0; i < kept; i++) {
    trPathInfo info;
    if (ctlSocketPath(dirs[i], static_cast<unsigned>(port), path) && trPathStat(path, &info) == 0 &&
        info.kind == kPathSocket) {
      return true;
    }
  }
  // A folder passed over above is never used, not even to name the socket
  // that is missing: whoever made it could be listening there.
  fprintf(stderr, "qzuconctl: no console on port %ld in this user's private folders\n", port);
  return false;
}

ctlConn::~ctlConn() {
  if (fd_ >= 0) trClosesocket(fd_);
}

bool ctlConn::open(const char* path, bool quiet, bool named) {
  fd_ = trUnixSocket();
  if (fd_ < 0 || trUnixConnect(fd_, path) != 0) {
    if (!quiet) {
      fprintf(stderr, "qzuconctl: cannot connect to %s: %s\n", path, trErrorText(trLastError()));
    }
    return false;
  }
  // Whoever can make a socket can listen on it: before a byte goes out, the
  // kernel says who is on the other end.
  unsigned uid = 0;
  bool known = trPeerUid(fd_, &uid) == 0;
  // Root names a service user's socket to drive that console: it chose the
  // path itself, and no other user can make root connect anywhere.
  if (ctlPeerAllowed(known, uid, trUid()) || (named && known && trUid() == 0)) return true;
  // A member of a console's control group names its socket likewise: only
  // the serving user can have put it where it is.
  if (named && known && servedInPlace(path, uid)) return true;
  if (known) {
    fprintf(stderr, "qzuconctl: not using %s: it is served by user %u, not by this user or root\n",
            path, uid);
  } else {
    fprintf(stderr, "qzuconctl: not using %s: the kernel does not say who serves it\n", path);
  }
  trClosesocket(fd_);
  fd_ = -1;
  return false;
}

bool ctlConn::request(const char* fmt, ...) {
  char line[kCtlReplyChars];
  va_list ap;
  va_start(ap, fmt);
  int len = vtrf(line, sizeof line - 1, fmt, ap);
  va_end(ap);
  if (len > static_cast<int>(sizeof line) - 2) len = static_cast<int>(sizeof line) - 2;
  line[len++] = '\n';
  for (int done = 0; done < len;) {
    int n = trFileWrite(fd_, line + done, static_cast<unsigned>(len - done));
    if (n <= 0) {
      // A console that refuses a client says why and closes before the
      // request is read: its word is still there to read and tell.
      char said[kCtlReplyChars];
      if (readLine(said, sizeof said, 1000) == 1) {
        const char* why = afterWord(said, kAnsError);
        fprintf(stderr, "qzuconctl: %s\n", why ? why : said);
      } else {
        fprintf(stderr, "qzuconctl: the console closed the connection\n");
      }
      return false;
    }
    done += n;
  }
  return true;
}

int ctlConn::readLine(char* line, int size, long waitMs) {
  uint32_t start = GetTickCount();
  for (;;) {
    if (takeLine(buf_, &len_, sizeof buf_, line, size)) return 1;
    long left = -1;
    if (waitMs >= 0) {
      left = waitMs - static_cast<long>(GetTickCount() - start);
      if (left <= 0) return 0;
    }
    int ready = 0;
    if (trWaitInput(&fd_, 1, left < 0 ? 1000 : static_cast<unsigned>(left), &ready) <= 0) continue;
    int n = trRecv(fd_, buf_ + len_, static_cast<unsigned>(sizeof buf_ - len_));
    if (n <= 0) return -1;
    len_ += n;
  }
}
