// What a server's line triggered (on= rules), sent once the line is done:
// the command packet is built where the line's text still lies, so reception
// calls this after each datagram. The one entry of the triggers that
// reception needs (app/triggers.h has the rest).
#ifndef QZUCON_APP_TRIGGERED_H_
#define QZUCON_APP_TRIGGERED_H_

#include <cstdint>

// Sends what the last line triggered to its server (sock, the tick and the
// monotonic milliseconds as sendCommand takes them), each shown and
// journaled like a typed command; names a skip the first time it happens
// for a trigger and server. Nothing to do costs one test.
void sendTriggered(int sock, uint32_t tick, uint32_t mono);

#endif  // QZUCON_APP_TRIGGERED_H_
