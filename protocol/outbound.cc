// Outbound packets: command, heartbeat and exit notice.
#include "protocol/outbound.h"

#include <cstring>

#include "app/globals.h"
#include "app/log.h"
#include "crypto/keystream.h"
#include "protocol/reception.h"
#include "runtime/sock.h"
#include "runtime/text.h"

namespace {

char* textArea() { return reinterpret_cast<char*>(g_pkt + kHeaderSize); }

// Header and plain prefix; returns the prefix length.
int writeHeaderAndPrefix(const serverRec* r) {
  memcpy(g_pkt, r->header, kHeaderSize);
  trf(textArea(), kTextAreaSize, "%s;%s;", g_myaddr, r->login);
  return static_cast<int>(strlen(textArea()));
}

// Scrambles the command text behind the prefix and its NUL; returns the
// packet length.
int scrambleCommand(const serverRec* r, int prefix) {
  int k = static_cast<int>(strlen(textArea())) - prefix;
  keystreamXor(r->rseed, textArea() + prefix, k + 1);
  return kHeaderSize + prefix + k + 1;
}

// How long after r's last send its next heartbeat is due, by monotonic
// mono: more than the usual 30 s; while r is probed, more than 2 s and
// on a tick that is a multiple of kProbeGridMs, so that the probes of many
// silent servers go out together, in a few walks a second instead of one
// walk each.
int32_t heartbeatGap(const serverRec* r, uint32_t mono) {
  if (!probing(r, mono)) return kHeartbeatMs;
  uint32_t toGrid = (0u - (r->lastSend + kProbeMs + 1)) & (kProbeGridMs - 1);
  return kProbeMs + static_cast<int32_t>(toGrid);
}

bool heartbeatDue(const serverRec* r, uint32_t tick, uint32_t mono) {
  return r->lastSend != 0 && static_cast<int32_t>(tick - r->lastSend) > heartbeatGap(r, mono);
}

// How long from tick until r's heartbeat falls due: 0 when it is due, the
// largest value when r has none.
uint32_t heartbeatIn(const serverRec* r, uint32_t tick, uint32_t mono) {
  if (r->lastSend == 0) return UINT32_MAX;
  int32_t gap = heartbeatGap(r, mono);
  return static_cast<int32_t>(tick - r->lastSend) > gap ? 0 : r->lastSend + gap + 1 - tick;
}

// The same, in monotonic time, for a held-back answer to a changed challenge.
uint32_t answerIn(const serverRec* r, uint32_t mono) {
  if (r->answerState != kAnswerWaiting) return UINT32_MAX;
  uint32_t since = mono - r->lastAnswer;
  return since >= kAnswerGapMs ? 0 : kAnswerGapMs - since;
}

// How long from mono on a walk would find no answer, silence or start of
// probing to handle for r.
uint32_t monoQuietFor(const serverRec* r, uint32_t mono) {
  uint32_t a = answerIn(r, mono);
  uint32_t s = silenceCheckIn(r, mono);
  uint32_t p = probeIn(r, mono);
  uint32_t q = s < a ? s : a;
  return p < q ? p : q;
}

// After a walk: how long from tick on no heartbeat can fall due, and from
// mono on no answer or silence report.
void rememberQuiet(uint32_t tick, uint32_t mono) {
  uint32_t quiet = UINT32_MAX, monoQuiet = UINT32_MAX;
  for (int i = 0; i < flServer.nodes(); i++) {
    uint32_t q = heartbeatIn(serverAt(i), tick, mono);
    uint32_t m = monoQuietFor(serverAt(i), mono);
    if (q < quiet) quiet = q;
    if (m < monoQuiet) monoQuiet = m;
  }
  g_hbQuiet = {true, tick, quiet, mono, monoQuiet, flServer.nodes()};
}

// True while what the last walk found still holds: nothing can be due, so
// walking every record again would find nothing to send.
bool quietAt(uint32_t tick, uint32_t mono) {
  return g_hbQuiet.known && g_hbQuiet.servers == flServer.nodes() &&
         tick - g_hbQuiet.from < g_hbQuiet.ms && mono - g_hbQuiet.monoFrom < g_hbQuiet.monoMs;
}

// Sends the len bytes of g_pkt to r. With IP_RECVERR a send fails, unsent,
// while the kernel holds an error of an earlier datagram (of any server) to
// report, and takes that report: the error queue is then read, as a failed
// receive would have it read, and the send tried once more.
void sendPacket(int sock, const serverRec* r, int len, uint32_t mono) {
  const char* data = reinterpret_cast<const char*>(g_pkt);
  if (trSendto(sock, data, len, r->ipPort) < 0 && takeSendErrors(sock, mono) > 0) {
    trSendto(sock, data, len, r->ipPort);
  }
}

void answerNow(serverRec* r, uint32_t tick, uint32_t mono) {
  markHeartbeatDue(r, tick);
  r->lastAnswer = mono;
  r->answerState = kAnswered;
}

}  // namespace

