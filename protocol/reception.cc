// Reception of the servers' scrambled log datagrams.
#include "protocol/reception.h"

#include <cstring>

#include "app/bounded.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/triggered.h"
#include "crypto/keystream.h"
#include "protocol/keys.h"
#include "protocol/outbound.h"
#include "protocol/peer.h"
#include "runtime/sock.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"

namespace {

constexpr unsigned char kUnprintable = 250;

// Datagrams taken with one call. Scratch for the one call that fills it:
// each datagram is copied to g_pkt and handled before the next call.
constexpr int kRecvBatch = 64;
struct rxBatch {
  mmsghdr msgs[kRecvBatch];
  iovec iov[kRecvBatch];
  sockaddr_in from[kRecvBatch];
  unsigned char data[kRecvBatch][kMaxDatagram];
};
rxBatch rxScratch;

bool sameDestination(const serverRec* r, const sockaddr_in& from) {
  sockaddr_in dest;
  return trDestAddr(r->ipPort, &dest) && dest.sin_addr.s_addr == from.sin_addr.s_addr &&
         dest.sin_port == from.sin_port;
}

// Every configured server whose packets go to dest.
template <typename F>
void eachServerAt(const sockaddr_in& dest, F f) {
  if (g_senders.ready(serverAt(0), flServer.nodes())) {
    // A chain holds every record whose key shares its bucket: each is checked.
    for (int i = g_senders.firstByDest(dest); i >= 0; i = g_senders.nextByDest(i)) {
      if (sameDestination(serverAt(i), dest)) f(serverAt(i));
    }
    return;
  }
  for (int i = 0; i < flServer.nodes(); i++) {
    if (sameDestination(serverAt(i), dest)) f(serverAt(i));
  }
}

}  // namespace

int takeSendErrors(int sock, uint32_t mono) {
  int i = 0;
  for (; i < kMaxErrorsPerPass; i++) {
    sockaddr_in dest = {};
    alignas(cmsghdr) unsigned char control[kErrControlSize];
    int len = 0;
    if (trReadErrQueue(sock, &dest, control, sizeof control, &len) < 0) break;
    sockError e;
    if (!decodeSockError(control, len, &e) || !e.portUnreachable) continue;
    char offender[kAddrTextSize];
    trAddrstr(reinterpret_cast<const sockaddr*>(&e.offender), offender);
    offender[strcspn(offender, ":")] = 0;  // an ICMP message has no port
    eachServerAt(dest, [&](serverRec* r) { notePortUnreachable(r, mono, offender); });
  }
  return i;
}

namespace {

// Up to want (at most kRecvBatch) waiting datagrams into rxScratch; how many, 0
// when none was waiting.
int receiveBatch(int sock, int want, uint32_t mono) {
  for (int i = 0; i < want; i++) {
    rxScratch.iov[i].iov_base = rxScratch.data[i];
    rxScratch.iov[i].iov_len = kMaxDatagram;
    memset(&rxScratch.msgs[i], 0, sizeof rxScratch.msgs[i]);
    memset(&rxScratch.from[i], 0, sizeof rxScratch.from[i]);
    rxScratch.msgs[i].msg_hdr.msg_iov = &rxScratch.iov[i];
    rxScratch.msgs[i].msg_hdr.msg_iovlen = 1;
    rxScratch.msgs[i].msg_hdr.msg_name = &rxScratch.from[i];
    rxScratch.msgs[i].msg_hdr.msg_namelen = sizeof rxScratch.from[i];
  }
  int got = trRecvBatch(sock, rxScratch.msgs, static_cast<unsigned>(want));
  // A queued send error fails the receive once (ECONNREFUSED); the
  // datagrams behind it are taken in the next pass.
  if (got < 0 && !trWouldBlock()) takeSendErrors(sock, mono);
  return got > 0 ? got : 0;
}

bool challengeMatches(const serverRec* r, const unsigned char* challenge) {
  return memcmp(challenge + kInClientChallengeOffset, r->header + kClientChallengeOffset,
                kChallengeSize) == 0;
}

void takeNewChallenge(serverRec* r, uint32_t tick, uint32_t mono) {
  const unsigned char* was = r->header + kServerChallengeOffset;
  const unsigned char* now = g_pkt + kInServerChallengeOffset;
  logBoundedAbout(r, kNewChallenge, mono, g_temp, was[0], was[1], was[2], was[3], now[0], now[1],
                  now[2], now[3]);
  memcpy(r->header + kServerChallengeOffset, now, kChallengeSize);
  answerChallenge(r, tick, mono);
  noteChallenge(r);
  r->rseed = keystreamSeedFor(r->password);
  authDigestFor(r->password, now, r->rseed, r->header + kAuthDigestOffset);
}

void makePrintable(unsigned char* text, int len) {
  for (int i = 0; i < len; i++) {
    unsigned char c = text[i];
    if (c != 0 && c != '\n' && (c < 0x20 || c > 0x7E)) text[i] = kUnprintable;
  }
}

// own: the server's own text before it was made printable, for the journal
// and followers; null when neither is there.
void showText(const serverRec* r, const char* text, const char* own) {
  char saved[sizeof g_logfn];
  memcpy(saved, g_logfn, sizeof saved);
  serverLogName(r->ipPort, g_logfn, sizeof g_logfn);
  // "->%s", with a line end unless the text has its own.
  size_t len = strlen(text);  // kMaxDatagram at most: the message is never cut
  char msg[kMaxDatagram + 4];
  msg[0] = '-';
  msg[1] = '>';
  memcpy(msg + 2, text, len);
  if (len == 0 || text[len - 1] != '\n') msg[2 + len++] = '\n';
  msg[2 + len] = 0;
  line l;
  l.server = r;
  l.kind = kJournalServer;
  l.priority = kPrioInfo;
  l.text = msg;
  l.len = static_cast<int>(2 + len);
  l.body = text;  // the alerts see the text as the screen does
  l.own = own;
  emit(l);
  memcpy(g_logfn, saved, sizeof saved);
}

// A datagram that brings no log text: from no configured server (r null) or
// too short. Returns 1 when its line was written, 0 when only counted.
int reportDropped(serverRec* r, uint32_t mono) {
  if (!r) return logBounded(kUnknownSender, mono, g_temp) ? 1 : 0;
  return logBoundedAbout(r, kShortPacket, mono, g_temp, reinterpret_cast<char*>(g_pkt)) ? 1 : 0;
}

bool sendsAs(const serverRec* r, const char* text, const unsigned char* challenge) {
  return strcmp(text, r->address) == 0 && challengeMatches(r, challenge);
}

bool sendsFrom(const serverRec* r, const sockaddr_in& from, const unsigned char* challenge) {
  return sameDestination(r, from) && challengeMatches(r, challenge);
}

// The two walks over the list that the sender index stands in for; used when
// the index cannot be built.
serverRec* walkSenders(const sockaddr_in& from, const char* text, const unsigned char* challenge) {
  for (int i = 0; i < flServer.nodes(); i++) {
    g_server = serverAt(i);
    if (sendsAs(g_server, text, challenge)) return g_server;
  }
  // A server configured by name or in another numeric form never sends from
  // its configured text; recognise it by where its packets go instead.
  for (int i = 0; i < flServer.nodes(); i++) {
    g_server = serverAt(i);
    if (sendsFrom(g_server, from, challenge)) return g_server;
  }
  return nullptr;
}

// The same two walks over the index's candidates: the position found, or -1.
int indexedSender(const sockaddr_in& from, const char* text, const unsigned char* challenge) {
  int i = g_senders.firstByText(text);
  while (i >= 0 && !sendsAs(serverAt(i), text, challenge)) i = g_senders.nextByText(i);
  if (i >= 0) return i;
  i = g_senders.firstByDest(from);
  while (i >= 0 && !sendsFrom(serverAt(i), from, challenge)) i = g_senders.nextByDest(i);
  return i;
}

}  // namespace

