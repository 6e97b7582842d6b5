// Sockets over loopback: destination parsing, a real datagram round trip,
// address text, binding, flags, a local TCP connection and handle ownership.
// Test code calls connect/fcntl directly to observe the wrappers.
#include "runtime/sock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/errqueue.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "runtime/host.h"
#include "runtime/keyboard.h"
#include "runtime/text.h"

namespace {

constexpr unsigned kWaitMs = 5000;

uint16_t boundPort(int h) { return static_cast<uint16_t>(trSockPort(h)); }

sockaddr_in makeAddr(const char* ip, uint16_t port) {
  sockaddr_in a;
  memset(&a, 0, sizeof(a));
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(ip);
  return a;
}

std::string destText(unsigned port) {
  char buf[40];
  trf(buf, sizeof(buf), "127.0.0.1:%u", port);
  return buf;
}

TEST(TrDestAddr, PortAndAddressFromText) {
  struct Row {
    const char* dest;
    int result;
    const char* ip;
    uint16_t port;
  } rows[] = {
      {"127.0.0.5:28100", 1, "127.0.0.5", 28100},
      {"127.0.0.5", 1, "127.0.0.5", 0},        // no ':' means port 0
      {"127.0.0.5:70000", 1, "127.0.0.5", 4464},  // low 16 bits
      {"127.0.0.5:", 1, "127.0.0.5", 0},
      {"127.0.0.5:65535", 1, "127.0.0.5", 65535},
      {"127.0.0.5:-1", 1, "127.0.0.5", 65535},
      {"127.0.0.5:1:2", 1, "127.0.0.5", 1},     // first ':' splits
      {"", 0, nullptr, 0},
      {nullptr, 0, nullptr, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.dest != nullptr ? r.dest : "(null)");
    sockaddr_in a;
    memset(&a, 0xAB, sizeof(a));
    ASSERT_EQ(r.result, trDestAddr(r.dest, &a));
    if (r.result == 0) continue;
    EXPECT_EQ(AF_INET, a.sin_family);
    EXPECT_EQ(r.port, ntohs(a.sin_port));
    EXPECT_EQ(inet_addr(r.ip), a.sin_addr.s_addr);
  }
}

TEST(TrDestAddr, OverlongAddressIsNotCutIntoAnAddress) {
  std::string dest = "127.0.0.1" + std::string(80, ' ') + ":5";
  sockaddr_in a;
  ASSERT_EQ(1, trDestAddr(dest.c_str(), &a));
  EXPECT_EQ(INADDR_NONE, a.sin_addr.s_addr);
}

TEST(TrSendto, NoDestinationSendsNothing) {
  trsock s;
  s.handle = trSocket(0);
  ASSERT_TRUE(s.valid());
  EXPECT_EQ(0, trSendto(s.handle, "x", 1, nullptr));
  EXPECT_EQ(0, trSendto(s.handle, "x", 1, ""));
}

class UdpPair : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, trNetinit());  // as the console starts before it opens its sockets
    rx_.handle = trSocket(0);
    tx_.handle = trSocket(0);
    ASSERT_TRUE(rx_.valid() && tx_.valid());
    ASSERT_EQ(0, trBind(rx_.handle, 0, "127.0.0.1"));
    ASSERT_EQ(0, trBind(tx_.handle, 0, "127.0.0.1"));
    rxPort_ = boundPort(rx_.handle);
    txPort_ = boundPort(tx_.handle);
    ASSERT_NE(0, rxPort_);
  }
  // Waits for one datagram and returns its text and sender.
  std::string receive(std::string* from) {
    if (trSelect(rx_.handle, 0, kWaitMs) != 1) return "<timeout>";
    char buf[64];
    sockaddr_in sender;
    int len = 16;
    int n = trRecvfrom(rx_.handle, buf, sizeof(buf), reinterpret_cast<sockaddr*>(&sender), &len);
    if (n < 0) return "<error>";
    EXPECT_EQ(16, len);
    char text[kAddrTextSize];
    *from = trAddrstr(reinterpret_cast<sockaddr*>(&sender), text);
    return std::string(buf, n);
  }

  trsock rx_, tx_;
  uint16_t rxPort_ = 0, txPort_ = 0;
};

