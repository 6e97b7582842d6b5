// Link diagnostics: what counts as noise, the once-only reports, and the
// status line.
#include "protocol/health.h"

#include <cstring>
#include <string>

#include "crypto/keystream.h"
#include "protocol/server.h"
#include "support/coretest.h"

namespace {

std::string scrambledWithWrongKey(std::string text) {
  keystreamXor(1234567u, reinterpret_cast<unsigned char*>(&text[0]), text.size());
  return text;
}

bool noise(const std::string& s) {
  return looksScrambled(reinterpret_cast<const unsigned char*>(s.data()), int(s.size()));
}

TEST(LooksScrambled, Texts) {
  struct {
    const char* label;
    std::string text;
    bool want;
  } rows[] = {
      {"plain log line", "Player joined: admin (slot 3)\n", false},
      {"tabs and CR LF", "a\tb\tc\td\r\n", false},
      {"UTF-8 letters", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xe4\xb8\x96\xe7\x95\x8c",
       false},
      {"7 control bytes: too short to judge", std::string("\x01\x02\x03\x04\x05\x06\x07"), false},
      {"8 control bytes", std::string("\x01\x02\x03\x04\x05\x06\x07\x08"), true},
      {"a quarter is not more than a quarter", std::string("abcdef\x01\x02"), false},
      {"three in eight", std::string("abcde\x01\x02\x03"), true},
      {"Latin-1 name in a line", "Player M\xfcller joined the game\n", false},
      {"lone continuation bytes", std::string("\x80\x81\x82\x83\x84\x85xyz"), true},
      {"wrong key, long line", scrambledWithWrongKey("Map changed to harbour, 12 players online\n"),
       true},
      {"wrong key, short line", scrambledWithWrongKey("Round 4 started on dunes\n"), true},
  };
  for (const auto& r : rows) EXPECT_EQ(r.want, noise(r.text)) << r.label;
}

class HealthTest : public coreTest {
 protected:
  void SetUp() override {
    coreTest::SetUp();
    r_ = addServer("127.0.0.1:28100", "admin", "pw");
  }
  // Feeds one text as a shown line; returns what reached the screen.
  std::string line(const std::string& text, uint32_t tick) {
    testing::internal::CaptureStdout();
    noteLine(r_, tick, reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    return testing::internal::GetCapturedStdout();
  }
  std::string silence(uint32_t tick) {
    testing::internal::CaptureStdout();
    checkSilence(r_, tick);
    return testing::internal::GetCapturedStdout();
  }
  std::string status(uint32_t tick) {
    char out[512];
    statusLine(r_, tick, out, sizeof out);
    return out;
  }
  serverRec* r_ = nullptr;
};

TEST_F(HealthTest, MismatchIsReportedOncePerChallenge) {
  const std::string bad = scrambledWithWrongKey("Map changed to harbour, 12 players online\n");
  const std::string report =
      "**Password mismatch for 127.0.0.1:28100: its text does not unscramble; check password= "
      "for this server\n";
  EXPECT_EQ("", line(bad, 1000)) << "before any challenge noise proves nothing";
  noteChallenge(r_);
  EXPECT_EQ("", line("a readable line\n", 2000));
  EXPECT_EQ(report, line(bad, 3000));
  EXPECT_EQ("", line(bad, 4000)) << "once per challenge";
  EXPECT_NE(std::string::npos, status(5000).find(", password mismatch"));
  noteChallenge(r_);
  EXPECT_EQ(std::string::npos, status(5000).find("mismatch")) << "a new challenge clears it";
  EXPECT_EQ(report, line(bad, 6000)) << "and may be reported again";
}

TEST_F(HealthTest, SilenceIsReportedOnceThenTheFirstAnswer) {
  const std::string report = "**No answer from 127.0.0.1:28100 after 10 s: server down, wrong "
                             "myaddr= or a firewall?\n";
  EXPECT_EQ("", silence(50000)) << "nothing sent yet";
  noteSent(r_, 0xFFFFF000u, true);  // the first packet, just before the tick wraps
  EXPECT_EQ("", silence(0xFFFFF000u + 9999u));
  EXPECT_EQ(report, silence(0xFFFFF000u + 10000u));
  EXPECT_EQ("", silence(0xFFFFF000u + 60000u)) << "once";
  EXPECT_EQ(UINT32_MAX, silenceCheckIn(r_, 0x7FFFF000u)) << "nothing left to say";
  EXPECT_EQ(status(0).substr(status(0).size() - 12), ", no answer\n");
  testing::internal::CaptureStdout();
  noteHeard(r_);
  noteHeard(r_);
  EXPECT_EQ("**First answer from 127.0.0.1:28100\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(std::string::npos, status(0).find("no answer"));
}

TEST_F(HealthTest, SilenceDeadlineSurvivesAClockSetFarBack) {
  noteSent(r_, 0x80000004u, true);
  EXPECT_EQ(10000u, silenceCheckIn(r_, 0x80000004u));
  EXPECT_EQ(1u, silenceCheckIn(r_, 0x80000004u + 9999u));
  EXPECT_GT(silenceCheckIn(r_, 4u), 10000u) << "half the tick range back: not yet due";
  EXPECT_EQ("", silence(4u));
}

TEST_F(HealthTest, AServerThatAnswersInTimeIsNeverReported) {
  noteSent(r_, 1000, true);
  testing::internal::CaptureStdout();
  noteHeard(r_);
  checkSilence(r_, 100000);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST_F(HealthTest, StatusLine) {
  const std::string head = "status 127.0.0.1:28100: challenge ";
  EXPECT_EQ(head + "not answered, last line never, lines 0, heartbeats 0\n", status(0));
  noteSent(r_, 100, true);
  noteChallenge(r_);
  EXPECT_EQ(head + "not answered, last line never, lines 0, heartbeats 1\n", status(200))
      << "the challenge came after the heartbeat";
  noteSent(r_, 300, true);
  line("one\n", 1000);
  line("two\n", 2000);
  EXPECT_EQ(head + "answered, last line 7 s ago, lines 2, heartbeats 2\n", status(9999));
  noteSent(r_, 10000, false);
  EXPECT_EQ(head + "answered, last line 8 s ago, lines 2, heartbeats 2\n", status(10000))
      << "a command is no heartbeat";
}

}  // namespace
