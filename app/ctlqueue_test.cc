#include "app/ctlqueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace {

// A reader that takes at most `take` bytes a call and `budget` bytes in all
// (then nothing, as a full socket), or fails once gone.
struct reader {
  std::string got;
  int take = 1 << 30;
  int budget = 1 << 30;
  bool gone = false;
};

int readInto(void* ctx, const char* data, int len) {
  reader* r = static_cast<reader*>(ctx);
  if (r->gone) return -1;
  int n = std::min(len, std::min(r->take, r->budget));
  r->got.append(data, n);
  r->budget -= n;
  return n;
}

void push(ctlqueue* q, const std::string& line) {
  q->push(line.data(), static_cast<int>(line.size()));
}

TEST(LineQueue, ShortWritesKeepTheStreamWhole) {
  auto q = std::make_unique<ctlqueue>();
  std::string want;
  for (int i = 0; i < 2000; i++) {  // wraps the ring several times
    std::string line = "line " + std::to_string(i) + std::string(i % 37, 'x') + "\n";
    push(q.get(), line);
    want += line;
    if (i % 3 == 0) {
      reader r;  // a socket that takes a few bytes now and then
      r.take = 7;
      r.budget = 5 + i % 50;
      ASSERT_TRUE(q->drain(readInto, &r));
      ASSERT_EQ(r.got, want.substr(0, r.got.size()));
      want.erase(0, r.got.size());
    }
  }
  reader all;
  ASSERT_TRUE(q->drain(readInto, &all));
  EXPECT_EQ(all.got, want);
  EXPECT_TRUE(q->empty());
}

TEST(LineQueue, ANonReaderLosesTheOldestWholeLinesWithACount) {
  auto q = std::make_unique<ctlqueue>();
  reader r;
  r.budget = 3;
  push(q.get(), "first line\n");
  ASSERT_TRUE(q->drain(readInto, &r));  // "fir" went out
  const std::string line(99, 'y');
  int pushed = 0;
  for (; pushed < 2 * kCtlQueueBytes / 100; pushed++) push(q.get(), line + "\n");
  r.budget = 1 << 30;
  ASSERT_TRUE(q->drain(readInto, &r));
  // The cut line is finished, then the note, then the newest lines, whole.
  ASSERT_EQ(r.got.substr(0, 11), "first line\n");
  size_t noteEnd = r.got.find('\n', 11);
  std::string note = r.got.substr(11, noteEnd - 11);
  int dropped = 0;
  ASSERT_EQ(sscanf(note.c_str(), "dropped %d lines", &dropped), 1) << note;
  std::string rest = r.got.substr(noteEnd + 1);
  EXPECT_EQ(rest.size() % 100, 0u);
  EXPECT_EQ(static_cast<int>(rest.size() / 100) + dropped, pushed);
  EXPECT_GT(dropped, 0);
}

TEST(LineQueue, OverlongLinesAreCutAndAGoneReaderIsReported) {
  auto q = std::make_unique<ctlqueue>();
  push(q.get(), std::string(kCtlLineMax + 100, 'z') + "\n");
  reader r;
  ASSERT_TRUE(q->drain(readInto, &r));
  ASSERT_EQ(static_cast<int>(r.got.size()), kCtlLineMax);
  EXPECT_EQ(r.got.back(), '\n');
  push(q.get(), "x\n");
  r.gone = true;
  EXPECT_FALSE(q->drain(readInto, &r));
}

// Followed lines give way; answers pushed while there is room never do.
TEST(LineQueue, FollowedLinesAreLostBeforeAnyAnswer) {
  auto q = std::make_unique<ctlqueue>();
  const std::string followed = std::string(99, 'f') + "\n";
  const std::string answer = std::string(99, 'a') + "\n";
  int answers = 0;
  for (int i = 0; i < 3 * kCtlQueueBytes / 100; i++) {
    q->offer(followed.data(), static_cast<int>(followed.size()));
    if (q->room() >= kCtlLineMax) {
      push(q.get(), answer);
      answers++;
    }
  }
  EXPECT_GE(q->room(), static_cast<int>(followed.size())) << "followed lines leave room";
  reader r;
  ASSERT_TRUE(q->drain(readInto, &r));
  int got = 0;
  for (size_t at = r.got.find(answer); at != std::string::npos; at = r.got.find(answer, at + 1)) {
    got++;
  }
  EXPECT_EQ(answers, got);
  EXPECT_NE(std::string::npos, r.got.find("dropped ")) << "the follower is told";
}

}  // namespace
