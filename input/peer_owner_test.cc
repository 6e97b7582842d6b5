// The owner check of local peers, on socket table lines as the kernel prints
// them.
#include "input/peer_owner.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