TEST_F(UdpPair, DatagramRoundTrip) {
  std::string dest = destText(rxPort_);
  EXPECT_EQ(5, trSendto(tx_.handle, "hello", 5, dest.c_str()));
  EXPECT_EQ(destText(rxPort_), dest) << "destination text unchanged";
  std::string from;
  EXPECT_EQ("hello", receive(&from));
  EXPECT_EQ(destText(txPort_), from);
}

TEST_F(UdpPair, PortAboveSixteenBitsSendsToLowBits) {
  std::string dest = destText(rxPort_ + 65536u);
  ASSERT_EQ(4, trSendto(tx_.handle, "wrap", 4, dest.c_str()));
  std::string from;
  EXPECT_EQ("wrap", receive(&from));
}

TEST_F(UdpPair, EmptyNonblockingSocketReadsMinusOne) {
  ASSERT_EQ(1, trNonblock(rx_.handle));
  char buf[8];
  EXPECT_EQ(-1, trRecv(rx_.handle, buf, sizeof(buf)));
  sockaddr_in from;
  int len = 16;
  EXPECT_EQ(-1, trRecvfrom(rx_.handle, buf, sizeof(buf), reinterpret_cast<sockaddr*>(&from), &len));
  EXPECT_EQ(0, trSelect(rx_.handle, 0, 0)) << "a zero timeout only polls";
  EXPECT_EQ(1, trSelect(tx_.handle, 1, kWaitMs)) << "an idle UDP socket is writable";
}

TEST(TrAddrstr, FormatsAddressAndPort) {
  struct Row {
    const char* ip;
    uint16_t port;
    const char* want;
  } rows[] = {
      {"127.0.0.1", 5000, "127.0.0.1:5000"},
      {"255.255.255.255", 65535, "255.255.255.255:65535"},
      {"0.0.0.0", 0, "0.0.0.0:0"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.want);
    sockaddr_in a = makeAddr(r.ip, r.port);
    char out[kAddrTextSize + 4];
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(out, trAddrstr(reinterpret_cast<sockaddr*>(&a), out));
    EXPECT_STREQ(r.want, out);
    EXPECT_EQ(std::string(4, 'x'), std::string(out + kAddrTextSize, 4)) << "wrote past the text";
  }
  char out[kAddrTextSize] = "stale";
  EXPECT_STREQ("", trAddrstr(nullptr, out));
}

TEST(TrBind, PortAboveSixteenBitsBindsLowBits) {
  // Find a free port, release it, then bind it again through the high form.
  trsock probe;
  probe.handle = trSocket(0);
  ASSERT_EQ(0, trBind(probe.handle, 0, "127.0.0.1"));
  unsigned port = boundPort(probe.handle);
  probe.sClose();
  trsock s;
  s.handle = trSocket(0);
  ASSERT_EQ(0, trBind(s.handle, port + 65536u, "127.0.0.1"));
  EXPECT_EQ(port, boundPort(s.handle));
}

TEST(TrBind, Failures) {
  trsock listener;
  listener.handle = trSocket(1);
  ASSERT_EQ(0, trBind(listener.handle, 0, "127.0.0.1"));
  ASSERT_EQ(0, trListen(listener.handle, 3));
  trsock s;
  s.handle = trSocket(1);
  EXPECT_EQ(-1, trBind(s.handle, boundPort(listener.handle), "127.0.0.1")) << "port in use";
  EXPECT_EQ(-1, trBind(-1, 0, "")) << "no socket";
}

