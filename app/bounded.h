// Bounded logging of the lines that strangers can cause: dropped datagrams,
// refused local peers, a server's changing challenge (limits/linekinds.h holds
// their texts). Each kind (per server, for the kinds about a server) logs its
// first lines of every second as usual; the rest are counted and summed up in
// one line when that second is over:
//   **<n> more lines like "<kind>" in the last second
// so that a flood costs a line a second instead of a line a datagram. The
// times given here are the pass's monotonic ms, so a clock change neither
// ends a second early nor holds its summary back.
#ifndef QZUCON_APP_BOUNDED_H_
#define QZUCON_APP_BOUNDED_H_

#include <cstdint>

#include "limits/limit.h"
#include "limits/linekinds.h"
#include "protocol/server.h"

// Logs the line of a kind about anyone at tick, unless it is over its limit
// and only counted; the summary of the kind's ended second comes first, if
// any. The values are the line's, the peer's text first. True when logged.
bool logBounded(lineKind kind, uint32_t tick, ...);
// The same for a kind about server r, counted in the record's own limit.
bool logBoundedAbout(serverRec* r, lineKind kind, uint32_t tick, ...);

// Per-second bounds of the lines strangers can cause, by kind.
extern lineLimit g_lineLimits[kLineKinds];
// Whether some server's own limit has a second running, and the tick at
// which the earliest of them began: until its second is over a pass need not
// walk the records (ten thousand in a large configuration) to sum them up.
extern bool g_serverLimitsRunning;
extern uint32_t g_serverLimitsStart;
// Events of each bounded kind, whether their line was logged or held back:
// the metrics file's count of datagrams ignored by reason.
extern uint64_t g_lineCounts[kLineKinds];
// Those back to program start: nothing counted, no second running.
void resetBounded();

// Once a pass: logs the summary of every kind whose second is over, so that
// it comes out even when the flood has stopped.
void flushBoundedLines(uint32_t tick);

#endif  // QZUCON_APP_BOUNDED_H_
