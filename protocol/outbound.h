// Packets to the servers: commands, heartbeats and exit notices. Each is the
// server's 32-byte header, the plain prefix "<own address>;<login>;", then the
// command text and its NUL scrambled with the server's keystream (a heartbeat
// has no command and a plain NUL). Built in g_pkt. There is no
// acknowledgement to wait for; a send is tried again only when it failed on
// the kernel's report of an earlier datagram's error (see sendPacket).
#ifndef QZUCON_PROTOCOL_OUTBOUND_H_
#define QZUCON_PROTOCOL_OUTBOUND_H_

#include <cstdint>

#include "protocol/server.h"

constexpr int32_t kHeartbeatMs = 30000;
// Probes (protocol/health.h's kProbeMs) go out on ticks that are multiples of
// this, a power of two: the tick's wrap keeps the grid.
constexpr uint32_t kProbeGridMs = 256;
constexpr uint32_t kAnswerGapMs = 1000;  // least time between two answers to a server

// serverRec::answerState
enum { kNoAnswerYet = 0, kAnswered = 1, kAnswerWaiting = 2 };

// Builds r's packet in g_pkt with command (null for a heartbeat) and returns
// its length. The command is taken literally, '%' included.
int buildPacket(const serverRec* r, const char* command);

// Sends line to r as a command packet and stores tick in r's lastSend; mono
// (monotonic ms, trMonoMs) goes to r's health.
void sendCommand(int sock, uint32_t tick, uint32_t mono, serverRec* r, const char* line);

// Sends a heartbeat to every server whose lastSend is set and more than
// 30000 ms before tick (as a signed 32-bit difference), kProbeMs and up to
// the next multiple of kProbeGridMs while it is probed (protocol/health.h's
// probing, in monotonic time mono), and to every server
// whose waiting answer is due (answerChallenge, in monotonic time mono), and
// reports silent servers (checkSilence). It walks the list only when the last
// walk's g_hbQuiet allows that one may be due.
void checkHeartbeat(int sock, uint32_t tick, uint32_t mono);

// Forgets what the last heartbeat walk found. For code that writes a
// record's lastSend itself; sendCommand and markHeartbeatDue call it.
void heartbeatsChanged();

// Makes r's heartbeat due at tick: lastSend becomes tick - 31000, never the
// 0 that would stop its heartbeats.
void markHeartbeatDue(serverRec* r, uint32_t tick);

// A new challenge of r taken at tick is answered by a heartbeat: at once (in
// this pass) when r got no answer in the last second, otherwise as soon as
// that second is over, carrying the challenge r holds then. The second is
// measured in monotonic time (mono), so no clock change can hold an answer
// back or let a flood of them through.
void answerChallenge(serverRec* r, uint32_t tick, uint32_t mono);

// In the first pass: every server marked at start-up (lastSend 1) becomes due
// whatever the clock reads.
void armHeartbeats(uint32_t tick);

// The exit notice ("qzuconexit") to every configured server, in list order;
// mono for what a queued send error reports (reception.h's takeSendErrors).
void sendExitNotices(int sock, uint32_t mono);
// The same notice to r alone (a server a reload removed).
void sendExitNotice(int sock, serverRec* r, uint32_t mono);

#endif  // QZUCON_PROTOCOL_OUTBOUND_H_
