// Bounded logging of the lines that strangers can cause: dropped datagrams,
// refused local peers, a server's changing challenge. Each kind (per server,
// for the kinds about a server) logs its first lines of every second as
// usual; the rest are counted and summed up in one line when that second is
// over:
//   **<n> more lines like "<kind>" in the last second
// so that a flood costs a line a second instead of a line a datagram. The
// times given here are the pass's monotonic ms, so a clock change neither
// ends a second early nor holds its summary back.
#ifndef QZUCON_APP_BOUNDED_H_
#define QZUCON_APP_BOUNDED_H_

#include <cstdint>

#include "app/linekinds.h"
#include "protocol/server.h"
#include "runtime/limit.h"

// Kinds about one server; the summary names the server's resolved address.
extern const char kShortPacketKind[];  // "Ignoring short packet from"
extern const char kChallengeKind[];    // "Received Server Challenge from"

// True when a line of this kind may be logged at tick; false when it is only
// counted. Logs the summary of the kind's ended second first, if any.
bool mayLog(lineKind kind, uint32_t tick);
// The same for a kind about server r, counted in the record's own limit.
bool mayLogAbout(const serverRec* r, lineLimit* l, const char* kind, uint32_t tick);

// Once a pass: logs the summary of every kind whose second is over, so that
// it comes out even when the flood has stopped.
void flushBoundedLines(uint32_t tick);

#endif  // QZUCON_APP_BOUNDED_H_