// Another process that sets SO_REUSEADDR and binds a port of ours must be
// refused: on UDP it would otherwise share the port and take its datagrams.
TEST(TrBind, NobodyJoinsABoundPort) {
  struct row {
    const char* label;
    int type;
    const char *ours, *theirs;
  } rows[] = {
      {"udp on any, same address", 0, "", "127.0.0.1"},
      {"udp on any, any", 0, "", ""},
      {"udp on loopback, same address", 0, "127.0.0.1", "127.0.0.1"},
      {"udp on loopback, any", 0, "127.0.0.1", ""},
      {"tcp listener with reuse, same address", 1, "127.0.0.1", "127.0.0.1"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    trsock ours, theirs;
    ours.handle = trSocket(r.type);
    bool tcp = r.type != 0;
    ASSERT_TRUE(!tcp || trReuseAddr(ours.handle) == 0);
    ASSERT_EQ(0, trBind(ours.handle, 0, r.ours));
    ASSERT_TRUE(!tcp || trListen(ours.handle, 3) == 0);
    theirs.handle = trSocket(r.type);
    ASSERT_EQ(0, trReuseAddr(theirs.handle));
    errno = 0;
    EXPECT_EQ(-1, trBind(theirs.handle, boundPort(ours.handle), r.theirs));
    EXPECT_EQ(EADDRINUSE, errno);
  }
}

TEST(TrNonblock, SetsFlagAndKeepsOthers) {
  trsock s;
  s.handle = trSocket(0);
  ASSERT_EQ(0, fcntl(s.handle, F_SETFL, O_APPEND));
  int before = fcntl(s.handle, F_GETFL);
  ASSERT_EQ(0, before & O_NONBLOCK);
  EXPECT_EQ(1, trNonblock(s.handle));
  EXPECT_EQ(before | O_NONBLOCK, fcntl(s.handle, F_GETFL));
  EXPECT_EQ(0, trNonblock(-1));
}

// The queue size the kernel granted (it doubles what was asked, for its own
// bookkeeping).
int rcvbufOf(int h) {
  int bytes = 0;
  socklen_t len = sizeof bytes;
  return getsockopt(h, SOL_SOCKET, SO_RCVBUF, &bytes, &len) == 0 ? bytes : -1;
}

TEST(TrRcvbuf, SetsTheReceiveQueue) {
  trsock s;
  s.handle = trSocket(0);
  // Only growth is capped by the system's limit, so a small queue is granted
  // as asked, and asking for more afterwards grows it.
  ASSERT_EQ(0, trRcvbuf(s.handle, 4096));
  int small = rcvbufOf(s.handle);
  EXPECT_GE(small, 4096);
  EXPECT_LE(small, 2 * 4096);
  EXPECT_EQ(0, trRcvbuf(s.handle, 1 << 20));
  EXPECT_GT(rcvbufOf(s.handle), small);
  EXPECT_EQ(-1, trRcvbuf(-1, 1 << 20));
}

TEST(Tcp, AcceptReadAndPeerClose) {
  trsock listener;
  listener.handle = trSocket(1);
  ASSERT_EQ(0, trBind(listener.handle, 0, "127.0.0.1"));
  ASSERT_EQ(0, trListen(listener.handle, 3));
  ASSERT_EQ(1, trNonblock(listener.handle));
  sockaddr_in peer;
  EXPECT_EQ(-1, trAcceptFrom(listener.handle, reinterpret_cast<sockaddr*>(&peer)))
      << "none pending";

  trsock client;
  client.handle = trSocket(1);
  ASSERT_EQ(0, trBind(client.handle, 0, "127.0.0.1"));
  sockaddr_in to = makeAddr("127.0.0.1", boundPort(listener.handle));
  ASSERT_EQ(0, connect(client.handle, reinterpret_cast<sockaddr*>(&to), sizeof(to)));
  ASSERT_EQ(1, trSelect(listener.handle, 0, kWaitMs));
  trsock conn;
  conn.handle = trAcceptFrom(listener.handle, reinterpret_cast<sockaddr*>(&peer));
  ASSERT_TRUE(conn.valid());
  char text[kAddrTextSize];
  EXPECT_EQ(destText(boundPort(client.handle)),
            trAddrstr(reinterpret_cast<sockaddr*>(&peer), text));

  ASSERT_EQ(3, write(client.handle, "abc", 3));
  ASSERT_EQ(1, trSelect(conn.handle, 0, kWaitMs));
  char buf[8];
  EXPECT_EQ(3, trRecv(conn.handle, buf, sizeof(buf)));
  client.sClose();
  ASSERT_EQ(1, trSelect(conn.handle, 0, kWaitMs));
  EXPECT_EQ(0, trRecv(conn.handle, buf, sizeof(buf))) << "peer closed";
}

TEST(Trsock, CloseTwiceClosesOnce) {
  trsock s;
  EXPECT_FALSE(s.valid());
  s.sClose();  // closing an invalid handle is harmless
  s.handle = trSocket(0);
  ASSERT_TRUE(s.valid());
  int fd = s.handle;
  s.sClose();
  EXPECT_EQ(-1, s.handle);
  EXPECT_EQ(-1, fcntl(fd, F_GETFD)) << "closed";
  // The number is likely reused at once; a second close must not touch it.
  trsock other;
  other.handle = trSocket(0);
  s.sClose();
  EXPECT_NE(-1, fcntl(other.handle, F_GETFD)) << "another socket closed by mistake";
}

TEST(Trsock, DestructorCloses) {
  int fd;
  {
    trsock s;
    s.handle = trSocket(0);
    fd = s.handle;
    ASSERT_NE(-1, fd);
  }
  EXPECT_EQ(-1, fcntl(fd, F_GETFD));
}

TEST(TrSelect, DescriptorOutsideSetFails) {
  for (int fd : {-1, 1024, 5000}) EXPECT_EQ(-1, trSelect(fd, 0, 0)) << "fd " << fd;
  int closedFd = trSocket(0);
  trClosesocket(closedFd);
  EXPECT_EQ(-1, trSelect(closedFd, 0, 0)) << "not open";
}

// An error queue entry as the kernel lays it out: one IP_RECVERR message,
// the extended error and the offender's address behind it.
struct errControl {
  alignas(cmsghdr) unsigned char bytes[kErrControlSize];
  int len;
};

errControl errEntry(uint8_t origin, uint8_t type, uint8_t code, const char* offender,
                    int level = IPPROTO_IP, int what = IP_RECVERR, bool withOffender = true) {
  errControl e = {};
  sock_extended_err ee = {};
  ee.ee_errno = ECONNREFUSED;
  ee.ee_origin = origin;
  ee.ee_type = type;
  ee.ee_code = code;
  size_t data = sizeof ee + (withOffender ? sizeof(sockaddr_in) : 0);
  cmsghdr* c = reinterpret_cast<cmsghdr*>(e.bytes);
  c->cmsg_level = level;
  c->cmsg_type = what;
  c->cmsg_len = CMSG_LEN(data);
  memcpy(CMSG_DATA(c), &ee, sizeof ee);
  if (withOffender) {
    sockaddr_in who = makeAddr(offender, 0);
    memcpy(CMSG_DATA(c) + sizeof ee, &who, sizeof who);
  }
  e.len = static_cast<int>(CMSG_SPACE(data));
  return e;
}

TEST(DecodeSockError, OnlyAnIcmpPortUnreachableIsOne) {
  struct Row {
    const char* label;
    errControl control;
    bool found, icmp, portUnreachable;
    const char* offender;
  } rows[] = {
      {"port unreachable", errEntry(SO_EE_ORIGIN_ICMP, 3, 3, "127.0.0.9"), true, true, true,
       "127.0.0.9:0"},
      {"host unreachable", errEntry(SO_EE_ORIGIN_ICMP, 3, 1, "10.0.0.1"), true, true, false,
       "10.0.0.1:0"},
      {"time exceeded, code 3", errEntry(SO_EE_ORIGIN_ICMP, 11, 3, "10.0.0.1"), true, true, false,
       "10.0.0.1:0"},
      {"local error, type and code 3", errEntry(SO_EE_ORIGIN_LOCAL, 3, 3, "127.0.0.9"), true, false,
       false, "127.0.0.9:0"},
      {"no offender address", errEntry(SO_EE_ORIGIN_ICMP, 3, 3, "", IPPROTO_IP, IP_RECVERR, false),
       true, true, true, "0.0.0.0:0"},
      {"another message", errEntry(SO_EE_ORIGIN_ICMP, 3, 3, "127.0.0.9", SOL_SOCKET, 1), false,
       false, false, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    sockError e;
    ASSERT_EQ(r.found, decodeSockError(r.control.bytes, r.control.len, &e));
    if (!r.found) continue;
    EXPECT_EQ(r.icmp, e.icmp);
    EXPECT_EQ(r.portUnreachable, e.portUnreachable);
    EXPECT_EQ(ECONNREFUSED, e.err);
    char text[kAddrTextSize];
    EXPECT_STREQ(r.offender, trAddrstr(reinterpret_cast<const sockaddr*>(&e.offender), text));
  }
  // Cut short: the header promises more than the bytes hold.
  errControl whole = errEntry(SO_EE_ORIGIN_ICMP, 3, 3, "127.0.0.9");
  sockError e;
  EXPECT_FALSE(decodeSockError(whole.bytes, static_cast<int>(sizeof(cmsghdr)), &e));
  EXPECT_FALSE(decodeSockError(whole.bytes, 0, &e));
}

// The kernel's own entry for a datagram to a closed loopback port: the
// receive fails once, the queue names the destination, and once it is read
// the socket no longer looks ready (a loop waiting on it would spin).
TEST(TrReadErrQueue, ClosedPortOnLoopback) {
  trsock s, gone;
  s.handle = trSocket(0);
  gone.handle = trSocket(0);
  ASSERT_EQ(0, trBind(s.handle, 0, "127.0.0.1"));
  ASSERT_EQ(0, trBind(gone.handle, 0, "127.0.0.1"));
  std::string dest = destText(boundPort(gone.handle));
  gone.sClose();
  ASSERT_EQ(1, trNonblock(s.handle));
  ASSERT_EQ(0, trRecvErrors(s.handle));
  ASSERT_EQ(3, trSendto(s.handle, "abc", 3, dest.c_str()));
  ASSERT_EQ(1, trSelect(s.handle, 0, kWaitMs)) << "the error wakes a wait";
  char buf[16];
  EXPECT_EQ(-1, trRecv(s.handle, buf, sizeof buf));
  EXPECT_EQ(ECONNREFUSED, errno);
  sockaddr_in to = {};
  errControl c;
  ASSERT_EQ(3, trReadErrQueue(s.handle, &to, c.bytes, sizeof c.bytes, &c.len));
  char text[kAddrTextSize];
  EXPECT_EQ(dest, trAddrstr(reinterpret_cast<const sockaddr*>(&to), text));
  sockError e;
  ASSERT_TRUE(decodeSockError(c.bytes, c.len, &e));
  EXPECT_TRUE(e.portUnreachable);
  EXPECT_STREQ("127.0.0.1:0", trAddrstr(reinterpret_cast<const sockaddr*>(&e.offender), text));
  EXPECT_EQ(-1, trReadErrQueue(s.handle, &to, c.bytes, sizeof c.bytes, &c.len)) << "emptied";
  EXPECT_EQ(0, trSelect(s.handle, 0, 0)) << "nothing left to wake a wait";
}

}  // namespace
