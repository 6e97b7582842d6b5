// Each bounded kind's line and the summary of its held-back lines, both
// printed from the one table of kinds, as they appear on the screen.
#include "app/bounded.h"

#include <functional>
#include <string>

#include "app/globals.h"
#include "support/coretest.h"

namespace {

class BoundedTest : public coreTest {};

TEST_F(BoundedTest, LineAndSummaryOfEachKind) {
  serverRec* r = addServer("127.0.0.1:28100", "admin", "secret");
  const unsigned char was[4] = {1, 2, 3, 4}, now[4] = {0xa, 0xb, 0xc, 0xd};
  struct row {
    const char* line;
    const char* quoted;
    std::function<bool(uint32_t)> send;
  } rows[] = {
      {"**Ignoring packet from 10.0.0.9:5 - unknown source address / header\n",
       "Ignoring packet from ... - unknown source address / header",
       [](uint32_t t) { return logBounded(kUnknownSender, t, "10.0.0.9:5"); }},
      {"TCP Local Connection Request Denied: TCP Socket already open\n",
       "TCP Local Connection Request Denied: TCP Socket already open",
       [](uint32_t t) { return logBounded(kTcpBusy, t); }},
      {"**Refused local UDP input from 127.0.0.1:9: sender could not be verified\n",
       "Refused local UDP input from ...: sender could not be verified",
       [](uint32_t t) { return logBounded(kUdpUnverified, t, "127.0.0.1:9"); }},
      {"**Ignoring short packet from 10.0.0.9:5 [ab]\n",
       "Ignoring short packet from 127.0.0.1:28100",
       [r](uint32_t t) { return logBoundedAbout(r, kShortPacket, t, "10.0.0.9:5", "ab"); }},
      {"Received Server Challenge from 10.0.0.9:5, was=01020304, now=0a0b0c0d\n",
       "Received Server Challenge from 127.0.0.1:28100",
       [&](uint32_t t) {
         return logBoundedAbout(r, kNewChallenge, t, "10.0.0.9:5", was[0], was[1], was[2], was[3],
                                now[0], now[1], now[2], now[3]);
       }},
  };
  uint32_t tick = 500000;
  for (const row& k : rows) {
    testing::internal::CaptureStdout();
    int logged = 0;
    for (int i = 0; i < 12; i++) logged += k.send(tick) ? 1 : 0;
    flushBoundedLines(tick + 1000);
    std::string want;
    for (int i = 0; i < 10; i++) want += k.line;
    want += std::string("**2 more lines like \"") + k.quoted + "\" in the last second\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), want) << k.line;
    EXPECT_EQ(logged, 10) << k.line;
    tick += 5000;
  }
}

}  // namespace
