// Waiting for input on pipes: time-outs, data, the end of a stream and a
// descriptor that is not open, as the main loop's one wait sees them.
#include "runtime/keyboard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "runtime/files.h"

namespace {

constexpr unsigned kWaitMs = 10000;  // generous: only a failure waits it out

TEST(TrWaitInput, TimesOutThenSeesDataEndAndClosedDescriptors) {
  int p[2];
  ASSERT_EQ(0, pipe(p));
  int fds[2] = {-1, p[0]};  // a negative descriptor is skipped
  int ready[2] = {7, 7};
  EXPECT_EQ(0, trWaitInput(fds, 2, 50, ready));
  EXPECT_EQ(0, ready[0]);
  EXPECT_EQ(0, ready[1]);

  ASSERT_EQ(1, trFileWrite(p[1], "x", 1));
  EXPECT_EQ(1, trWaitInput(fds, 2, kWaitMs, ready));
  EXPECT_EQ(0, ready[0]);
  EXPECT_EQ(kFdReadable, ready[1]);
  char c;
  EXPECT_EQ(1, trFileRead(p[0], &c, 1));

  trFileClose(p[1]);
  EXPECT_EQ(1, trWaitInput(fds, 2, kWaitMs, ready)) << "the end of a stream is readable too";
  EXPECT_EQ(kFdReadable, ready[1]);
  EXPECT_EQ(0, trFileRead(p[0], &c, 1));

  trFileClose(p[0]);
  EXPECT_EQ(1, trWaitInput(fds, 2, 0, ready));
  EXPECT_EQ(kFdInvalid, ready[1] & kFdInvalid) << "a closed descriptor is said to be invalid";
  EXPECT_EQ(-1, trWaitInput(fds, kMaxWaitInput + 1, 0, ready)) << "more than it can wait on";
}

}  // namespace
