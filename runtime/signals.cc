// Termination signal handlers, installed without SA_RESTART so that a signal
// cuts a sleep or a key wait short and the main loop sees its exit flag.
#include "runtime/signals.h"

#include <csignal>

namespace {
int setTerminateAction(void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  int r = sigaction(SIGINT, &sa, nullptr);
  if (sigaction(SIGTERM, &sa, nullptr) != 0) r = -1;
  return r == 0 ? 0 : -1;
}
}  // namespace

int trOnTerminate(void (*handler)(int)) { return setTerminateAction(handler); }

void trDefaultTerminate() { setTerminateAction(SIG_DFL); }
