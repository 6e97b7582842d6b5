// Datagrams from servers: who sent them, challenges and the keys derived
// from them, the text shown and logged, how many are taken a pass, and the
// per-server file name.
#include "protocol/reception.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "app/bounded.h"
#include "app/globals.h"
#include "app/log.h"
#include "protocol/outbound.h"
#include "support/coretest.h"
#include "crypto/keystream.h"
#include "protocol/health.h"
#include "protocol/keys.h"
#include "runtime/clock.h"
#include "runtime/keyboard.h"
#include "runtime/sock.h"
#include "runtime/text.h"

namespace {

sockaddr_in addr(const char* ip, int port) {
  sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr(ip);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

// Lines of text that begin with prefix.
int lines(const std::string& text, const std::string& prefix) {
  int n = 0;
  for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    if (text.compare(at, prefix.size(), prefix) == 0) n++;
    if (text.find('\n', at) == std::string::npos) break;
  }
  return n;
}

// The receive queue the kernel granted a socket, in bytes.
int queueBytes(int h) {
  int bytes = 0;
  socklen_t len = sizeof bytes;
  return getsockopt(h, SOL_SOCKET, SO_RCVBUF, &bytes, &len) == 0 ? bytes : -1;
}

class ReceptionTest : public coreTest {
 protected:
  // Puts a datagram into the packet buffer (over leftovers of a larger one)
  // and handles it; returns what reached the screen.
  std::string deliver(const sockaddr_in& from, const std::string& bytes, uint32_t tick = 100000) {
    memset(g_pkt, 'J', kMaxDatagram);
    memcpy(g_pkt, bytes.data(), bytes.size());
    testing::internal::CaptureStdout();
    handleServerDatagram(from, static_cast<int>(bytes.size()), tick, tick);
    return testing::internal::GetCapturedStdout();
  }
  // A datagram: client challenge zero, the given server challenge, and the
  // text scrambled with seed.
  static std::string datagram(const char* challenge, std::string text, uint32_t seed) {
    keystreamXor(seed, text.data(), text.size());
    return std::string(4, '\0') + std::string(challenge, 4) + text;
  }
};

TEST_F(ReceptionTest, UnknownSourcesAndShortDatagrams) {
  addServer("127.0.0.1:28100", "admin", "secret");
  struct row {
    const char* what;
    sockaddr_in from;
    std::string bytes;
    const char* screen;
  };
  const row rows[] = {
      {"another port", addr("127.0.0.1", 28101), datagram("\0\0\0\0", "x", kDefaultSeed),
       "**Ignoring packet from 127.0.0.1:28101 - unknown source address / header\n"},
      {"another client challenge", addr("127.0.0.1", 28100),
       std::string("\1\0\0\0\0\0\0\0x", 9),
       "**Ignoring packet from 127.0.0.1:28100 - unknown source address / header\n"},
      {"7 bytes", addr("127.0.0.1", 28100), std::string(7, '\0'),
       "**Ignoring short packet from 127.0.0.1:28100 []\n"},
      {"1 byte", addr("127.0.0.1", 28100), std::string(1, '\0'),
       "**Ignoring short packet from 127.0.0.1:28100 []\n"},
      {"8 bytes: header only", addr("127.0.0.1", 28100), std::string(8, '\0'), "->\n"},
  };
  for (const row& r : rows) {
    EXPECT_EQ(deliver(r.from, r.bytes), r.screen) << r.what;
  }
  EXPECT_EQ(serverAt(0)->rseed, kDefaultSeed) << "no challenge came";
}

TEST_F(ReceptionTest, NewChallengeDerivesProofAndSeed) {
  serverRec* r = addServer("127.0.0.1:28100", "admin", "secret");
  const char challenge[] = "\x12\x34\x56\x78";
  const uint32_t derived = keystreamSeedFor("secret");
  std::string out = deliver(addr("127.0.0.1", 28100),
                            datagram(challenge, std::string("hello\0", 6), derived), 50000);
  EXPECT_EQ(out,
            "Received Server Challenge from 127.0.0.1:28100, was=00000000, now=12345678\n"
            "->hello\n");
  EXPECT_EQ(r->rseed, derived);
  // The proof answers this challenge and is scrambled with the new seed.
  unsigned char proof[16];
  authDigestFor("secret", reinterpret_cast<const unsigned char*>(challenge), derived, proof);
  EXPECT_EQ(memcmp(r->header + kAuthDigestOffset, proof, 16), 0);
  EXPECT_EQ(memcmp(r->header + kServerChallengeOffset, challenge, 4), 0);
  EXPECT_EQ(r->lastSend, 50000u - 31000u);

  // The same challenge again derives nothing and leaves the heartbeat alone.
  out = deliver(addr("127.0.0.1", 28100), datagram(challenge, "again\n", derived), 90000);
  EXPECT_EQ(out, "->again\n");
  EXPECT_EQ(r->lastSend, 50000u - 31000u);
  std::string file = readFile("127_0_0_1_28100.log");
  EXPECT_NE(file.find("] ->hello\n"), std::string::npos) << file;
  EXPECT_NE(file.find("] ->again\n"), std::string::npos) << file;
  EXPECT_STREQ(g_logfn, "main.log");
  EXPECT_NE(readFile("main.log").find("Received Server Challenge"), std::string::npos);
  EXPECT_EQ(readFile("main.log").find("->hello"), std::string::npos);
}

TEST_F(ReceptionTest, TextIsMadePrintableAndEndsInsideTheDatagram) {
  addServer("127.0.0.1:28100", "admin", "");
  const sockaddr_in from = addr("127.0.0.1", 28100);
  struct row {
    std::string text;
    std::string screen;
  };
  const row rows[] = {
      {std::string("a\tb\rc\x1b" "d\x7f" "e\x80\xff" "f\n", 13),
       "->a\xfa" "b\xfa" "c\xfa" "d\xfa" "e\xfa\xfa" "f\n"},
      {"one\ntwo\n", "->one\ntwo\n"},
      {"no line end", "->no line end\n"},
      {std::string("cut\0rest", 8), "->cut\n"},
      {"", "->\n"},
  };
  for (const row& r : rows) {
    EXPECT_EQ(deliver(from, datagram("\0\0\0\0", r.text, kDefaultSeed)), r.screen)
        << testing::PrintToString(r.text);
  }
  EXPECT_NE(readFile("127_0_0_1_28100.log").find("] ->one\ntwo\n["), std::string::npos)
      << "several lines form one entry";
}

TEST_F(ReceptionTest, EachServerKeepsItsOwnSeed) {
  serverRec* a = addServer("127.0.0.1:28100", "admin", "alpha");
  serverRec* b = addServer("127.0.0.1:28200", "admin", "beta");
  deliver(addr("127.0.0.1", 28100), datagram("\1\2\3\4", "x", 0));
  uint32_t seedA = a->rseed;
  std::string out = deliver(addr("127.0.0.1", 28200), datagram("\5\6\7\x8", "x", 0));
  EXPECT_NE(b->rseed, seedA);
  EXPECT_EQ(a->rseed, seedA) << "a challenge from one server leaves the other's seed";
  EXPECT_EQ(deliver(addr("127.0.0.1", 28100), datagram("\1\2\3\4", "from a", seedA)), "->from a\n");
  EXPECT_EQ(deliver(addr("127.0.0.1", 28200), datagram("\5\6\7\x8", "from b", b->rseed)),
            "->from b\n");
}

TEST_F(ReceptionTest, ServersConfiguredInOtherFormsAreRecognised) {
  addServer("localhost:28100", "byname", "");
  addServer("127.1:28200", "short", "");
  addServer("127.0.0.1:028300", "zero", "");
  addServer("127.0.0.1:93836", "wide", "");  // 93836 - 65536 = 28300, sent to port 28300
  addServer("localhost:28400", "first", "");
  addServer("127.0.0.1:28400", "exact", "");
  struct row {
    int port;
    const char* login;
  };
  const row rows[] = {{28100, "byname"}, {28200, "short"}, {28300, "zero"}, {28400, "exact"}};
  for (const row& r : rows) {
    std::string out = deliver(addr("127.0.0.1", r.port), datagram("\0\0\0\0", "t", kDefaultSeed));
    EXPECT_EQ(out, "->t\n") << "port " << r.port;
    ASSERT_NE(g_server, nullptr);
    EXPECT_STREQ(g_server->login, r.login) << "port " << r.port;
  }
}

TEST_F(ReceptionTest, TakesEveryWaitingDatagramUpToTheBound) {
  udpPeer console, server;
  ASSERT_TRUE(console.open());
  ASSERT_TRUE(server.open());
  // The bound shows only with more datagrams waiting than one pass takes,
  // and the kernel's default queue holds about that many small ones. So ask
  // for a larger queue, as the console does for its server socket; what the
  // kernel grants decides how many of those sent below are queued (drops can
  // only cut the tail), and everything queued must be taken, in order.
  ASSERT_EQ(trRcvbuf(console.sock.handle, 4 << 20), 0);
  addServer(server.address().c_str(), "l", "");
  g_noscreenlog = 1;
  const int sent = kMaxDatagramsPerPass + 44;
  for (int i = 0; i < sent; i++) {
    server.sendTo(console.address(),
                  datagram("\0\0\0\0", "line " + std::to_string(i), kDefaultSeed));
  }
  ASSERT_EQ(trSelect(console.sock.handle, 0, 3000), 1);
  trNonblock(console.sock.handle);
  int taken = 0;
  for (int pass = 0; pass < 50; pass++) {
    int n = processServerLogging(console.sock.handle, 1000, 1000);
    EXPECT_LE(n, kMaxDatagramsPerPass);
    taken += n;
    if (n == 0 && trSelect(console.sock.handle, 0, 200) != 1) break;
  }
  g_noscreenlog = 0;
  EXPECT_EQ(console.receive(0), "") << "left waiting after " << taken;
  std::string file = readFile(std::string("127_0_0_1_") + std::to_string(server.port) + ".log");
  size_t at = 0;
  for (int i = 0; i < taken && at != std::string::npos; i++) {
    at = file.find("->line " + std::to_string(i) + "\n", at);
  }
  EXPECT_NE(at, std::string::npos) << "lines 0 to " << taken - 1 << " in order:\n" << file;
  if (taken <= kMaxDatagramsPerPass) {
    GTEST_SKIP() << "the kernel queued only " << taken << " of " << sent << " datagrams ("
                 << queueBytes(console.sock.handle) << "-byte receive queue), not enough to"
                 << " reach the bound of " << kMaxDatagramsPerPass << " a pass";
  }
}

// The lines of a pass are written together; the screen and every file keep
// the order in which the datagrams came, console messages in their place.
TEST_F(ReceptionTest, APassKeepsTheOrderOfItsDatagramsOnScreenAndInFiles) {
  udpPeer console, a, b, stranger;
  for (udpPeer* p : {&console, &a, &b, &stranger}) ASSERT_TRUE(p->open());
  trNonblock(console.sock.handle);
  addServer(a.address().c_str(), "a", "");
  addServer(b.address().c_str(), "b", "");
  a.sendTo(console.address(), datagram("\0\0\0\0", "a1", kDefaultSeed));
  stranger.sendTo(console.address(), "who");
  b.sendTo(console.address(), datagram("\0\0\0\0", "b1", kDefaultSeed));
  a.sendTo(console.address(), datagram("\0\0\0\0", "a2", kDefaultSeed));
  testing::internal::CaptureStdout();
  holdLog();  // as a pass does
  int taken = 0;
  for (int tries = 0; taken < 4 && tries < 300; tries++) {
    if (trSelect(console.sock.handle, 0, 10) != 1) continue;
    taken += processServerLogging(console.sock.handle, 1000, 1000);
  }
  releaseLog();
  std::string screen = testing::internal::GetCapturedStdout();
  ASSERT_EQ(taken, 4) << screen;
  EXPECT_EQ(screen, "->a1\n**Ignoring packet from " + stranger.address() +
                        " - unknown source address / header\n->b1\n->a2\n");
  auto fileOf = [](const udpPeer& p) { return "127_0_0_1_" + std::to_string(p.port) + ".log"; };
  std::string fa = readFile(fileOf(a)), fb = readFile(fileOf(b));
  EXPECT_EQ(lines(fa, "["), 2) << fa;
  EXPECT_LT(fa.find("->a1\n"), fa.find("->a2\n")) << fa;
  EXPECT_NE(fb.find("->b1\n"), std::string::npos) << fb;
  EXPECT_NE(readFile("main.log").find("**Ignoring packet from"), std::string::npos);
}

TEST_F(ReceptionTest, AFloodOfCountedDatagramsIsTakenInOnePass) {
  udpPeer console, server, stranger;
  ASSERT_TRUE(console.open());
  ASSERT_TRUE(server.open());
  ASSERT_TRUE(stranger.open());
  trRcvbuf(console.sock.handle, 4 << 20);
  addServer(server.address().c_str(), "l", "");
  const int flood = 3000;  // far more than the lines a pass may write
  for (int i = 0; i < flood; i++) stranger.sendTo(console.address(), "junk");
  server.sendTo(console.address(), datagram("\0\0\0\0", std::string("good\0", 5), kDefaultSeed));
  ASSERT_EQ(trSelect(console.sock.handle, 0, 3000), 1);
  trNonblock(console.sock.handle);
  testing::internal::CaptureStdout();
  EXPECT_EQ(processServerLogging(console.sock.handle, 1000, 1000), flood + 1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(lines(out, "**Ignoring packet from " + stranger.address()), 10);
  EXPECT_EQ(lines(out, "->good"), 1);
}

TEST_F(ReceptionTest, ChangingChallengesAreAnsweredOnceASecondAndTheirLinesBounded) {
  udpPeer console, server;
  ASSERT_TRUE(console.open());
  ASSERT_TRUE(server.open());
  serverRec* r = addServer(server.address().c_str(), "admin", "secret");
  sockaddr_in from = addr("127.0.0.1", server.port);
  // Passes 50 ms apart for 2.5 s, each bringing a new challenge, in the
  // order of a pass: summaries, reception, heartbeats.
  const uint32_t t0 = 700000;
  std::string screen, answered;
  for (uint32_t tick = t0; tick <= t0 + 2500; tick += 50) {
    testing::internal::CaptureStdout();
    flushBoundedLines(tick);
    screen += testing::internal::GetCapturedStdout();
    uint32_t n = (tick - t0) / 50 + 1;
    char challenge[4] = {1, 2, static_cast<char>(n >> 8), static_cast<char>(n)};
    screen += deliver(from, datagram(challenge, std::string("x\0", 2), 12200485), tick);
    checkHeartbeat(console.sock.handle, tick, tick);
    std::string hb = server.receive(tick == t0 || (tick - t0) % 1000 == 0 ? 3000 : 0);
    if (!hb.empty()) answered += std::to_string(tick - t0) + ":" + std::to_string(hb[15]) + " ";
  }
  // The first answer at once, then one a second with the challenge of the
  // pass it goes out in.
  EXPECT_EQ(answered, "0:1 1000:21 2000:41 ");
  EXPECT_EQ(r->lastSend, t0 + 2000);
  EXPECT_EQ(lines(screen, "Received Server Challenge from " + server.address()), 30);
  const std::string summary = "**10 more lines like \"Received Server Challenge from " +
                              server.address() + "\" in the last second\n";
  EXPECT_EQ(lines(screen, summary), 2) << screen;
  EXPECT_EQ(lines(screen, "->x\n"), 51) << "every datagram's text is shown";
}

TEST_F(ReceptionTest, DebugLineShowsHeaderAsReceived) {
  addServer("127.0.0.1:28100", "admin", "");
  g_debug = 1;
  std::string out = deliver(addr("127.0.0.1", 9), std::string("\0\0\0\0\xab\xcd\xef\x01", 8));
  EXPECT_EQ(out.substr(0, out.find('\n') + 1),
            "received 8 bytes from 127.0.0.1:9 header=[00000000][abcdef01]\n");
}

TEST_F(ReceptionTest, FirstRecordInListOrderWins) {
  const char* const servers[] = {"localhost:28400", "127.0.0.1:28400", "127.0.0.1:28400",
                                 "127.0.0.1:28500", "127.0.0.1:28500", "127.1:28600",
                                 "localhost:28600"};
  for (const char* s : servers) addServer(s, "l", "");
  serverAt(3)->header[kClientChallengeOffset] = 1;  // a client challenge of 01000000
  struct row {
    const char* label;
    int port;
    unsigned char challenge;  // first byte of the datagram's client challenge
    int want;                 // record position, -1 for none
  };
  const row rows[] = {
      {"address text beats an earlier destination", 28400, 0, 1},
      {"of two equal texts the first", 28400, 0, 1},
      {"the first whose challenge holds", 28500, 1, 3},
      {"passes over a record with another challenge", 28500, 0, 4},
      {"by destination, the first in list order", 28600, 0, 5},
      {"destination known, challenge not", 28600, 2, -1},
      {"unknown port", 28999, 0, -1},
  };
  for (const row& r : rows) {
    sockaddr_in from = addr("127.0.0.1", r.port);
    char text[kAddrTextSize];
    trAddrstr(reinterpret_cast<sockaddr*>(&from), text);
    const unsigned char challenge[4] = {r.challenge, 0, 0, 0};
    g_server = nullptr;
    serverRec* got = matchSender(from, text, challenge);
    EXPECT_EQ(got, r.want < 0 ? nullptr : serverAt(r.want)) << r.label;
    EXPECT_EQ(g_server, serverAt(r.want < 0 ? 6 : r.want)) << r.label << ": as the walk leaves it";
  }
}

TEST_F(ReceptionTest, TenThousandServersAreEachRecognised) {
  const int n = 10000;
  for (int i = 0; i < n; i++)
    addServer(("127.0.0.1:" + std::to_string(20000 + i)).c_str(), "l", "");
  addServer("127.0.0.1:20000", "again", "");  // the first of its address wins
  const unsigned char challenge[4] = {0, 0, 0, 0};
  int wrong = 0;
  for (int i = 0; i < n; i++) {
    sockaddr_in from = addr("127.0.0.1", 20000 + i);
    char text[kAddrTextSize];
    trAddrstr(reinterpret_cast<sockaddr*>(&from), text);
    if (matchSender(from, text, challenge) != serverAt(i)) wrong++;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(deliver(addr("127.0.0.1", 20000 + n - 1), datagram("\0\0\0\0", "last", kDefaultSeed)),
            "->last\n");
  EXPECT_EQ(deliver(addr("127.0.0.1", 20000 + n), datagram("\0\0\0\0", "x", kDefaultSeed)),
            "**Ignoring packet from 127.0.0.1:30000 - unknown source address / header\n");
}

TEST(ServerLogName, FromIpPort) {
  struct row {
    const char* ipPort;
    int size;
    const char* name;
  };
  const row rows[] = {
      {"192.0.2.10:28100", 267, "192_0_2_10_28100.log"},
      {":28100", 267, "_28100.log"},                // an unresolved host
      {"192.0.2.10:28100", 12, "192_0_2.log"},      // cut before ".log"
      {"192.0.2.10:28100", 5, ".log"},
  };
  for (const row& r : rows) {
    char out[268];  // one more than the largest size, to see nothing is written there
    memset(out, 'x', sizeof out);
    serverLogName(r.ipPort, out, r.size);
    EXPECT_STREQ(out, r.name) << r.ipPort << " into " << r.size << " bytes";
    EXPECT_EQ(out[r.size], 'x') << "wrote past " << r.size << " bytes";
  }
}

}  // namespace

// The kernel's word that a port is closed marks the server that sends
// there, and no other: with many servers on one address, the sender index
// puts several into one chain, and each must be checked.
TEST_F(ReceptionTest, APortReportedClosedMarksThatServerAlone) {
  // A port nothing listens on: one the kernel handed out, let go again.
  int probe = trSocket(0);
  ASSERT_EQ(0, trBind(probe, 0, "127.0.0.1"));
  int closed = trSockPort(probe);
  trClosesocket(probe);
  ASSERT_GT(closed, 0);
  // Enough that chains of the index hold several records.
  constexpr int kServers = 2000;
  for (int i = 0; i < kServers; i++) {
    std::string a = "127.0.0.1:" + std::to_string(i == 17 ? closed : 30000 + i);
    addServer(a.c_str(), "admin", "pw");
  }
  int sock = trSocket(0);
  ASSERT_GE(sock, 0);
  ASSERT_EQ(0, trRecvErrors(sock));
  ASSERT_EQ(0, trBind(sock, 0, "127.0.0.1"));
  ASSERT_GT(trSendto(sock, "x", 1, serverAt(17)->ipPort), 0);
  // The ICMP answer is queued at once on loopback; a few tries at most.
  testing::internal::CaptureStdout();
  int taken = 0;
  for (int i = 0; i < 50 && taken == 0; i++) {
    taken = takeSendErrors(sock, 1000);
    if (taken == 0) trSleep(10);
  }
  std::string out = testing::internal::GetCapturedStdout();
  trClosesocket(sock);
  ASSERT_EQ(1, taken) << out;
  for (int i = 0; i < kServers; i++) {
    EXPECT_EQ(i == 17, linkState(serverAt(i)) == kLinkUnreachable) << serverAt(i)->ipPort;
  }
}
