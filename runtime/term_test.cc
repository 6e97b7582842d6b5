// Keys from a redirected standard input, and the termination handlers.
// Test code swaps descriptor 0 itself (dup/dup2) and always puts it back.
#include "runtime/term.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

// Points standard input at fd for the lifetime of the object. A standard
// input that was closed (as under some CI runners) is closed again.
class stdinSwap {
 public:
  explicit stdinSwap(int fd) : saved_(dup(STDIN_FILENO)), ok_(dup2(fd, STDIN_FILENO) == STDIN_FILENO) {}
  ~stdinSwap() {
    if (saved_ >= 0) {
      dup2(saved_, STDIN_FILENO);
      close(saved_);
    } else {
      close(STDIN_FILENO);
    }
  }
  bool ok() const { return ok_; }

 private:
  int saved_;
  bool ok_;
};

TEST(TrGetkey, EmptyFileIsEndOfInputAtOnce) {
  char path[] = "/tmp/qzrt_key_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  unlink(path);
  {
    stdinSwap swap(fd);
    ASSERT_TRUE(swap.ok());
    // A long timeout that end of input must not wait out.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0, trGetkey(60000)) << "call " << i;
  }
  close(fd);
}

TEST(TrGetkey, BytesComeBackAsSignedChars) {
  int p[2];
  ASSERT_EQ(0, pipe(p));
  const unsigned char bytes[] = {0xE9, 'a', 0x80, 0xFF, '\n'};
  const int want[] = {-23, 'a', -128, -1, '\n'};
  ASSERT_EQ(5, write(p[1], bytes, 5));
  {
    stdinSwap swap(p[0]);
    ASSERT_TRUE(swap.ok());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(want[i], trGetkey(5000)) << "byte " << i;
    EXPECT_EQ(0, trGetkey(0)) << "nothing pending, writer still open";
    close(p[1]);
    EXPECT_EQ(0, trGetkey(60000)) << "writer gone: end of input at once";
  }
  close(p[0]);
}

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

TEST(TrSleep, ZeroReturns) { trSleep(0); }

}  // namespace
