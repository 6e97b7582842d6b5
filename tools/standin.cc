// The stand-in's wire functions and its behaviour towards consoles. Nothing
// here touches a socket or a clock: datagrams and times come in as
// arguments, and everything that leaves goes through standinIo.
#include "tools/standin.h"

#include <cstdarg>
#include <cstring>

#include "crypto/keystream.h"
#include "protocol/keys.h"
#include "runtime/sock.h"
#include "runtime/text.h"

namespace {

const unsigned char kMagic[8] = {0xFF, 0xFF, 0xFF, 0xFF, 'Q', 'Z', '_', 'U'};
const char kExitWord[] = "qzuconexit";

// Copies the field that ends at the next ';' at or after *pos (before end)
// into out; false when there is no ';' or the field has more than maxChars.
bool takeField(const unsigned char* p, int end, int* pos, char* out, int maxChars) {
  const void* semi = memchr(p + *pos, ';', static_cast<size_t>(end - *pos));
  if (semi == nullptr) return false;
  int len = static_cast<int>(static_cast<const unsigned char*>(semi) - (p + *pos));
  if (len > maxChars) return false;
  memcpy(out, p + *pos, static_cast<size_t>(len));
  out[len] = 0;
  *pos += len + 1;
  return true;
}

bool allZero(const unsigned char* b, int n) {
  for (int i = 0; i < n; i++) {
    if (b[i]) return false;
  }
  return true;
}


const char* packetError(int kind) {
  switch (kind) {
    case kPacketShort: return "short";
    case kPacketMagic: return "magic";
    case kPacketPrefix: return "prefix";
    default: return "no-text";
  }
}

}  // namespace

uint32_t consoleSeed(const unsigned char serverChallenge[4], const char* password) {
  return allZero(serverChallenge, 4) ? kStandinDefaultSeed : keystreamSeedFor(password);
}

int parseConsolePacket(const unsigned char* pkt, int n, const char* password, consolePacket* out) {
  if (n < kConsoleHeaderSize + 3) return kPacketShort;
  if (memcmp(pkt, kMagic, sizeof kMagic) != 0) return kPacketMagic;
  int pos = kConsoleHeaderSize;
  if (!takeField(pkt, n, &pos, out->consoleAddr, kAddrChars) ||
      !takeField(pkt, n, &pos, out->login, kLoginChars)) {
    return kPacketPrefix;
  }
  int tail = n - pos;
  if (tail < 1) return kPacketNoText;
  memcpy(out->clientChallenge, pkt + 8, 4);
  memcpy(out->serverChallenge, pkt + 12, 4);
  memcpy(out->digest, pkt + 16, 16);
  out->command[0] = 0;
  if (tail == 1 && pkt[pos] == 0) return kPacketHeartbeat;
  memcpy(out->command, pkt + pos, static_cast<size_t>(tail));
  keystreamXor(consoleSeed(out->serverChallenge, password), out->command,
               static_cast<size_t>(tail));
  out->command[tail] = 0;  // a text without its NUL ends with the packet
  return kPacketCommand;
}

bool proofValid(const consolePacket& p, const unsigned char issued[4], const char* password) {
  if (memcmp(p.serverChallenge, issued, 4) != 0) return false;
  unsigned char want[16];
  authDigestFor(password, issued, keystreamSeedFor(password), want);
  return memcmp(p.digest, want, sizeof want) == 0;
}

int buildServerDatagram(const unsigned char clientChallenge[4],
                        const unsigned char serverChallenge[4], uint32_t seed, const char* text,
                        unsigned char* out, int size) {
  if (size > kMaxDatagramSize) size = kMaxDatagramSize;
  if (size < kServerHeaderSize + 1) return -1;
  memcpy(out, clientChallenge, 4);
  memcpy(out + 4, serverChallenge, 4);
  size_t room = static_cast<size_t>(size - kServerHeaderSize - 1);
  size_t len = strnlen(text, room);
  memcpy(out + kServerHeaderSize, text, len);
  out[kServerHeaderSize + len] = 0;
  keystreamXor(seed, out + kServerHeaderSize, len + 1);
  return kServerHeaderSize + static_cast<int>(len) + 1;
}

