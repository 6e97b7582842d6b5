// The owner check of local peers: on socket table lines as the kernel prints
// them, on netlink replies, and against real sockets of this process through
// the kernel's diagnostics and through the tables when those are refused.
#include "input/peer_owner.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/seccomp.h>
#include <linux/sock_diag.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "input/admin_input.h"
#include "runtime/sock.h"
#include "support/proc.h"

namespace {

const char kHeading[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode\n";

// A table line: local and remote "HEX:PORT", uid and inode.
std::string line(const char* local, const char* remote, unsigned uid, unsigned long inode) {
  return std::string("   7: ") + local + " " + remote +
         " 01 00000000:00000000 00:00000000 00000000 " + std::to_string(uid) + "        0 " +
         std::to_string(inode) + " 1 0000000002ca357c 20 4 30 10 -1\n";
}

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

TEST(ParseSockLine, KernelLines) {
  struct row {
    const char* label;
    std::string text;
    bool ok, v4;
    uint32_t localIp;
    uint16_t localPort, remotePort;
    unsigned uid;
    unsigned long inode;
  } rows[] = {
      {"heading", kHeading, false, false, 0, 0, 0, 0, 0},
      {"tcp", line("0100007F:B631", "0100007F:1F90", 1000, 100485), true, true, kLoopback, 0xB631,
       8080, 1000, 100485},
      {"udp, wildcard", line("00000000:E183", "00000000:0000", 0, 100555), true, true, 0, 0xE183, 0,
       0, 100555},
      {"tcp6, IPv4-mapped",
       line("0000000000000000FFFF00000100007F:D431", "0000000000000000FFFF00000100007F:1F90", 1001,
            7),
       true, true, kLoopback, 0xD431, 8080, 1001, 7},
      {"tcp6, ::1",
       line("00000000000000000000000001000000:D431", "00000000000000000000000001000000:1F90", 1001,
            7),
       true, false, 0x01000000, 0xD431, 8080, 1001, 7},
      {"cut short", "   7: 0100007F:B631 0100007F:1F90 01 00000000:00000000\n", false, false, 0, 0,
       0, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    sockEntry e = {};
    ASSERT_EQ(r.ok, parseSockLine(r.text.c_str(), &e));
    if (!r.ok) continue;
    EXPECT_EQ(r.v4, e.v4);
    EXPECT_EQ(r.localIp, e.localIp);
    EXPECT_EQ(r.localPort, e.localPort);
    EXPECT_EQ(r.remotePort, e.remotePort);
    EXPECT_EQ(r.uid, e.uid);
    EXPECT_EQ(r.inode, e.inode);
  }
}

TEST(JudgeOwner, ByTheTables) {
  // The peer 127.0.0.1:46641 on the console's connection 127.0.0.1:8080, or
  // a UDP sender on 127.0.0.1:46641.
  const sockKey tcp = {kLoopback, 0xB631, true, kLoopback, 8080};
  const sockKey udp = {kLoopback, 0xB631, false, 0, 0};
  const std::string consoleEnd = line("0100007F:1F90", "0100007F:B631", 1000, 0);
  const std::string otherPair = line("0100007F:B631", "0100007F:1F91", 1002, 99);
  struct row {
    const char* label;
    sockKey key;
    std::string table;
    uint32_t me;
    peerVerdict want;
  } rows[] = {
      {"owner", tcp, otherPair + line("0100007F:B631", "0100007F:1F90", 1000, 5) + consoleEnd, 1000,
       kPeerAccepted},
      {"root", tcp, line("0100007F:B631", "0100007F:1F90", 0, 5), 1000, kPeerAccepted},
      {"another uid", tcp, line("0100007F:B631", "0100007F:1F90", 1001, 5), 1000, kPeerOtherUser},
      {"socket not found", tcp, otherPair + consoleEnd, 1000, kPeerUnverified},
      {"orphan", tcp, line("0100007F:B631", "0100007F:1F90", 0, 0), 1000, kPeerUnverified},
      {"orphan, console run by root", tcp, line("0100007F:B631", "0100007F:1F90", 0, 0), 0,
       kPeerUnverified},
      {"owner, IPv4-mapped", tcp,
       line("0000000000000000FFFF00000100007F:B631", "0000000000000000FFFF00000100007F:1F90", 1000,
            5),
       1000, kPeerAccepted},
      {"udp owner on the wildcard", udp, line("00000000:B631", "00000000:0000", 1000, 5), 1000,
       kPeerAccepted},
      {"udp another uid", udp, line("0100007F:B631", "00000000:0000", 1001, 5), 1000,
       kPeerOtherUser},
      {"udp, two owners on the port", udp,
       line("00000000:B631", "00000000:0000", 1000, 5) +
           line("0100007F:B631", "00000000:0000", 1001, 6),
       1000, kPeerUnverified},
      {"udp on another address", udp, line("0200007F:B631", "00000000:0000", 1000, 5), 1000,
       kPeerUnverified},
  };
  for (const row& r : rows) {
    sockOwner owner = {};
    scanSockTable((kHeading + r.table).c_str(), r.key, &owner);
    EXPECT_EQ(r.want, judgeOwner(owner, r.me)) << r.label;
  }
}

// A netlink reply: one message of type with payload, numbered seq.
std::string nlMessage(uint16_t type, uint32_t seq, const void* payload, size_t size) {
  nlmsghdr h = {};
  h.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(size));
  h.nlmsg_type = type;
  h.nlmsg_seq = seq;
  std::string m(reinterpret_cast<const char*>(&h), sizeof h);
  m.append(static_cast<const char*>(payload), size);
  m.resize(NLMSG_ALIGN(m.size()), '\0');
  return m;
}

std::string found(uint32_t seq, uint32_t uid, uint32_t inode) {
  inet_diag_msg m = {};
  m.idiag_family = AF_INET;
  m.idiag_uid = uid;
  m.idiag_inode = inode;
  return nlMessage(SOCK_DIAG_BY_FAMILY, seq, &m, sizeof m);
}

std::string error(uint32_t seq, int err) {
  nlmsgerr e = {};
  e.error = -err;
  return nlMessage(NLMSG_ERROR, seq, &e, sizeof e);
}

TEST(ParseDiagReply, Replies) {
  struct row {
    const char* label;
    std::string reply;
    diagAnswer want;
    uint32_t uid;
    unsigned long inode;
  } rows[] = {
      {"the socket", found(1, 1000, 4711), kDiagFound, 1000, 4711},
      {"an orphan", found(1, 0, 0), kDiagFound, 0, 0},
      {"no such socket", error(1, ENOENT), kDiagNoSocket, 0, 0},
      {"not permitted", error(1, EPERM), kDiagRefused, 0, 0},
      {"an earlier question's answer first", found(7, 1001, 1) + found(1, 1000, 2), kDiagFound,
       1000, 2},
      {"only an earlier question's answer", found(7, 1001, 1), kDiagRefused, 0, 0},
      {"cut short", found(1, 1000, 4711).substr(0, 40), kDiagRefused, 0, 0},
      {"another message type", nlMessage(NLMSG_DONE, 1, "\0\0\0\0", 4), kDiagRefused, 0, 0},
      {"empty", "", kDiagRefused, 0, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    alignas(nlmsghdr) char buf[512] = {};
    r.reply.copy(buf, sizeof buf);
    sockOwner o = {};
    ASSERT_EQ(r.want, parseDiagReply(buf, static_cast<int>(r.reply.size()), 1, &o));
    if (r.want != kDiagFound) continue;
    EXPECT_EQ(1, o.matches);
    EXPECT_EQ(r.uid, o.uid);
    EXPECT_EQ(r.inode, o.inode);
  }
}

TEST(RefusedPeers, RememberedForAFifthOfASecond) {
  static refusedPeers peers;  // 48 KB: not on the stack
  peers.reset();
  const sockKey udp = {kLoopback, 40000, false, kLoopback, 8080};
  const sockKey tcp = {kLoopback, 40000, true, kLoopback, 8080};
  const sockKey other = {kLoopback, 40001, false, kLoopback, 8080};
  const uint32_t t = 0xFFFFFE00u;  // the tick wraps within the second
  peers.add(udp, t);
  EXPECT_TRUE(peers.has(udp, t));
  EXPECT_TRUE(peers.has(udp, t + 199));
  EXPECT_FALSE(peers.has(udp, t + 200));
  EXPECT_FALSE(peers.has(tcp, t));
  EXPECT_FALSE(peers.has(other, t));
  // Every port within 64 ms, four times more than there are entries: the
  // newest are remembered, the oldest have given way.
  auto key = [&](uint32_t port) { return sockKey{kLoopback, uint16_t(port), false, 0, 0}; };
  for (uint32_t port = 1; port <= 65535; port++) peers.add(key(port), t + port / 1024);
  int newest = 0, oldest = 0;
  for (uint32_t port = 1; port <= 1024; port++) {
    oldest += peers.has(key(port), t + 64) ? 1 : 0;
    newest += peers.has(key(65536 - port), t + 64) ? 1 : 0;
  }
  EXPECT_EQ(1024, newest);
  EXPECT_GT(64, oldest);
}

// Real sockets of this process, looked up as the console looks up a peer.
class LookupTest : public ::testing::Test {
 public:
  void SetUp() override { resetInputGlobals(); }
  void TearDown() override { resetInputGlobals(); }

  static sockKey keyOf(int peer, int consoleEnd, bool tcp) {
    sockaddr_in p = {}, c = {};
    trSockName(peer, &p);
    trSockName(consoleEnd, &c);
    return {p.sin_addr.s_addr, ntohs(p.sin_port), tcp, c.sin_addr.s_addr, ntohs(c.sin_port)};
  }
  static int boundUdp() {
    int h = trSocket(0);
    return trBind(h, 0, "127.0.0.1") == 0 ? h : -1;
  }
  static peerVerdict verdict(const sockKey& key) {
    sockOwner o;
    lookupPeerOwner(key, &o);
    return judgeOwner(o, static_cast<uint32_t>(geteuid()));
  }
};

TEST_F(LookupTest, DiagnosticsFindTheSenderAndNotAClosedOne) {
  trsock console, sender;
  console.handle = boundUdp();
  sender.handle = boundUdp();
  ASSERT_TRUE(console.valid() && sender.valid());
  sockKey key = keyOf(sender.handle, console.handle, false);
  sockOwner o;
  lookupPeerOwner(key, &o);
  EXPECT_EQ(kDiagWorks, g_diagState[0]) << "this kernel answers socket diagnostics";
  EXPECT_EQ(1, o.matches);
  EXPECT_EQ(static_cast<uint32_t>(geteuid()), o.uid);
  EXPECT_NE(0u, o.inode);
  sender.sClose();
  EXPECT_EQ(kPeerUnverified, verdict(key));

  // A TCP client is found by its connection; once it has closed, what is
  // left of it has no owner.
  trsock listener, client, conn;
  listener.handle = trSocket(1);
  ASSERT_EQ(0, trBind(listener.handle, 0, "127.0.0.1"));
  ASSERT_EQ(0, trListen(listener.handle, 1));
  client.handle = trSocket(1);
  std::string dest = "127.0.0.1:" + std::to_string(trSockPort(listener.handle));
  ASSERT_EQ(0, trConnect(client.handle, dest.c_str()));
  conn.handle = trAcceptFrom(listener.handle, nullptr);
  ASSERT_TRUE(conn.valid());
  key = keyOf(client.handle, conn.handle, true);
  EXPECT_EQ(kPeerAccepted, verdict(key));
  EXPECT_EQ(kDiagWorks, g_diagState[1]);
  client.sClose();
  EXPECT_EQ(kPeerUnverified, verdict(key));
}

// SO_REUSEADDR lets another user bind the sender's address and port too; the
// kernel's exact lookup would name just one of the two sockets.
TEST_F(LookupTest, AnAddressSharedWithAnotherUsersSocketIsNotTheOwners) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hold a socket as another user";
  trsock console, mine;
  console.handle = boundUdp();
  mine.handle = trSocket(0);
  ASSERT_EQ(0, trReuseAddr(mine.handle));
  ASSERT_EQ(0, trBind(mine.handle, 0, "127.0.0.1"));
  const sockKey key = keyOf(mine.handle, console.handle, false);
  ASSERT_EQ(kPeerAccepted, verdict(key));
  int ready[2], hold[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(hold));
  int pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(hold[1]);  // so that the parent's close ends the wait below
    char b = 'n';
    int h = -1;
    if (setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0) {
      h = trSocket(0);
      if (trReuseAddr(h) == 0 && trBind(h, key.port, "127.0.0.1") == 0) b = 'y';
    }
    (void)!write(ready[1], &b, 1);
    (void)!read(hold[0], &b, 1);  // holds the socket until the test is done
    _exit(0);
  }
  close(ready[1]);
  close(hold[0]);
  char b = 0;
  EXPECT_EQ(1, read(ready[0], &b, 1));
  EXPECT_EQ('y', b) << "the other user's socket was not bound";
  EXPECT_NE(kPeerAccepted, verdict(key));
  close(hold[1]);
  close(ready[0]);
  int status = 0;
  EXPECT_EQ(pid, procWait(pid, &status, 0));
  EXPECT_EQ(kPeerAccepted, verdict(key)) << "alone again";
}

// Makes socket(AF_NETLINK, ...) fail with EPERM, as a sandbox may.
bool refuseNetlink() {
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog prog = {static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

// The checks of the fallback, in a child so that the filter stays there: the
// number that failed, 10 when the filter could not be set.
int fallbackFailures() {
  if (!refuseNetlink()) return 10;
  trsock console, sender;
  console.handle = LookupTest::boundUdp();
  sender.handle = LookupTest::boundUdp();
  const sockKey key = LookupTest::keyOf(sender.handle, console.handle, false);
  int failed = LookupTest::verdict(key) == kPeerAccepted ? 0 : 1;
  failed += g_diagState[0] == kDiagUnavailable ? 0 : 1;
  sender.sClose();
  return failed + (LookupTest::verdict(key) == kPeerUnverified ? 0 : 1);
}

TEST_F(LookupTest, TablesAnswerWhereNetlinkIsRefused) {
  int pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(fallbackFailures());
  int status = 0;
  ASSERT_EQ(pid, procWait(pid, &status, 0));
  ASSERT_TRUE(procExited(status));
  EXPECT_EQ(0, procExitCode(status)) << "10: the filter could not be set";
}

}  // namespace
