// The owner check of local input peers.
#include "input/peer_owner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/bounded.h"
#include "app/globals.h"
#include "app/log.h"
#include "input/admin_input.h"
#include "runtime/files.h"
#include "runtime/sock.h"
#include "runtime/sockdiag.h"

namespace {

// Read size for the tables; a line is about 150 characters (IPv6: 180).
constexpr int kTableChunk = 8192;
constexpr int kHexAddrChars = 32;
// One socket's reply: its message and the few attributes the kernel adds.
constexpr int kDiagReplySize = 4096;
// Short, so that the owner who binds a port a stranger just used is soon let
// in; a flood from the stranger's port still costs only five lookups a second.
constexpr uint32_t kRememberMs = 200;
// Each lookup has a netlink socket of its own, so no earlier reply can wait
// in it: one number does.
constexpr uint32_t kDiagSeq = 1;

struct diagRequestMsg {
  nlmsghdr head;
  inet_diag_req_v2 req;
};
static_assert(sizeof(diagRequestMsg) == kDiagRequestSize, "netlink request layout");

// A dump with a filter the kernel runs on each socket: its local port is at
// least and at most the key's. A failed test jumps past the end: refused.
struct diagDumpMsg {
  nlmsghdr head;
  inet_diag_req_v2 req;
  nlattr filter;
  inet_diag_bc_op code[4];
};
static_assert(sizeof(diagDumpMsg) == kDiagDumpSize, "netlink dump layout");
// Parts of a dump read at most: a port bound by more sockets than these
// hold is no sender anyone can verify.
constexpr int kDumpParts = 16;

// One 32-bit word of a table address, as the kernel prints it.
uint32_t hexWord(const char* hex) {
  char word[9];
  memcpy(word, hex, 8);
  word[8] = 0;
  return static_cast<uint32_t>(strtoul(word, nullptr, 16));
}

// An address of 8 hex digits (IPv4) or 32 (IPv6). An IPv6 address counts as
// IPv4 when it is the wildcard or IPv4-mapped (::ffff:a.b.c.d).
bool parseHexAddr(const char* hex, uint32_t* ip, bool* v4) {
  size_t len = strlen(hex);
  if (len == 8) {
    *ip = hexWord(hex);
    *v4 = true;
    return true;
  }
  if (len != kHexAddrChars) return false;
  uint32_t w[4];
  for (int i = 0; i < 4; i++) w[i] = hexWord(hex + 8 * i);
  *ip = w[3];
  *v4 = w[0] == 0 && w[1] == 0 && (w[2] == htonl(0xFFFF) || (w[2] == 0 && w[3] == 0));
  return true;
}

bool entryMatches(const sockEntry& e, const sockKey& k) {
  if (!e.v4 || e.localPort != k.port) return false;
  if (k.tcp) return e.localIp == k.ip && e.remoteIp == k.remoteIp && e.remotePort == k.remotePort;
  return e.localIp == k.ip || e.localIp == 0;
}

void noteMatch(sockOwner* o, const sockEntry& e) {
  if (o->matches == 0) {
    o->uid = e.uid;
    o->inode = e.inode;
  } else if (e.uid != o->uid || (e.inode == 0) != (o->inode == 0)) {
    o->mixed = true;
  }
  o->matches++;
}

// Scans one table file in chunks, whole lines at a time.
void scanTableFile(const char* name, const sockKey& key, sockOwner* owner) {
  int fd = trOpenRead(name);
  if (fd < 0) return;
  char buf[kTableChunk + 1];
  int have = 0;
  for (int n; (n = trFileRead(fd, buf + have, kTableChunk - have)) > 0;) {
    have += n;
    buf[have] = 0;
    char* end = strrchr(buf, '\n');
    if (end == nullptr) {
      if (have == kTableChunk) have = 0;  // no line of a socket table is this long
      continue;
    }
    *end = 0;
    scanSockTable(buf, key, owner);
    have = static_cast<int>(buf + have - (end + 1));
    memmove(buf, end + 1, static_cast<size_t>(have));
  }
  trFileClose(fd);
}

// The same pair seen from the console's end: a socket that surely exists.
sockKey consoleEnd(const sockKey& k) { return {k.remoteIp, k.remotePort, k.tcp, k.ip, k.port}; }

// Every UDP socket of one family bound at the key's port, into *owner.
bool dumpFamily(const sockKey& key, int family, sockOwner* owner) {
  int h = trDiagOpen();
  if (h < 0) return false;
  char req[kDiagDumpSize];
  int len = diagDumpRequest(key, family, kDiagSeq, req);
  int state = trDiagAsk(h, req, static_cast<unsigned>(len)) == len ? 0 : -1;
  alignas(nlmsghdr) char reply[kDiagReplySize * 4];
  // The kernel makes each part of a dump as it is read: one is always waiting.
  for (int part = 0; state == 0 && part < kDumpParts; part++) {
    int n = trDiagReply(h, reply, sizeof reply);
    state = n > 0 ? parseDiagDump(reply, n, kDiagSeq, key, owner) : -1;
  }
  trClosesocket(h);
  return state == 1;
}

// The kernel's word on every socket a UDP sender's address may be: IPv4
// ones and IPv6 ones that take IPv4 (the wildcard, or IPv4-mapped).
diagAnswer askKernelUdp(const sockKey& key, sockOwner* owner) {
  if (!dumpFamily(key, AF_INET, owner) || !dumpFamily(key, AF_INET6, owner)) return kDiagRefused;
  return owner->matches > 0 ? kDiagFound : kDiagNoSocket;
}

diagAnswer askKernel(const sockKey& key, sockOwner* owner) {
  if (!key.tcp) return askKernelUdp(key, owner);
  int h = trDiagOpen();
  if (h < 0) return kDiagRefused;
  char req[kDiagRequestSize];
  int len = diagRequest(key, kDiagSeq, req);
  alignas(nlmsghdr) char reply[kDiagReplySize];
  int n = trDiagAsk(h, req, static_cast<unsigned>(len)) == len ? trDiagReply(h, reply, sizeof reply)
                                                               : -1;
  trClosesocket(h);
  return n > 0 ? parseDiagReply(reply, n, kDiagSeq, owner) : kDiagRefused;
}

// Asks the kernel's diagnostics while they are not known to be missing, and
// learns on first use whether they are.
diagAnswer askDiagnostics(const sockKey& key, sockOwner* owner) {
  uint8_t* state = &g_diagState[key.tcp ? 1 : 0];
  if (*state == kDiagUnavailable) return kDiagRefused;
  diagAnswer a = askKernel(key, owner);
  if (*state == kDiagUntried) {
    sockOwner self = {};
    if (a == kDiagNoSocket && askKernel(consoleEnd(key), &self) != kDiagFound) a = kDiagRefused;
    *state = a == kDiagRefused ? kDiagUnavailable : kDiagWorks;
  }
  return a;
}

// The slot set of a peer: ports spread it, the address (mostly 127.0.0.1)
// hardly at all.
int refusedSet(const sockKey& k) {
  uint32_t h = (k.ip * 2654435761u) ^ k.port ^ (k.tcp ? 0x8000u : 0u);
  return static_cast<int>(h % refusedPeers::kSets);
}

bool sameKey(const refusedPeers::entry& e, const sockKey& k) {
  return e.used && e.ip == k.ip && e.port == k.port && e.tcp == k.tcp;
}

// Tick arithmetic that survives the tick's wrap.
bool before(uint32_t tick, uint32_t until) { return static_cast<int32_t>(until - tick) > 0; }

// The address text is made only for a line that is logged: a flood from a
// refused port is counted, not formatted.
void logRefusal(bool tcp, peerVerdict v, const sockaddr_in& peer, uint32_t tick) {
  lineKind kind = tcp ? (v == kPeerOtherUser ? kTcpOtherUser : kTcpUnverified)
                      : (v == kPeerOtherUser ? kUdpOtherUser : kUdpUnverified);
  // Formatted for every refused datagram: a few hundred ns beside the
  // receive that brought it.
  char text[kAddrTextSize];
  trAddrstr(reinterpret_cast<const sockaddr*>(&peer), text);
  logBounded(kind, tick, text);
}

sockKey keyOf(const sockaddr_in& peer, bool tcp) {
  return {peer.sin_addr.s_addr, ntohs(peer.sin_port), tcp, 0, 0};
}

}  // namespace

