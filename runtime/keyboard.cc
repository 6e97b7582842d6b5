// Descriptor waits and keys from standard input.
#include "runtime/keyboard.h"

#include <poll.h>
#include <sys/select.h>
#include <unistd.h>

#include <climits>
#include <ctime>

int trSelect(int fd, int mode, unsigned timeoutMs) {
  // FD_SET beyond the set's 1024 bits would write past it.
  if (fd < 0 || fd >= FD_SETSIZE) return -1;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  timeval tv;
  tv.tv_sec = static_cast<time_t>(timeoutMs / 1000u);
  tv.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000u) * 1000u);
  int r = select(fd + 1, mode == 0 ? &set : nullptr, mode == 1 ? &set : nullptr, nullptr, &tv);
  if (r < 0) return -1;
  return FD_ISSET(fd, &set) ? 1 : 0;
}

int trStdinFd() { return STDIN_FILENO; }

int trReadKey(char* c) {
  // read, not getchar: a stdio buffer would hide pending bytes from the waits.
  return static_cast<int>(read(STDIN_FILENO, c, 1));
}

int trIsTerminal(int fd) { return isatty(fd) ? 1 : 0; }

int trWaitInput(const int* fds, int n, unsigned timeoutMs, int* ready) {
  if (n < 0 || n > kMaxWaitInput) return -1;
  pollfd p[kMaxWaitInput];
  for (int i = 0; i < n; i++) {
    p[i].fd = fds[i];  // poll skips negative descriptors
    p[i].events = POLLIN;
    p[i].revents = 0;
  }
  int wait = timeoutMs > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
  int r = poll(p, static_cast<nfds_t>(n), wait);
  for (int i = 0; i < n; i++) {
    short e = r > 0 ? p[i].revents : 0;
    ready[i] = (e & (POLLIN | POLLHUP | POLLERR)) ? kFdReadable : 0;
    if (e & POLLNVAL) ready[i] |= kFdInvalid;
  }
  return r;
}
