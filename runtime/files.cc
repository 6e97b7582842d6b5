// Descriptor-level file calls. Kept apart from bfc, which is stdio and opens
// lazily: these are for writes that must reach the disk whole or not at all,
// and for a pass's log entries that take one open, one writev and one close.
#include "runtime/files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int trMakeTemp(char* templ) { return mkostemp(templ, O_CLOEXEC); }

int trFileMode(const char* name, unsigned* owner) {
  struct stat st;
  if (lstat(name, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  *owner = static_cast<unsigned>(st.st_uid);
  return static_cast<int>(st.st_mode & 07777);
}

int trFileChmod(int fd, unsigned mode) { return fchmod(fd, static_cast<mode_t>(mode)); }

int trFileWrite(int fd, const char* data, unsigned len) {
  return static_cast<int>(write(fd, data, len));
}

int trFileWritev(int fd, const iovec* iov, int n) {
  return static_cast<int>(writev(fd, iov, n));
}

int trFileSync(int fd) { return fsync(fd); }

int trFileClose(int fd) { return close(fd); }

int trRename(const char* from, const char* to) { return rename(from, to); }

int trUnlink(const char* name) { return unlink(name); }

int trOpenRead(const char* name) { return open(name, O_RDONLY | O_CLOEXEC); }

int trOpenFollow(const char* path) {
  int fd = open(path, O_RDONLY | O_NOATIME | O_CLOEXEC);
  return fd >= 0 || errno != EPERM ? fd : open(path, O_RDONLY | O_CLOEXEC);
}

int trFileRead(int fd, char* buf, unsigned len) { return static_cast<int>(read(fd, buf, len)); }

unsigned trUid() { return static_cast<unsigned>(geteuid()); }

int trFdOpen(int fd) { return fcntl(fd, F_GETFD) != -1 ? 1 : 0; }

int trOpenNullAt(int fd) {
  int n = open("/dev/null", O_RDWR);
  if (n < 0 || n == fd) return n;
  int r = dup2(n, fd);
  close(n);
  return r;
}

int trOpenAppend(const char* name) {
  return open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

long trRaiseFileLimit() {
  rlimit r;
  if (getrlimit(RLIMIT_NOFILE, &r) != 0) return -1;
  if (r.rlim_cur < r.rlim_max) {
    rlimit raised = r;
    raised.rlim_cur = r.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) r = raised;
  }
  return r.rlim_cur == RLIM_INFINITY || r.rlim_cur > 1L << 30 ? 1L << 30 : static_cast<long>(r.rlim_cur);
}

int trLastError() { return errno; }

bool trInterrupted() { return errno == EINTR; }

const char* trErrorText(int err) { return strerror(err); }

bool trNoSuchFile(int err) { return err == ENOENT || err == ENOTDIR; }
