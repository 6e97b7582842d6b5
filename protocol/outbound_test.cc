// Packets to the servers on loopback: command layout and scrambling, the
// server's own seed and header, heartbeat timing and the exit notice.
#include "protocol/outbound.h"

#include <cstring>
#include <string>

#include "app/globals.h"
#include "support/coretest.h"
#include "crypto/keystream.h"
#include "protocol/keys.h"
#include "runtime/text.h"

namespace {

class OutboundTest : public coreTest {
 protected:
  void SetUp() override {
    coreTest::SetUp();
    ASSERT_TRUE(server_.open());
    ASSERT_TRUE(console_.open());
    strzcpy(g_myaddr, "10.0.0.1:24350", 256);
  }
  // The command text of a received packet, unscrambled with seed.
  static std::string command(const std::string& pkt, size_t prefix, uint32_t seed) {
    std::string c = pkt.substr(32 + prefix);
    keystreamXor(seed, c.data(), c.size());
    return c;
  }
  udpPeer server_, console_;
};

TEST_F(OutboundTest, CommandPacketLayout) {
  serverRec* r = addServer(server_.address().c_str(), "admin", "");
  const std::string prefix = "10.0.0.1:24350;admin;";
  struct row {
    std::string line;
  };
  const row rows[] = {{"status"}, {"100% %s %n"}, {""}};
  for (const row& c : rows) {
    SCOPED_TRACE(testing::PrintToString(c.line));
    sendCommand(console_.sock.handle, 4242, 4242, r, c.line.c_str());
    std::string pkt = server_.receive();
    ASSERT_EQ(pkt.size(), 32 + prefix.size() + c.line.size() + 1);
    EXPECT_EQ(memcmp(pkt.data(), r->header, 32), 0);
    EXPECT_EQ(pkt.substr(32, prefix.size()), prefix);
    EXPECT_EQ(command(pkt, prefix.size(), kDefaultSeed), c.line + '\0');
    EXPECT_EQ(r->lastSend, 4242u);
  }
  // Enter alone sends one scrambled NUL: the first keystream byte of the seed.
  sendCommand(console_.sock.handle, 1, 1, r, "");
  EXPECT_EQ(static_cast<unsigned char>(server_.receive().back()), 0x27);
}

TEST_F(OutboundTest, CommandUsesTheServersOwnSeedAndHeader) {
  serverRec* r = addServer(server_.address().c_str(), "admin", "secret");
  r->rseed = keystreamSeedFor("secret");
  memcpy(r->header + kServerChallengeOffset, "\x12\x34\x56\x78", 4);
  sendCommand(console_.sock.handle, 1, 1, r, "say hi");
  std::string pkt = server_.receive();
  EXPECT_EQ(pkt.substr(12, 4), "\x12\x34\x56\x78");
  EXPECT_EQ(command(pkt, strlen("10.0.0.1:24350;admin;"), r->rseed), std::string("say hi", 7));
}

TEST_F(OutboundTest, HeartbeatTiming) {
  serverRec* r = addServer(server_.address().c_str(), "hb", "pw");
  struct row {
    uint32_t lastSend;
    uint32_t tick;
    bool sent;
  };
  const row rows[] = {
      {0, 5000000, false},               // never armed
      {1, 30001, false},                 // exactly 30000 ms: not yet
      {1, 30002, true},
      {1, 0x80000001u, false},           // the start-up marker alone misses half the clock
      {0xFFFFF000u, 0x00006000u, false}, // across the wrap, 28672 ms
      {0xFFFFF000u, 0x00007600u, true},  // across the wrap, 34304 ms
      {100000, 90000, false},            // clock set back
  };
  for (const row& c : rows) {
    SCOPED_TRACE("last send " + std::to_string(c.lastSend) + ", tick " + std::to_string(c.tick));
    r->lastSend = c.lastSend;
    heartbeatsChanged();  // written by hand, not through the protocol
    checkHeartbeat(console_.sock.handle, c.tick, c.tick);
    std::string pkt = server_.receive(c.sent ? 3000 : 100);
    EXPECT_EQ(!pkt.empty(), c.sent);
    EXPECT_EQ(r->lastSend, c.sent ? c.tick : c.lastSend);
    if (c.sent) {
      EXPECT_EQ(pkt.substr(32), std::string("10.0.0.1:24350;hb;\0", 19));
    }
  }
}

TEST_F(OutboundTest, FirstPassHeartbeatWhateverTheClock) {
  serverRec* withPw = addServer(server_.address().c_str(), "a", "pw");
  serverRec* without = addServer("127.0.0.1:9", "b", "");
  // At 31000 the due mark would be 0, which means "never armed".
  const uint32_t ticks[] = {0x80000001u, 31000u, 5u, 0xFFFFFFFFu};
  for (uint32_t tick : ticks) {
    withPw->lastSend = 1;
    armHeartbeats(tick);
    EXPECT_EQ(without->lastSend, 0u) << "tick " << tick;
    checkHeartbeat(console_.sock.handle, tick, tick);
    EXPECT_FALSE(server_.receive().empty()) << "tick " << tick;
    EXPECT_EQ(withPw->lastSend, tick);
  }
}

// The interval a walk in every pass would keep for rec after a send at
// lastSend: a probe more than 2 s after it, on the next tick of the grid.
int32_t gapOf(const serverRec* rec, uint32_t lastSend, uint32_t mono) {
  if (!probing(rec, mono)) return kHeartbeatMs;
  int32_t gap = kProbeMs + 1;
  while ((lastSend + static_cast<uint32_t>(gap)) % kProbeGridMs != 0) gap++;
  return gap - 1;
}

// Passes that skip the walk must send exactly what a walk in every pass
// would: the clock steps on, jumps back an hour, wraps; commands and
// challenges move lastSend in between; servers talk, fall silent and are
// reported unreachable, so that probes start and stop.
TEST_F(OutboundTest, SkippedWalksNeverMissOrAddAHeartbeat) {
  serverRec* recs[] = {addServer("127.0.0.1:9", "a", "pw"), addServer("127.0.0.1:9", "b", ""),
                       addServer("127.0.0.1:9", "c", "pw")};
  armHeartbeats(0xFFFF0000u);
  uint32_t tick = 0xFFFF0000u, mono = 5000, rnd = 12345;
  int sent = 0, probes = 0;
  testing::internal::CaptureStdout();  // the health lines
  for (int pass = 0; pass < 150000; pass++) {
    rnd = rnd * 1103515245u + 12345u;
    uint32_t r = rnd >> 8;
    uint32_t toDue = UINT32_MAX;  // to the nearest heartbeat ahead: steps land on and beside it
    for (serverRec* rec : recs) {
      uint32_t d = rec->lastSend + gapOf(rec, rec->lastSend, mono) + 1 - tick;
      if (rec->lastSend != 0 && static_cast<int32_t>(d) > 0 && d < toDue) toDue = d;
    }
    // The monotonic clock steps with the tick but never jumps back.
    uint32_t step = r % 7;
    if (r % 1000 == 0) {
      tick -= 3600000u;
      step = 0;
    } else if (r % 4 < 2 && toDue != UINT32_MAX) {
      step = toDue - r % 2;
    }
    tick += step;
    mono += step;
    if (r % 997 == 0) sendCommand(-1, tick, mono, recs[1], "x");
    if (r % 1499 == 0) markHeartbeatDue(recs[r % 3], tick);
    if (r % 211 == 0) noteHeard(recs[r % 3], 20, mono);
    if (r % 3001 == 0) notePortUnreachable(recs[r % 3], mono, "127.0.0.1");
    uint32_t before[3];
    for (int i = 0; i < 3; i++) before[i] = recs[i]->lastSend;
    checkHeartbeat(-1, tick, mono);
    // Against the interval after the walk: it may find a server unreachable
    // before it looks at heartbeats.
    bool wrong = false;
    for (int i = 0; i < 3; i++) {
      int32_t gap = gapOf(recs[i], before[i], mono);
      bool due = before[i] != 0 && static_cast<int32_t>(tick - before[i]) > gap;
      EXPECT_EQ(recs[i]->lastSend, due ? tick : before[i]) << "pass " << pass << " server " << i;
      wrong |= recs[i]->lastSend != (due ? tick : before[i]);
      sent += due;
      probes += due && gap < kHeartbeatMs;
    }
    if (wrong) break;
  }
  testing::internal::GetCapturedStdout();
  EXPECT_GT(sent - probes, 1000) << "the sequence reaches heartbeats";
  EXPECT_GT(probes, 1000) << "and probes";
}

// Heartbeats follow the tick, with its jumps; how long a server has been
// silent, and the second between two answers, follow the monotonic clock.
TEST_F(OutboundTest, ClockJumpsMoveNoHealthTimer) {
  serverRec* r = addServer(server_.address().c_str(), "a", "pw");
  const uint32_t tick = 5000000, hour = 3600000;
  armHeartbeats(tick);
  testing::internal::CaptureStdout();
  checkHeartbeat(console_.sock.handle, tick, 70000);  // the first heartbeat
  checkHeartbeat(console_.sock.handle, tick + hour + 2000, 72000);  // clocks go forward
  EXPECT_EQ(r->lastSend, tick + hour + 2000) << "the tick decides heartbeats";
  checkHeartbeat(console_.sock.handle, tick - hour, 79999);  // and back again
  std::string early = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string::npos, early.find("No answer")) << early;
  testing::internal::CaptureStdout();
  checkHeartbeat(console_.sock.handle, tick - hour + 1, 80000);
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("**No answer from"))
      << "10 s after the first packet, by the monotonic clock";

  answerChallenge(r, tick, 100000);
  EXPECT_EQ(r->answerState, kAnswered);
  answerChallenge(r, tick - hour, 100500);
  EXPECT_EQ(r->answerState, kAnswerWaiting) << "a clock set back opens no second early";
  checkHeartbeat(console_.sock.handle, tick - hour, 100999);
  EXPECT_EQ(r->answerState, kAnswerWaiting);
  checkHeartbeat(console_.sock.handle, tick - hour, 101000);
  EXPECT_EQ(r->answerState, kAnswered);
}

TEST_F(OutboundTest, DebugLinesAndExitNotice) {
  addServer(server_.address().c_str(), "admin", "");
  serverAt(0)->lastSend = 1;
  g_debug = 1;
  testing::internal::CaptureStdout();
  checkHeartbeat(console_.sock.handle, 40000, 40000);
  sendExitNotices(console_.sock.handle, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "sending heartbeat ...\nsending[10.0.0.1:24350;admin;] to " + server_.address() +
                "\nsending[10.0.0.1:24350;admin;qzuconexit]\n");
  server_.receive();
  std::string exitPkt = server_.receive();
  EXPECT_EQ(command(exitPkt, strlen("10.0.0.1:24350;admin;"), kDefaultSeed),
            std::string("qzuconexit", 11));
}

}  // namespace