bool parseSockLine(const char* line, sockEntry* out) {
  char local[kHexAddrChars + 1], remote[kHexAddrChars + 1];
  unsigned lport = 0, rport = 0, uid = 0;
  unsigned long inode = 0;
  if (sscanf(line, " %*u: %32[0-9A-Fa-f]:%x %32[0-9A-Fa-f]:%x %*x %*x:%*x %*x:%*x %*x %u %*d %lu",
             local, &lport, remote, &rport, &uid, &inode) != 6) {
    return false;
  }
  bool remoteV4 = false;
  if (!parseHexAddr(local, &out->localIp, &out->v4) ||
      !parseHexAddr(remote, &out->remoteIp, &remoteV4)) {
    return false;
  }
  out->localPort = static_cast<uint16_t>(lport);
  out->remotePort = static_cast<uint16_t>(rport);
  out->uid = uid;
  out->inode = inode;
  return true;
}

void scanSockTable(const char* text, const sockKey& key, sockOwner* owner) {
  for (const char* line = text; line && *line; line = strchr(line, '\n')) {
    if (*line == '\n') line++;
    sockEntry e;
    if (parseSockLine(line, &e) && entryMatches(e, key)) noteMatch(owner, e);
  }
}

peerVerdict judgeOwner(const sockOwner& owner, uint32_t myUid) {
  // An orphan is listed as root's; its inode 0 tells it apart.
  if (owner.matches == 0 || owner.mixed || owner.inode == 0) return kPeerUnverified;
  return owner.uid == myUid || owner.uid == 0 ? kPeerAccepted : kPeerOtherUser;
}

