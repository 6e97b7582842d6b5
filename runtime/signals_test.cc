// The termination handlers: installed without restart, then back to default;
// SIGPIPE ignored.
#include "runtime/signals.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

volatile sig_atomic_t g_caught = 0;
void onSignal(int sig) { g_caught = sig; }

TEST(TrOnTerminate, InstallsWithoutRestartAndRestoresDefault) {
  const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction old[3];
  for (int i = 0; i < 3; i++) sigaction(kSignals[i], nullptr, &old[i]);

  ASSERT_EQ(0, trOnTerminate(onSignal));
  for (int sig : kSignals) {
    SCOPED_TRACE(sig);
    struct sigaction now;
    sigaction(sig, nullptr, &now);
    EXPECT_EQ(onSignal, now.sa_handler);
    // A restarted wait would hide the signal from the main loop.
    EXPECT_EQ(0, now.sa_flags & SA_RESTART);
    g_caught = 0;
    raise(sig);
    EXPECT_EQ(sig, g_caught);
  }
  trDefaultTerminate();
  for (int sig : kSignals) {
    struct sigaction now;
    sigaction(sig, nullptr, &now);
    EXPECT_EQ(SIG_DFL, now.sa_handler) << "signal " << sig;
  }

  for (int i = 0; i < 3; i++) sigaction(kSignals[i], &old[i], nullptr);
}

TEST(TrOnTerminate, InheritedIgnoreStaysButSigtermIsAlwaysHandled) {
  const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction old[3];
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  for (int i = 0; i < 3; i++) sigaction(kSignals[i], &ignore, &old[i]);

  ASSERT_EQ(0, trOnTerminate(onSignal));
  for (int step = 0; step < 2; step++) {
    for (int sig : kSignals) {
      struct sigaction now;
      sigaction(sig, nullptr, &now);
      void (*want)(int) = sig != SIGTERM ? SIG_IGN : step == 0 ? onSignal : SIG_DFL;
      EXPECT_EQ(want, now.sa_handler) << "signal " << sig << ", step " << step;
    }
    trDefaultTerminate();
  }

  for (int i = 0; i < 3; i++) sigaction(kSignals[i], &old[i], nullptr);
}

TEST(TrIgnoreBrokenPipe, AWriteToAClosedPipeFailsInsteadOfKilling) {
  struct sigaction old;
  sigaction(SIGPIPE, nullptr, &old);
  ASSERT_EQ(0, trIgnoreBrokenPipe());
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  close(fds[0]);
  errno = 0;
  EXPECT_EQ(-1, write(fds[1], "x", 1));
  EXPECT_EQ(EPIPE, errno);
  close(fds[1]);
  sigaction(SIGPIPE, &old, nullptr);
}

}  // namespace
