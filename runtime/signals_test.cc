// The termination handlers: installed without restart, then back to default.
#include "runtime/signals.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

volatile sig_atomic_t g_caught = 0;
void onSignal(int sig) { g_caught = sig; }

TEST(TrOnTerminate, InstallsWithoutRestartAndRestoresDefault) {
  struct sigaction oldInt, oldTerm;
  sigaction(SIGINT, nullptr, &oldInt);
  sigaction(SIGTERM, nullptr, &oldTerm);

  ASSERT_EQ(0, trOnTerminate(onSignal));
  for (int sig : {SIGINT, SIGTERM}) {
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
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction now;
    sigaction(sig, nullptr, &now);
    EXPECT_EQ(SIG_DFL, now.sa_handler) << "signal " << sig;
  }

  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
}

}  // namespace
