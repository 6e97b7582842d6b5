// IPv4 sockets by address text. Each wrapper is the system call and its raw
// result; the only logic here is turning "a.b.c.d:port" into an address,
// which is kept pure (trDestAddr) so it can be checked without a socket.
#include "runtime/sock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <linux/sock_diag.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "runtime/text.h"

namespace {
// Longer address parts are no dotted address a user would write; they are
// treated as unparseable instead of being cut into something that parses.
constexpr size_t kHostTextSize = 64;

sockaddr_in anyAddr(unsigned port) {
  sockaddr_in a;
  memset(&a, 0, sizeof(a));
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port & 0xFFFFu));
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  return a;
}

in_addr_t hostPart(const char* dest) {
  size_t len = strcspn(dest, ":");
  if (len >= kHostTextSize) return INADDR_NONE;
  char host[kHostTextSize];
  memcpy(host, dest, len);
  host[len] = '\0';
  return inet_addr(host);
}

// The port after the first ':', 0 without one.
uint16_t destPort(const char* dest) {
  const char* colon = strchr(dest, ':');
  if (colon == nullptr) return 0;
  // strtol clamps where atol would overflow; the low 16 bits are the port.
  long port = strtol(colon + 1, nullptr, 10);
  return static_cast<uint16_t>(static_cast<unsigned long>(port) & 0xFFFFu);
}
}  // namespace

int trSocket(int type) { return socket(AF_INET, type == 0 ? SOCK_DGRAM : SOCK_STREAM, 0); }

