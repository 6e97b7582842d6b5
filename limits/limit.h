// lineLimit: bounds how many lines of one kind are logged per second. The
// first kLinesPerSecond of a second are logged as they come; the rest are
// only counted, and their number is handed back once that second is over so
// that the caller can sum them up in one line. Pure: the caller gives the
// tick, so tests drive it with chosen numbers.
#ifndef QZUCON_LIMITS_LIMIT_H_
#define QZUCON_LIMITS_LIMIT_H_

#include <cstdint>

constexpr uint32_t kLinesPerSecond = 10;
constexpr uint32_t kLimitSecondMs = 1000;

// All zero is the idle state, so it can live in zero-filled records.
struct lineLimit {
  uint32_t start;   // tick at which the running second began
  uint32_t shown;   // lines logged in it
  uint32_t held;    // lines counted in it but not logged
  uint8_t running;  // a second has begun and not yet been closed
};

// One more line at tick. Returns 1 when it may be logged, 0 when it is held
// back. *ended receives the lines held back in a second that was over before
// tick (0 when none); the caller sums those up before this line.
int limitLine(lineLimit* l, uint32_t tick, uint32_t* ended);

// Closes the running second when it is over at tick and returns the lines
// held back in it (0 when none, or when the second is still running).
uint32_t limitFlush(lineLimit* l, uint32_t tick);

#endif  // QZUCON_LIMITS_LIMIT_H_