void printableCopy(char* out, int size, const char* text) {
  if (size < 1) return;
  int i = 0;
  for (; i < size - 1 && text[i]; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    out[i] = c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '?';
  }
  out[i] = 0;
}

// ---- standin ----

standin::standin(const standinOptions& o, const char* self, standinIo* io, uint32_t randomSeed)
    : opt_(o), io_(io), rnd_(randomSeed ? randomSeed : 0x9E3779B9u) {
  strzcpy(self_, self, kAddrChars);
  seed_ = keystreamSeedFor(opt_.password);
  memset(slots_, 0, sizeof slots_);
}

uint32_t standin::nextRandom() {  // xorshift32: fresh challenges, not secrets
  rnd_ ^= rnd_ << 13;
  rnd_ ^= rnd_ >> 17;
  rnd_ ^= rnd_ << 5;
  return rnd_;
}

void standin::notef(bool routine, const char* fmt, ...) {
  if (routine && opt_.quiet) return;
  char raw[2048], line[2048];
  va_list ap;
  va_start(ap, fmt);
  vtrf(raw, sizeof raw, fmt, ap);
  va_end(ap);
  printableCopy(line, sizeof line, raw);  // network text must not break the line
  io_->note(line);
}

consoleSlot* standin::lookup(const char* addr) {
  for (consoleSlot& c : slots_) {
    if (c.used && strcmp(c.addr, addr) == 0) return &c;
  }
  return nullptr;
}

const consoleSlot* standin::find(const char* addr) const {
  return const_cast<standin*>(this)->lookup(addr);
}

consoleSlot* standin::admit(const consolePacket& p, const char* from, int64_t now) {
  for (consoleSlot& c : slots_) {
    if (c.used) continue;
    memset(&c, 0, sizeof c);
    c.used = true;
    strzcpy(c.addr, p.consoleAddr, kAddrChars);
    strzcpy(c.login, p.login, kLoginChars);
    // Replies go where the console says it listens; a name we cannot send
    // to falls back to where the packet came from.
    sockaddr_in a;
    bool usable = trDestAddr(p.consoleAddr, &a) && a.sin_addr.s_addr != INADDR_NONE &&
                  a.sin_port != 0;
    strzcpy(c.reply, usable ? p.consoleAddr : from, kAddrChars);
    c.challengedAt = now;
    return &c;
  }
  notef(false, "table-full console=%s login=%s", p.consoleAddr, p.login);
  return nullptr;
}

void standin::sendLine(consoleSlot* c, const unsigned char* challenge, uint32_t seed,
                       const char* text) {
  unsigned char buf[kMaxDatagramSize];
  int len = buildServerDatagram(c->clientChallenge, challenge, seed, text, buf, sizeof buf);
  if (len > 0) io_->send(c->reply, buf, len);
}

