// The millisecond tick, the monotonic milliseconds, local time and sleeping.
// The tick counts every year as 366 days and wraps modulo 2^32; compare two
// ticks by their difference taken as int32_t.
#ifndef QZUCON_RUNTIME_CLOCK_H_
#define QZUCON_RUNTIME_CLOCK_H_

#include <cstdint>
#include <ctime>

// The tick for broken-down local time t and the microseconds of that second.
// Pure: (((year*366 + yday)*24 + hour)*60 + min)*60 + sec, *1000 + usec/1000,
// all in wrapping 32-bit arithmetic.
uint32_t tickFromLocal(const struct tm& t, long usec);

// The tick for the current local time.
uint32_t GetTickCount();

// Microseconds of the monotonic clock. Unlike the tick it never jumps with
// the calendar, daylight saving or the year, so it measures how long things
// take; it is the one clock the console, its tools and its tests time with.
int64_t trMonoUs();
// Its milliseconds, wrapping modulo 2^32 (compare two by their difference as
// int32_t), as the console keeps them in its records.
inline uint32_t trMonoMs() { return static_cast<uint32_t>(trMonoUs() / 1000); }
// Its milliseconds whole, for tools and tests that add a wait to a reading.
inline int64_t trMonoMsWide() { return trMonoUs() / 1000; }

// Clock ticks a second, the unit of the CPU times in /proc/<pid>/stat.
long trClockTicks();

// Reads the time zone's rules now. Local times use what was read first (here
// or at the first conversion) for the rest of the run, so no conversion looks
// at the zone file again; a changed zone takes effect at the next start.
void trTzset();

// Seconds of the calendar time now.
time_t trTime();
// Milliseconds since the epoch of the calendar time now: for what others
// read as a point in time (the metrics file's timestamps), never to measure.
int64_t trWallMs();
// Local broken-down time of t (localtime_r underneath). 1 on success, 0 when
// the time cannot be converted (out is then zeroed).
int trLocalTime(time_t t, struct tm* out);

// Sleeps ms milliseconds; 0 returns at once. An interrupted sleep is not
// resumed, so a signal ends it early.
void trSleep(unsigned ms);
// The same in microseconds, for the short steps of tools that pace sending.
void trSleepUs(unsigned us);

#endif  // QZUCON_RUNTIME_CLOCK_H_
