// Descriptor waits, keys, sleeps and termination signals. The terminal mode
// is never touched, so keys arrive a line at a time in the usual line mode.
#include "runtime/term.h"

#include <sys/select.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

namespace {
int setTerminateAction(void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a signal must cut a sleep or a key wait short so the main
  // loop sees its exit flag promptly.
  sa.sa_flags = 0;
  int r = sigaction(SIGINT, &sa, nullptr);
  if (sigaction(SIGTERM, &sa, nullptr) != 0) r = -1;
  return r == 0 ? 0 : -1;
}
}  // namespace

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

void trSleep(unsigned ms) {
  if (ms == 0) return;
  // Split so long sleeps do not overflow a microsecond count; an interrupted
  // sleep is not resumed.
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ms / 1000u);
  ts.tv_nsec = static_cast<long>(ms % 1000u) * 1000000L;
  nanosleep(&ts, nullptr);
}

int trOnTerminate(void (*handler)(int)) { return setTerminateAction(handler); }

void trDefaultTerminate() { setTerminateAction(SIG_DFL); }
