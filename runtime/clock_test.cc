// The tick arithmetic on fixed dates, GetTickCount against local time, and
// sleeping.
#include "runtime/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "support/scopedenv.h"

namespace {

struct tm at(int year, int yday, int hour, int min, int sec) {
  struct tm t = {};
  t.tm_year = year;
  t.tm_yday = yday;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_sec = sec;
  return t;
}

TEST(TickFromLocal, FixedTimes) {
  struct Row {
    const char* label;
    struct tm t;
    long usec;
    uint32_t want;
  } rows[] = {
      {"22:09:41.500250 on 3 Dec 2026", at(126, 336, 22, 9, 41), 500250, 2033127036u},
      {"sub-millisecond dropped", at(126, 336, 22, 9, 41), 500999, 2033127036u},
      {"epoch of the count", at(0, 0, 0, 0, 0), 0, 0u},
      {"first day, one ms", at(0, 0, 0, 0, 0), 1000, 1u},
  };
  for (const Row& r : rows) EXPECT_EQ(r.want, tickFromLocal(r.t, r.usec)) << r.label;
}

TEST(TickFromLocal, SignedDifferences) {
  struct Row {
    const char* label;
    struct tm from;
    long fromUsec;
    struct tm to;
    long toUsec;
    int32_t want;
  } rows[] = {
      {"new year after a 365-day year", at(125, 364, 23, 59, 59), 999000, at(126, 0, 0, 0, 0), 0,
       86400001},
      {"one second", at(126, 100, 12, 0, 0), 0, at(126, 100, 12, 0, 1), 0, 1000},
      {"clock set back an hour", at(126, 300, 2, 30, 0), 0, at(126, 300, 1, 30, 0), 0, -3600000},
  };
  for (const Row& r : rows) {
    uint32_t a = tickFromLocal(r.from, r.fromUsec);
    uint32_t b = tickFromLocal(r.to, r.toUsec);
    EXPECT_EQ(r.want, static_cast<int32_t>(b - a)) << r.label;
  }
}

TEST(TickFromLocal, WrapKeepsSignedDifference) {
  // The count wraps about every 49.7 days; a day-by-day walk through one year
  // must cross several wraps without the signed step changing.
  int wraps = 0;
  for (int day = 0; day < 365; ++day) {
    uint32_t a = tickFromLocal(at(126, day, 0, 0, 0), 0);
    uint32_t b = tickFromLocal(at(126, day + 1, 0, 0, 0), 0);
    if (b < a) ++wraps;
    ASSERT_EQ(86400000, static_cast<int32_t>(b - a)) << "day " << day;
  }
  EXPECT_GE(wraps, 7);
}

// 5 h 30 min east of UTC: a clock read as UTC would be far off.
constexpr char kEastZone[] = "QZT-5:30";

TEST(GetTickCount, AgreesWithLocalTime) {
  tzSwap zone(kEastZone);
  struct tm before, after;
  ASSERT_EQ(1, trLocalTime(trTime(), &before));
  uint32_t tick = GetTickCount();
  ASSERT_EQ(1, trLocalTime(trTime(), &after));
  // Second-granular bounds around the tick, widened because time() may trail
  // the clock GetTickCount reads.
  int32_t sinceBefore = static_cast<int32_t>(tick - tickFromLocal(before, 0));
  int32_t untilAfter = static_cast<int32_t>(tickFromLocal(after, 999999) - tick);
  EXPECT_GT(sinceBefore, -2000);
  EXPECT_GT(untilAfter, -2000);
  EXPECT_LT(sinceBefore, 60000) << "far from local time";
}

TEST(TrSleep, SleepsAtLeastTheTimeAsked) {
  // The upper bound is seconds above the time asked: it catches a sleep in
  // the wrong unit, never a slow machine.
  struct row {
    unsigned ms, us;  // one of them is asked for; the other is 0
  } rows[] = {{0, 0}, {20, 0}, {1100, 0}, {0, 300}, {0, 1200000}};
  for (const row& r : rows) {
    auto start = std::chrono::steady_clock::now();
    if (r.us != 0) {
      trSleepUs(r.us);
    } else {
      trSleep(r.ms);
    }
    auto took = std::chrono::steady_clock::now() - start;
    auto asked = std::chrono::milliseconds(r.ms) + std::chrono::microseconds(r.us);
    EXPECT_GE(took, asked) << r.ms << " ms, " << r.us << " us";
    EXPECT_LT(took, asked + std::chrono::seconds(5)) << r.ms << " ms, " << r.us << " us";
  }
}

}  // namespace