serverRec* matchSender(const sockaddr_in& from, const char* text, const unsigned char* challenge) {
  int n = flServer.nodes();
  if (!g_senders.ready(serverAt(0), n)) return walkSenders(from, text, challenge);
  int i = indexedSender(from, text, challenge);
  // g_server ends where the walks would leave it: on the match, else on the last record.
  if (i >= 0 || n > 0) g_server = serverAt(i >= 0 ? i : n - 1);
  return i >= 0 ? g_server : nullptr;
}

int handleServerDatagram(const sockaddr_in& from, int n, uint32_t tick, uint32_t mono) {
  // The text ends at the datagram's end, never in an earlier datagram's bytes,
  // and a short datagram's missing header bytes read as zero.
  g_pkt[n] = 0;
  if (n < kInTextOffset) memset(g_pkt + n, 0, kInTextOffset - n);
  trAddrstr(reinterpret_cast<const sockaddr*>(&from), g_temp);
  const unsigned char* h = g_pkt;
  if (g_debug) {
    log("received %d bytes from %s header=[%02x%02x%02x%02x][%02x%02x%02x%02x]\n", n, g_temp, h[0],
        h[1], h[2], h[3], h[4], h[5], h[6], h[7]);
  }
  serverRec* r = matchSender(from, g_temp, g_pkt);
  if (r) noteHeard(r, n, mono);
  if (!r || n < kInTextOffset) return reportDropped(r, mono);
  if (memcmp(g_pkt + kInServerChallengeOffset, r->header + kServerChallengeOffset,
             kChallengeSize) != 0) {
    takeNewChallenge(r, tick, mono);
  }
  unsigned char* text = g_pkt + kInTextOffset;
  int len = n - kInTextOffset;
  keystreamXor(r->rseed, text, len);
  noteLine(r, mono, text, len);
  // The journal and followers take the server's own bytes (as UTF-8:
  // players' names and chat in any language); the screen, the files and the
  // alert rules the printable form.
  static char own[kMaxDatagram + 1];
  bool keepOwn = ownTextWanted();
  if (keepOwn) memcpy(own, text, static_cast<size_t>(len) + 1);  // with g_pkt[n]'s 0
  makePrintable(text, len);
  showText(r, reinterpret_cast<char*>(text), keepOwn ? own : nullptr);
  return 1;
}

int processServerLogging(int sock, uint32_t tick, uint32_t mono, bool* full) {
  int taken = 0, written = 0;
  if (full) *full = true;
  while (written < kMaxDatagramsPerPass && taken < kMaxTakenPerPass) {
    // Never more than the bounds still allow: a datagram taken is gone from
    // the queue, so each one taken must be handled in this pass.
    int want = kRecvBatch;
    if (want > kMaxDatagramsPerPass - written) want = kMaxDatagramsPerPass - written;
    if (want > kMaxTakenPerPass - taken) want = kMaxTakenPerPass - taken;
    int got = receiveBatch(sock, want, mono);
    for (int i = 0; i < got; i++) {
      int n = static_cast<int>(rxScratch.msgs[i].msg_len);
      taken++;
      if (n <= 0) {
        g_emptyDatagrams++;
        continue;
      }
      memcpy(g_pkt, rxScratch.data[i], static_cast<size_t>(n));
      written += handleServerDatagram(rxScratch.from[i], n, tick, mono);
      sendTriggered(sock, tick, mono);  // g_pkt is free again
    }
    if (got < want) {  // the queue is empty: no call just to hear that
      if (full) *full = false;
      break;
    }
  }
  return taken;
}
