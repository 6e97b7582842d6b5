// Server log reception: recognise the sender of each datagram on the server
// socket, take over a new server challenge, unscramble the text and show it on
// the screen and in that server's own log file.
#ifndef QZUCON_PROTOCOL_RECEPTION_H_
#define QZUCON_PROTOCOL_RECEPTION_H_

#include <netinet/in.h>

#include <cstdint>

#include "protocol/server.h"

// Datagrams taken per pass at most, so that a flood cannot starve the
// keyboard: kMaxDatagramsPerPass that write a line, kMaxTakenPerPass in all.
// A datagram whose line is only counted costs next to nothing, and a flood of
// them must not fill the receive queue ahead of a server's lines.
constexpr int kMaxDatagramsPerPass = 256;
constexpr int kMaxTakenPerPass = 4096;

// Takes every waiting datagram (within the bounds above) from sock, several
// with one call. tick is
// the pass's tick (a new challenge makes a heartbeat due by it); mono its
// monotonic ms (trMonoMs), for everything that measures time: the bounds on
// lines, the answer gap, the link health. Returns the number of datagrams
// taken; *full (when given) says whether it stopped at a bound, so that more
// may be waiting, rather than at an empty queue.
int processServerLogging(int sock, uint32_t tick, uint32_t mono, bool* full = nullptr);

// Handles one datagram of n bytes (1..1500) already in g_pkt, from `from`.
// Everything it reports goes through log. Returns 1 when it wrote a line, 0
// when the datagram was only counted (app/bounded.h).
int handleServerDatagram(const sockaddr_in& from, int n, uint32_t tick, uint32_t mono);

// Reads the errors the kernel queued on sock for datagrams sent (IP_RECVERR),
// at most kMaxErrorsPerPass: a closed port (ICMP port unreachable) marks
// every server whose packets go there unreachable (notePortUnreachable, at
// monotonic mono). An entry left in the queue keeps the socket looking ready
// to every wait, so a failed receive or send calls this; a flood of forged
// errors leaves the rest to the next call. Returns the entries read.
constexpr int kMaxErrorsPerPass = 256;
int takeSendErrors(int sock, uint32_t mono);

// The record that sent a datagram from `from` (address text `text`) whose
// first four bytes are `challenge`, or null. A configured address that equals
// the text wins; otherwise the first record whose send destination is `from`.
// Found through g_senders, not a walk; g_server is left where the walk would
// leave it (on the match, else on the last record).
serverRec* matchSender(const sockaddr_in& from, const char* text, const unsigned char* challenge);

#endif  // QZUCON_PROTOCOL_RECEPTION_H_
