// Signal dispositions. The termination handlers are installed without
// SA_RESTART so that a signal cuts a sleep or a key wait short and the main
// loop sees its exit flag. Whoever started the console ignoring SIGINT or
// SIGHUP (nohup, a shell's background job) asked for it to survive them; a
// service manager stops it with SIGTERM, which is never left ignored.
#include "runtime/signals.h"

#include <csignal>

namespace {
// A lost terminal or SSH connection (SIGHUP) is as much a request to stop as
// SIGINT and SIGTERM.
const int kTerminateSignals[] = {SIGINT, SIGTERM, SIGHUP};

bool isIgnored(int sig) {
  struct sigaction now = {};
  return sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

int setTerminateAction(void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  int r = 0;
  for (int sig : kTerminateSignals) {
    if (sig != SIGTERM && isIgnored(sig)) continue;
    if (sigaction(sig, &sa, nullptr) != 0) r = -1;
  }
  return r;
}
}  // namespace

int trOnTerminate(void (*handler)(int)) { return setTerminateAction(handler); }

void trDefaultTerminate() { setTerminateAction(SIG_DFL); }

int trIgnoreBrokenPipe() {
  struct sigaction sa = {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  return sigaction(SIGPIPE, &sa, nullptr);
}