void standin::challenge(consoleSlot* c, const char* reason, int64_t now) {
  uint32_t v;
  do {
    v = nextRandom();
  } while (v == 0 || v == challengeSeed(c->issued));
  for (int i = 0; i < 4; i++) c->issued[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
  c->challengedAt = now;
  c->proven = false;
  char text[400];
  trf(text, sizeof text, "qzstandin %s welcome %s, challenge %08x\n", self_, c->login, v);
  sendLine(c, c->issued, seed_, text);
  notef(false, "challenge console=%s login=%s challenge=%08x reason=%s", c->addr, c->login, v,
        reason);
}

void standin::checkProof(consoleSlot* c, const consolePacket& p, int64_t now) {
  if (proofValid(p, c->issued, opt_.password)) {
    if (c->proven) return;
    c->proven = true;
    c->nextLineAt = now;
    notef(false, "proof-ok console=%s login=%s challenge=%08x", c->addr, c->login,
          challengeSeed(c->issued));
    return;
  }
  const char* reason = allZero(p.serverChallenge, 4) ? "unanswered" : "stale";
  if (memcmp(p.serverChallenge, c->issued, 4) == 0) {
    reason = "bad-proof";
    notef(false, "proof-bad console=%s login=%s challenge=%08x", c->addr, c->login,
          challengeSeed(c->issued));
  }
  if (c->proven) {
    notef(false, "proof-lost console=%s login=%s reason=%s", c->addr, c->login, reason);
  }
  c->proven = false;
  if (now - c->challengedAt >= kRechallengeMs) challenge(c, reason, now);
}

void standin::onCommand(consoleSlot* c, const consolePacket& p) {
  if (!c->proven) {
    notef(false, "ignored-command console=%s login=%s reason=unproven text=%s", c->addr, c->login,
          p.command);
    return;
  }
  notef(false, "command console=%s login=%s text=%s", c->addr, c->login, p.command);
  char line[kMaxDatagramSize];
  trf(line, sizeof line, "echo: %s\n", p.command);
  sendLine(c, c->issued, seed_, line);
}

void standin::onPacket(const unsigned char* pkt, int n, const char* from, int64_t now) {
  consolePacket& p = packet_;
  int kind = parseConsolePacket(pkt, n, opt_.password, &p);
  if (kind < 0) {
    notef(false, "bad-packet from=%s bytes=%d reason=%s", from, n, packetError(kind));
    return;
  }
  consoleSlot* c = lookup(p.consoleAddr);
  if (kind == kPacketCommand && strcmp(p.command, kExitWord) == 0) {
    notef(false, "exit console=%s login=%s known=%s proven=%s", p.consoleAddr, p.login,
          c ? "yes" : "no", c && c->proven ? "yes" : "no");
    if (c) c->used = false;
    return;
  }
  if (opt_.login[0] && strcmp(p.login, opt_.login) != 0) {
    notef(false, "unknown-login console=%s login=%s", p.consoleAddr, p.login);
    return;
  }
  if (c == nullptr) {
    c = admit(p, from, now);
    if (c == nullptr) return;
    memcpy(c->clientChallenge, p.clientChallenge, 4);
    challenge(c, "new", now);
  } else {
    memcpy(c->clientChallenge, p.clientChallenge, 4);
    checkProof(c, p, now);
  }
  if (kind == kPacketHeartbeat) {
    notef(true, "heartbeat console=%s login=%s proven=%s", c->addr, c->login,
          c->proven ? "yes" : "no");
  } else {
    onCommand(c, p);
  }
}

int64_t standin::tick(int64_t now) {
  if (opt_.intervalMs <= 0) return -1;
  int64_t wait = -1;
  for (consoleSlot& c : slots_) {
    if (!c.used || !c.proven || (opt_.count > 0 && c.lines >= opt_.count)) continue;
    if (now >= c.nextLineAt) {
      char text[400];
      trf(text, sizeof text, "qzstandin %s line %ld\n", self_, ++c.lines);
      sendLine(&c, c.issued, seed_, opt_.text[0] ? opt_.text : text);
      notef(true, "sent-line console=%s n=%ld", c.addr, c.lines);
      if (opt_.count > 0 && c.lines >= opt_.count) {
        notef(false, "count-reached console=%s lines=%ld", c.addr, c.lines);
        continue;
      }
      // A late pass does not make up for lost time with a burst.
      c.nextLineAt = c.nextLineAt + opt_.intervalMs > now ? c.nextLineAt + opt_.intervalMs
                                                          : now + opt_.intervalMs;
    }
    int64_t left = c.nextLineAt - now;
    if (wait < 0 || left < wait) wait = left;
  }
  return wait;
}
