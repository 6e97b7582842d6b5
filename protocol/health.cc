// Link health of each server: silence, noise after a challenge, counters.
#include "protocol/health.h"

#include "app/log.h"
#include "protocol/server.h"
#include "runtime/text.h"

namespace {

// Length of a well-formed UTF-8 sequence starting at p (at most n bytes), or
// 0 when the bytes there are not one.
int utf8Length(const unsigned char* p, int n) {
  int len = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
  if (len == 0 || len > n || p[0] > 0xF4) return 0;
  for (int i = 1; i < len; i++) {
    if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return len;
}

bool plainByte(unsigned char c) {
  return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

bool looksScrambled(const unsigned char* text, int len) {
  if (len < kNoiseMinBytes) return false;
  int noise = 0;
  int chars = 0;
  for (int i = 0; i < len; chars++) {
    int step = plainByte(text[i]) ? 1 : utf8Length(text + i, len - i);
    if (step == 0) {
      noise++;
      step = 1;
    }
    i += step;
  }
  return noise * 4 > chars;
}

void noteSent(serverRec* r, uint32_t tick, bool heartbeat) {
  serverHealth& h = r->health;
  if (!h.sent) h.firstSend = tick;
  h.sent = 1;
  if (heartbeat) h.heartbeats++;
  if (h.challenged) h.answered = 1;
}

void noteChallenge(serverRec* r) {
  r->health.challenged = 1;
  r->health.answered = 0;
  r->health.mismatch = 0;
}

void noteHeard(serverRec* r) {
  serverHealth& h = r->health;
  if (!h.heard && h.silenceLogged) log("**First answer from %s\n", r->ipPort);
  h.heard = 1;
}

void noteLine(serverRec* r, uint32_t tick, const unsigned char* text, int len) {
  serverHealth& h = r->health;
  h.lines++;
  h.lastLine = tick;
  // Before any challenge both sides use the default seed, so noise then
  // says nothing about the password.
  if (!h.challenged || h.mismatch || !looksScrambled(text, len)) return;
  h.mismatch = 1;
  log("**Password mismatch for %s: its text does not unscramble; check password= for this "
      "server\n", r->ipPort);
}

void checkSilence(serverRec* r, uint32_t tick) {
  if (silenceCheckIn(r, tick) != 0) return;
  r->health.silenceLogged = 1;
  log("**No answer from %s after %d s: server down, wrong myaddr= or a firewall?\n", r->ipPort,
      static_cast<int>(kSilenceMs / 1000));
}

uint32_t silenceCheckIn(const serverRec* r, uint32_t tick) {
  const serverHealth& h = r->health;
  if (!h.sent || h.heard || h.silenceLogged) return UINT32_MAX;
  // In 64 bits: a clock set far back makes the difference hugely negative.
  int64_t left = int64_t(kSilenceMs) - static_cast<int32_t>(tick - h.firstSend);
  return left <= 0 ? 0 : left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
}

linkStateKind linkState(const serverRec* r) {
  const serverHealth& h = r->health;
  if (h.mismatch) return kLinkMismatch;
  if (h.silenceLogged && !h.heard) return kLinkNoAnswer;
  return h.answered ? kLinkUp : kLinkWaiting;
}

void statusLine(const serverRec* r, uint32_t tick, char* out, int size) {
  const serverHealth& h = r->health;
  char last[32];
  if (h.lines == 0) {
    strzcpy(last, "never", sizeof last - 1);
  } else {
    int32_t ago = static_cast<int32_t>(tick - h.lastLine);
    trf(last, sizeof last, "%ld s ago", static_cast<long>(ago < 0 ? 0 : ago / 1000));
  }
  trf(out, size, "status %s: challenge %s, last line %s, lines %lu, heartbeats %lu%s%s\n",
      r->ipPort, h.answered ? "answered" : "not answered", last,
      static_cast<unsigned long>(h.lines), static_cast<unsigned long>(h.heartbeats),
      h.mismatch ? ", password mismatch" : "", h.silenceLogged && !h.heard ? ", no answer" : "");
}
