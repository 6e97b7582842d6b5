// Unix stream sockets and the path calls around them.
#include "runtime/unixsock.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// False (errno ENAMETOOLONG) when path does not fit a socket address.
bool unixAddr(const char* path, sockaddr_un* a) {
  memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  size_t len = strlen(path);
  if (len == 0 || len > static_cast<size_t>(kUnixPathChars)) {
    errno = ENAMETOOLONG;
    return false;
  }
  memcpy(a->sun_path, path, len);
  return true;
}

}  // namespace

int trUnixSocket() { return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

int trUnixDgramSocket() { return socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

int trWaitWritable(int h, unsigned ms) {
  pollfd p = {h, POLLOUT, 0};
  int r = poll(&p, 1, ms > 60000 ? 60000 : static_cast<int>(ms));
  return r > 0 ? ((p.revents & POLLOUT) ? 1 : -1) : r;
}

int trSndbuf(int h, int bytes) {
  return setsockopt(h, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

int trFdIdentity(int fd, unsigned long long* dev, unsigned long long* ino) {
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  *dev = st.st_dev;
  *ino = st.st_ino;
  return 0;
}

int trUnixBind(int h, const char* path, unsigned mask) {
  sockaddr_un a;
  if (!unixAddr(path, &a)) return -1;
  mode_t old = umask(static_cast<mode_t>(mask));
  int rc = bind(h, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  int err = errno;
  umask(old);
  errno = err;
  return rc;
}

int trUnixConnect(int h, const char* path) {
  sockaddr_un a;
  if (!unixAddr(path, &a)) return -1;
  return connect(h, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

int trUnixAccept(int h) { return accept4(h, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }

int trPeerUid(int h, unsigned* uid) {
  ucred cred;
  socklen_t len = sizeof cred;
  if (getsockopt(h, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return -1;
  *uid = static_cast<unsigned>(cred.uid);
  return 0;
}

int trSendNow(int h, const char* data, unsigned len) {
  return static_cast<int>(send(h, data, len, MSG_DONTWAIT | MSG_NOSIGNAL));
}

bool trWouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

int trPathStat(const char* path, trPathInfo* out) {
  memset(out, 0, sizeof *out);
  struct stat st;
  if (lstat(path, &st) != 0) return errno == ENOENT ? 0 : -1;
  out->kind = S_ISDIR(st.st_mode) ? kPathDir : S_ISSOCK(st.st_mode) ? kPathSocket : kPathOther;
  out->uid = static_cast<unsigned>(st.st_uid);
  out->gid = static_cast<unsigned>(st.st_gid);
  out->mode = static_cast<unsigned>(st.st_mode & 07777);
  out->dev = static_cast<unsigned long long>(st.st_dev);
  out->ino = static_cast<unsigned long long>(st.st_ino);
  return 0;
}

int trMakeDir(const char* path, unsigned mode) { return mkdir(path, static_cast<mode_t>(mode)); }

const char* trEnv(const char* name) { return getenv(name); }

int trDirNames(const char* dir, void (*fn)(const char* name, void* ctx), void* ctx) {
  DIR* d = opendir(dir);
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) fn(e->d_name, ctx);
  }
  closedir(d);
  return 0;
}
