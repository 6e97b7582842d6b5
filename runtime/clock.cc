// The millisecond tick from local time. Seconds and microseconds come from a
// single clock reading: two readings could straddle a second boundary and make
// the tick jump back by almost a second.
#include "runtime/clock.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

uint32_t tickFromLocal(const struct tm& t, long usec) {
  uint32_t days = static_cast<uint32_t>(t.tm_year) * 366u + static_cast<uint32_t>(t.tm_yday);
  uint32_t hours = days * 24u + static_cast<uint32_t>(t.tm_hour);
  uint32_t minutes = hours * 60u + static_cast<uint32_t>(t.tm_min);
  uint32_t seconds = minutes * 60u + static_cast<uint32_t>(t.tm_sec);
  return seconds * 1000u + static_cast<uint32_t>(usec / 1000);
}

uint32_t GetTickCount() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm t;
  trLocalTime(tv.tv_sec, &t);
  return tickFromLocal(t, static_cast<long>(tv.tv_usec));
}

int64_t trMonoUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

long trClockTicks() { return sysconf(_SC_CLK_TCK); }

void trTzset() { tzset(); }

time_t trTime() { return time(nullptr); }

int64_t trWallMs() {
  timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return 0;
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int trLocalTime(time_t t, struct tm* out) {
  // localtime would look at the zone file again on every call.
  if (localtime_r(&t, out) != nullptr) return 1;
  memset(out, 0, sizeof(*out));
  return 0;
}

namespace {
void sleepFor(unsigned secs, long nanos) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(secs);
  ts.tv_nsec = nanos;
  nanosleep(&ts, nullptr);
}
}  // namespace

void trSleep(unsigned ms) {
  // Split so long sleeps do not overflow a finer count.
  if (ms != 0) sleepFor(ms / 1000u, static_cast<long>(ms % 1000u) * 1000000L);
}

void trSleepUs(unsigned us) {
  if (us != 0) sleepFor(us / 1000000u, static_cast<long>(us % 1000000u) * 1000L);
}
