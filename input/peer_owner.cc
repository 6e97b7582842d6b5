// The owner check of local input peers.
#include "input/peer_owner.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/bounded.h"
#include "app/globals.h"
#include "app/log.h"
#include "runtime/files.h"
#include "runtime/sock.h"

namespace {

// Read size for the tables; a line is about 150 characters (IPv6: 180).
constexpr int kTableChunk = 8192;
constexpr int kHexAddrChars = 32;

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

void logRefusal(bool tcp, peerVerdict v, const char* text, uint32_t tick) {
  lineKind kind = tcp ? (v == kPeerOtherUser ? kTcpOtherUser : kTcpUnverified)
                      : (v == kPeerOtherUser ? kUdpOtherUser : kUdpUnverified);
  logBounded(kind, tick, text);
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

void lookupPeerOwner(const sockKey& key, sockOwner* owner) {
  *owner = sockOwner();
  scanTableFile(key.tcp ? "/proc/net/tcp" : "/proc/net/udp", key, owner);
  scanTableFile(key.tcp ? "/proc/net/tcp6" : "/proc/net/udp6", key, owner);
}

bool admitLocalPeer(const sockaddr_in& peer, int conn, const char* text, uint32_t tick) {
  if (g_localusers == kLocalUsersAny) return true;
  sockKey key = {peer.sin_addr.s_addr, ntohs(peer.sin_port), conn >= 0, 0, 0};
  sockaddr_in self = {};
  if (key.tcp && trSockName(conn, &self) == 0) {
    key.remoteIp = self.sin_addr.s_addr;
    key.remotePort = ntohs(self.sin_port);
  }
  sockOwner owner;
  lookupPeerOwner(key, &owner);
  peerVerdict v = judgeOwner(owner, trUid());
  if (v != kPeerAccepted) logRefusal(key.tcp, v, text, tick);
  return v == kPeerAccepted;
}
