// Descriptor waits and keys from standard input.
#include "runtime/keyboard.h"

#include <sys/select.h>
#include <unistd.h>

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

int trGetkey(int timeoutMs) {
  unsigned wait = timeoutMs > 0 ? static_cast<unsigned>(timeoutMs) : 0u;
  if (trSelect(STDIN_FILENO, 0, wait) != 1) return 0;
  // read, not getchar: a stdio buffer would hide pending bytes from select.
  signed char c = 0;
  if (read(STDIN_FILENO, &c, 1) != 1) return 0;
  return c;
}