int diagRequest(const sockKey& key, uint32_t seq, void* out) {
  diagRequestMsg m = {};
  m.head.nlmsg_len = sizeof m;
  m.head.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  m.head.nlmsg_flags = NLM_F_REQUEST;
  m.head.nlmsg_seq = seq;
  m.req.sdiag_family = AF_INET;
  m.req.sdiag_protocol = key.tcp ? IPPROTO_TCP : IPPROTO_UDP;
  m.req.idiag_states = ~0u;
  // The kernel finds a TCP socket by its own end as the source; a UDP socket
  // it finds as the receiver of a datagram from the source, so there the
  // peer is the destination.
  inet_diag_sockid& id = m.req.id;
  uint32_t srcIp = key.tcp ? key.ip : key.remoteIp, dstIp = key.tcp ? key.remoteIp : key.ip;
  uint16_t srcPort = key.tcp ? key.port : key.remotePort;
  uint16_t dstPort = key.tcp ? key.remotePort : key.port;
  id.idiag_src[0] = srcIp;
  id.idiag_dst[0] = dstIp;
  id.idiag_sport = htons(srcPort);
  id.idiag_dport = htons(dstPort);
  id.idiag_cookie[0] = id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  memcpy(out, &m, sizeof m);
  return static_cast<int>(sizeof m);
}

int diagDumpRequest(const sockKey& key, int family, uint32_t seq, void* out) {
  diagDumpMsg m = {};
  m.head.nlmsg_len = sizeof m;
  m.head.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  m.head.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  m.head.nlmsg_seq = seq;
  m.req.sdiag_family = static_cast<uint8_t>(family);
  m.req.sdiag_protocol = IPPROTO_UDP;
  m.req.idiag_states = ~0u;
  m.filter.nla_len = sizeof m.filter + sizeof m.code;
  m.filter.nla_type = INET_DIAG_REQ_BYTECODE;
  // Each test is two ops, the second holding the port; "no" leads 4 bytes
  // past the end of what is left, which the kernel reads as refused.
  m.code[0] = {INET_DIAG_BC_S_GE, 8, 16 + 4};
  m.code[1] = {0, 0, key.port};
  m.code[2] = {INET_DIAG_BC_S_LE, 8, 8 + 4};
  m.code[3] = {0, 0, key.port};
  memcpy(out, &m, sizeof m);
  return static_cast<int>(sizeof m);
}

