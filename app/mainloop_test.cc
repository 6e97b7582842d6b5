// The main loop's own parts: the client challenge it draws, the pause
// between passes, and the exit notices it sends every configured server when
// it ends.
#include "app/mainloop.h"

#include <string>

#include "app/globals.h"
#include "support/coretest.h"
#include "crypto/keystream.h"
#include "runtime/text.h"

namespace {

class MainloopTest : public coreTest {};

TEST_F(MainloopTest, ClientChallengeNeverHoldsAZeroByte) {
  for (uint32_t seed = 0; seed < 300; seed++) {
    initHeaderTemplate();
    drawClientChallenge(seed);
    for (int i = 8; i < 12; i++) ASSERT_NE(g_HEADER[i], 0) << "seed " << seed << " byte " << i;
  }
}

TEST(PassPause, OneMillisecondLongerUnderLoadAndNoneWhenWorkIsWaiting) {
  struct row {
    const char* label;
    int taken;
    bool full;
    uint32_t sinceMs;
    unsigned pause;
  };
  const row rows[] = {
      {"idle", 0, false, 51, 1},
      {"a line", 1, false, 2, 1},
      {"just below busy", kBusyPass - 1, false, 2, 1},
      {"busy at 20,000 lines/s: the longest pause", 90, false, 5, kBusyPauseMs},
      {"busy at 50,000 lines/s", 240, false, 5, 2},
      {"busy at 100,000 lines/s", 230, false, 2, 1},
      {"busy after a long wait", kBusyPass, false, 51, kBusyPauseMs},
      {"busy within the same ms", 200, false, 0, 1},
      {"stopped at the bound", 256, true, 3, 0},
      {"stopped at the bound by refused datagrams", 4096, true, 3, 0},
  };
  for (const row& r : rows) {
    EXPECT_EQ(pauseAfter(r.taken, r.full, r.sinceMs), r.pause) << r.label;
  }
}

TEST_F(MainloopTest, ExitNoticeToEveryServerInOrder) {
  udpPeer servers[3];
  for (udpPeer& s : servers) ASSERT_TRUE(s.open());
  udpPeer probe;
  ASSERT_TRUE(probe.open());
  int myPort = probe.port;
  probe.sock.sClose();  // free it for the console
  // A port above 65535 binds its low 16 bits.
  trf(g_myaddr, sizeof g_myaddr, "127.0.0.1:%d", myPort + 65536);
  const char* passwords[] = {"pw", "", "other"};
  for (int i = 0; i < 3; i++) {
    addServer(servers[i].address().c_str(), ("login" + std::to_string(i)).c_str(), passwords[i]);
  }
  g_exit = 1;  // as if "qzuconexit" had been run in the first pass
  g_debug = 1;  // every packet sent is shown, in the order sent
  testing::internal::CaptureStdout();
  qzucon();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("**Console active. Client Challenge = "), std::string::npos) << out;
  EXPECT_EQ(out.find("Listening for"), std::string::npos) << "no local inputs configured";
  size_t shown = 0;
  for (int i = 0; i < 3; i++) {
    std::string prefix = "127.0.0.1:" + std::to_string(myPort + 65536) + ";login" +
                         std::to_string(i) + ";";
    size_t at = out.find("sending[" + prefix + "qzuconexit]\n");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_GT(at, shown) << "server " << i << " out of order\n" << out;
    shown = at;
    std::string pkt = servers[i].receive();
    ASSERT_EQ(pkt.size(), 32 + prefix.size() + 11) << "server " << i;
    EXPECT_EQ(pkt.substr(32, prefix.size()), prefix) << "server " << i;
    std::string cmd = pkt.substr(32 + prefix.size());
    keystreamXor(kDefaultSeed, cmd.data(), cmd.size());
    EXPECT_EQ(cmd, std::string("qzuconexit", 11)) << "server " << i;
  }
}

}  // namespace