int buildPacket(const serverRec* r, const char* command) {
  int prefix = writeHeaderAndPrefix(r);
  if (!command) return kHeaderSize + prefix + 1;
  traf(textArea(), kTextAreaSize, "%s", command);
  return scrambleCommand(r, prefix);
}

void sendCommand(int sock, uint32_t tick, uint32_t mono, serverRec* r, const char* line) {
  int len = buildPacket(r, line);
  sendPacket(sock, r, len, mono);
  r->lastSend = tick;
  noteSent(r, mono, false);
  heartbeatsChanged();
}

void checkHeartbeat(int sock, uint32_t tick, uint32_t mono) {
  // A walk looks at every record, ten thousand of them in a large
  // configuration; most passes need none.
  if (quietAt(tick, mono)) return;
  for (int i = 0; i < flServer.nodes(); i++) {
    serverRec* r = g_server = serverAt(i);
    checkSilence(r, mono);
    if (r->answerState == kAnswerWaiting && mono - r->lastAnswer >= kAnswerGapMs)
      answerNow(r, tick, mono);
    if (!heartbeatDue(r, tick, mono)) continue;
    if (g_debug) log("sending heartbeat ...\n");
    int len = buildPacket(r, nullptr);
    if (g_debug) log("sending[%s] to %s\n", textArea(), r->ipPort);
    sendPacket(sock, r, len, mono);
    r->lastSend = tick;
    noteSent(r, mono, true);
  }
  rememberQuiet(tick, mono);
}

void heartbeatsChanged() { g_hbQuiet.known = false; }

void markHeartbeatDue(serverRec* r, uint32_t tick) {
  r->lastSend = tick - (kHeartbeatMs + 1000);
  if (r->lastSend == 0) r->lastSend = tick - (kHeartbeatMs + 1001);
  heartbeatsChanged();
}

void answerChallenge(serverRec* r, uint32_t tick, uint32_t mono) {
  if (r->answerState == kNoAnswerYet || mono - r->lastAnswer >= kAnswerGapMs) {
    answerNow(r, tick, mono);
  } else {
    r->answerState = kAnswerWaiting;
    heartbeatsChanged();  // a walk must send it when its second is over
  }
}

void armHeartbeats(uint32_t tick) {
  for (int i = 0; i < flServer.nodes(); i++) {
    serverRec* r = serverAt(i);
    if (r->lastSend == 1) markHeartbeatDue(r, tick);
  }
}

void sendExitNotices(int sock, uint32_t mono) {
  for (int i = 0; i < flServer.nodes(); i++) sendExitNotice(sock, g_server = serverAt(i), mono);
}

void sendExitNotice(int sock, serverRec* r, uint32_t mono) {
  int prefix = writeHeaderAndPrefix(r);
  traf(textArea(), kTextAreaSize, "qzuconexit");
  if (g_debug) log("sending[%s]\n", textArea());
  int len = scrambleCommand(r, prefix);
  sendPacket(sock, r, len, mono);
}