int parseDiagDump(const void* reply, int len, uint32_t seq, const sockKey& key,
                  sockOwner* owner) {
  const nlmsghdr* h = static_cast<const nlmsghdr*>(reply);
  for (; len > 0 && NLMSG_OK(h, static_cast<unsigned>(len)); h = NLMSG_NEXT(h, len)) {
    if (h->nlmsg_seq != seq) continue;
    if (h->nlmsg_type == NLMSG_DONE) return 1;
    if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      return -1;
    }
    const inet_diag_msg* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
    sockEntry e = {};
    e.localPort = ntohs(m->id.idiag_sport);
    e.uid = m->idiag_uid;
    e.inode = m->idiag_inode;
    const uint32_t* a = m->id.idiag_src;
    if (m->idiag_family == AF_INET) {
      e.localIp = a[0];
      e.v4 = true;
    } else {
      e.localIp = a[3];
      e.v4 = a[0] == 0 && a[1] == 0 && (a[2] == htonl(0xFFFF) || (a[2] == 0 && a[3] == 0));
    }
    if (entryMatches(e, key)) noteMatch(owner, e);
  }
  return len == 0 ? 0 : -1;
}

diagAnswer parseDiagReply(const void* reply, int len, uint32_t seq, sockOwner* owner) {
  const nlmsghdr* h = static_cast<const nlmsghdr*>(reply);
  for (; len > 0 && NLMSG_OK(h, static_cast<unsigned>(len)); h = NLMSG_NEXT(h, len)) {
    if (h->nlmsg_seq != seq) continue;  // a late answer to an earlier question
    if (h->nlmsg_type == NLMSG_ERROR) {
      if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return kDiagRefused;
      const nlmsgerr* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
      return e->error == -ENOENT ? kDiagNoSocket : kDiagRefused;
    }
    if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      return kDiagRefused;
    }
    const inet_diag_msg* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
    *owner = {1, m->idiag_uid, m->idiag_inode, false};
    return kDiagFound;
  }
  return kDiagRefused;
}

void lookupPeerOwner(const sockKey& key, sockOwner* owner) {
  *owner = sockOwner();
  if (askDiagnostics(key, owner) != kDiagRefused) return;
  *owner = sockOwner();
  scanTableFile(key.tcp ? "/proc/net/tcp" : "/proc/net/udp", key, owner);
  scanTableFile(key.tcp ? "/proc/net/tcp6" : "/proc/net/udp6", key, owner);
}

bool refusedPeers::has(const sockKey& key, uint32_t tick) const {
  for (const entry& e : slot[refusedSet(key)]) {
    if (sameKey(e, key) && before(tick, e.until)) return true;
  }
  return false;
}

void refusedPeers::add(const sockKey& key, uint32_t tick) {
  entry* set = slot[refusedSet(key)];
  entry* pick = &set[0];
  for (int i = 0; i < kWays; i++) {
    entry* e = &set[i];
    if (sameKey(*e, key) || !e->used || !before(tick, e->until)) {
      pick = e;
      break;
    }
    if (before(e->until, pick->until)) pick = e;
  }
  *pick = {key.ip, tick + kRememberMs, key.port, key.tcp, true};
}

void refusedPeers::reset() { memset(slot, 0, sizeof slot); }

bool refusedLately(const sockaddr_in& peer, bool tcp, uint32_t tick) {
  if (g_localusers == kLocalUsersAny || !g_refusedPeers.has(keyOf(peer, tcp), tick)) return false;
  logRefusal(tcp, kPeerOtherUser, peer, tick);
  return true;
}

bool admitLocalPeer(const sockaddr_in& peer, int self, bool tcp, uint32_t tick) {
  if (g_localusers == kLocalUsersAny) return true;
  if (refusedLately(peer, tcp, tick)) return false;
  sockKey key = keyOf(peer, tcp);
  sockaddr_in end = {};
  if (trSockName(self, &end) == 0) {
    key.remoteIp = end.sin_addr.s_addr;
    key.remotePort = ntohs(end.sin_port);
  }
  sockOwner owner;
  lookupPeerOwner(key, &owner);
  peerVerdict v = judgeOwner(owner, trUid());
  if (v == kPeerOtherUser) g_refusedPeers.add(key, tick);
  if (v != kPeerAccepted) logRefusal(tcp, v, peer, tick);
  return v == kPeerAccepted;
}