int trReuseAddr(int h) {
  int one = 1;
  return setsockopt(h, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
}

int trBind(int h, unsigned port, const char* addr) {
  sockaddr_in a = anyAddr(port);
  if (addr != nullptr && addr[0] != '\0') a.sin_addr.s_addr = inet_addr(addr);
  return bind(h, reinterpret_cast<const sockaddr*>(&a), sizeof(a));
}

int trNonblock(int h) {
  int flags = fcntl(h, F_GETFL);
  if (flags == -1) return 0;
  return fcntl(h, F_SETFL, flags | O_NONBLOCK) != -1 ? 1 : 0;
}

int trListen(int h, int backlog) { return listen(h, backlog); }

int trAcceptFrom(int h, sockaddr* peer) {
  socklen_t len = sizeof(sockaddr_in);
  return accept(h, peer, peer != nullptr ? &len : nullptr);
}

int trRecv(int h, char* buf, unsigned len) { return static_cast<int>(read(h, buf, len)); }

int trRecvfrom(int h, char* buf, unsigned len, sockaddr* from, int* fromLen) {
  if (from == nullptr || fromLen == nullptr) {
    return static_cast<int>(recvfrom(h, buf, len, 0, nullptr, nullptr));
  }
  socklen_t l = *fromLen > 0 ? static_cast<socklen_t>(*fromLen) : 0;
  int r = static_cast<int>(recvfrom(h, buf, len, 0, from, &l));
  *fromLen = static_cast<int>(l);
  return r;
}

int trRecvBatch(int h, mmsghdr* msgs, unsigned n) {
  return recvmmsg(h, msgs, n, MSG_DONTWAIT, nullptr);
}

int trSendBatch(int h, mmsghdr* msgs, unsigned n) { return sendmmsg(h, msgs, n, 0); }

int trDestAddr(const char* dest, sockaddr_in* out) {
  if (dest == nullptr || dest[0] == '\0' || out == nullptr) return 0;
  *out = anyAddr(destPort(dest));
  out->sin_addr.s_addr = hostPart(dest);
  return 1;
}

int trSendto(int h, const char* data, unsigned len, const char* dest) {
  sockaddr_in a;
  if (!trDestAddr(dest, &a)) return 0;
  return static_cast<int>(
      sendto(h, data, len, 0, reinterpret_cast<const sockaddr*>(&a), sizeof(a)));
}

int trConnect(int h, const char* dest) {
  sockaddr_in to;
  if (!trDestAddr(dest, &to)) return -1;
  return connect(h, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// By hand rather than through inet_ntop and a format: it runs for every
// datagram a busy console takes.
char* trAddrstr(const sockaddr* addr, char* out) {
  if (out == nullptr) return out;
  out[0] = '\0';
  if (addr == nullptr) return out;
  sockaddr_in a;
  memcpy(&a, addr, sizeof(a));
  const unsigned char* ip = reinterpret_cast<const unsigned char*>(&a.sin_addr.s_addr);
  char* p = out;  // at most "255.255.255.255:65535": 21 characters and the NUL
  for (int i = 0; i < 4; i++) {
    p = putDecimal(p, ip[i]);
    *p++ = i < 3 ? '.' : ':';
  }
  p = putDecimal(p, ntohs(a.sin_port));
  *p = '\0';
  return out;
}

void trClosesocket(int h) { close(h); }

int trRcvbuf(int h, int bytes) {
  return setsockopt(h, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

int trSockDrops(int h, uint32_t* drops) {
  uint32_t info[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof info;
  if (getsockopt(h, SOL_SOCKET, SO_MEMINFO, info, &len) != 0 || len <= SK_MEMINFO_DROPS * 4) {
    return -1;
  }
  *drops = info[SK_MEMINFO_DROPS];
  return 0;
}

int trRecvErrors(int h) {
  int one = 1;
  return setsockopt(h, IPPROTO_IP, IP_RECVERR, &one, sizeof one);
}

int trReadErrQueue(int h, sockaddr_in* dest, unsigned char* control, int controlSize,
                   int* controlLen) {
  unsigned char copy[64];  // the datagram's start; only its destination matters
  iovec iov = {copy, sizeof copy};
  msghdr m = {};
  m.msg_name = dest;
  m.msg_namelen = sizeof *dest;
  m.msg_iov = &iov;
  m.msg_iovlen = 1;
  m.msg_control = control;
  m.msg_controllen = static_cast<size_t>(controlSize);
  int n = static_cast<int>(recvmsg(h, &m, MSG_ERRQUEUE | MSG_DONTWAIT));
  *controlLen = n < 0 ? 0 : static_cast<int>(m.msg_controllen);
  return n;
}

bool decodeSockError(const unsigned char* control, int len, sockError* out) {
  // The cmsg macros walk a msghdr; this one only frames the bytes given.
  msghdr m = {};
  m.msg_control = const_cast<unsigned char*>(control);
  m.msg_controllen = len > 0 ? static_cast<size_t>(len) : 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
    // The first header is handed out without a look at the length it claims.
    size_t at = static_cast<size_t>(reinterpret_cast<unsigned char*>(c) - control);
    if (c->cmsg_len > m.msg_controllen - at) break;
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR ||
        c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) {
      continue;
    }
    sock_extended_err ee;
    memcpy(&ee, CMSG_DATA(c), sizeof ee);
    memset(out, 0, sizeof *out);
    out->err = static_cast<int>(ee.ee_errno);
    out->icmp = ee.ee_origin == SO_EE_ORIGIN_ICMP;
    out->type = out->icmp ? ee.ee_type : -1;
    out->code = out->icmp ? ee.ee_code : -1;
    out->portUnreachable = out->icmp && ee.ee_type == 3 && ee.ee_code == 3;
    // The offender's address follows the structure, when it fits.
    if (c->cmsg_len >= CMSG_LEN(sizeof ee + sizeof(sockaddr_in))) {
      sockaddr_in who;
      memcpy(&who, CMSG_DATA(c) + sizeof ee, sizeof who);
      if (who.sin_family == AF_INET) out->offender = who;
    }
    return true;
  }
  return false;
}

void trsock::sClose() {
  if (handle != -1) trClosesocket(handle);
  handle = -1;
}

int trSockName(int h, sockaddr_in* out) {
  socklen_t len = sizeof *out;
  return getsockname(h, reinterpret_cast<sockaddr*>(out), &len);
}

int trSockPort(int h) {
  sockaddr_in a = {};
  if (trSockName(h, &a) != 0) return -1;
  return ntohs(a.sin_port);
}
