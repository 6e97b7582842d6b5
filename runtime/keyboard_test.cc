// Keys from a redirected standard input.
// Test code swaps descriptor 0 itself (dup/dup2) and always puts it back.
#include "runtime/keyboard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

using steadyClock = std::chrono::steady_clock;

// End of input must not wait out a timeout; a few seconds is generous for a
// loaded machine and far below the 60 s asked for.
constexpr auto kAtOnce = std::chrono::seconds(5);

// Points standard input at fd for the lifetime of the object. A standard
// input that was closed (as under some CI runners) is closed again.
class stdinSwap {
 public:
  explicit stdinSwap(int fd)
      : saved_(dup(STDIN_FILENO)), ok_(dup2(fd, STDIN_FILENO) == STDIN_FILENO) {}
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
    auto start = steadyClock::now();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0, trGetkey(60000)) << "call " << i;
    EXPECT_LT(steadyClock::now() - start, kAtOnce);
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
    auto start = steadyClock::now();
    EXPECT_EQ(0, trGetkey(60000)) << "writer gone: end of input at once";
    EXPECT_LT(steadyClock::now() - start, kAtOnce);
  }
  close(p[0]);
}

}  // namespace
