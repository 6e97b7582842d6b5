// Link diagnostics: what counts as noise, the once-only reports, and the
// status line.
#include "protocol/health.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "crypto/keystream.h"
#include "protocol/keys.h"
#include "protocol/server.h"
#include "support/coretest.h"

namespace {

using bytes = std::string;

// The right key, as a server with the password "secret" scrambles with it.
uint32_t rightSeed() { return keystreamSeedFor("secret"); }

// The body a server sends for text (its NUL included unless withNul is
// false), scrambled with the right key and unscrambled with seed.
bytes bodyUnder(uint32_t seed, const bytes& text, bool withNul = true) {
  bytes b = withNul ? text + '\0' : text;
  keystreamXor(rightSeed(), &b[0], b.size());
  keystreamXor(seed, &b[0], b.size());
  return b;
}

bool judge(noiseWindow* w, const bytes& body) {
  return judgeBody(w, reinterpret_cast<const unsigned char*>(body.data()), int(body.size()));
}

TEST(LineTraits, WhereTheNulIs) {
  struct {
    const char* label;
    bytes body;
    int nulAstray;
  } rows[] = {
      {"text and its NUL", bytes("say hi\n\0", 8), 0},
      {"NULs after the NUL", bytes("say hi\0\0\0", 9), 0},
      {"nothing but NULs", bytes(16, '\0'), 0},
      {"no NUL", "say hi\n", 1},
      {"NUL inside", bytes("say\0hi\n", 7), 1},
  };
  for (const auto& r : rows) {
    lineTraits t =
        traitsOf(reinterpret_cast<const unsigned char*>(r.body.data()), int(r.body.size()));
    EXPECT_EQ(r.nulAstray, t.nulAstray) << r.label;
  }
  lineTraits t = traitsOf(reinterpret_cast<const unsigned char*>("\x01\t\x1b\x7f\x80\xff\r\n"), 8);
  EXPECT_EQ(2, t.controls) << "tab, ESC, CR and LF are text";
  EXPECT_EQ(2, t.high);
}

// Texts that servers send, each of which must pass as unscrambled with the
// right key however often it comes. Most must pass even from a server that
// leaves out the NUL after its text; those that only the NUL tells from noise
// (controls and high bits at once) are marked.
TEST(LooksScrambled, RealTextIsNeverNoise) {
  bytes colour =
      "\x01Red\x02 team \x03scored\x04 a point \x05"
      "for \x06"
      "Blue\x07 \x08now\n";
  struct {
    const char* label;
    bytes text;
    bool onlyTheNulTells;
  } rows[] = {
      {"UTF-8 Cyrillic",
       "\xd0\x98\xd0\xb3\xd1\x80\xd0\xbe\xd0\xba \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd "
       "\xd0\xb2\xd0\xbe\xd1\x88\xd1\x91\xd0\xbb \xd0\xb2 \xd0\xb8\xd0\xb3\xd1\x80\xd1\x83\n",
       false},
      {"UTF-8 Greek and CJK",
       "\xce\xa0\xce\xb1\xce\xaf\xce\xba\xcf\x84\xce\xb7\xcf\x82 "
       "\xe7\x8e\xa9\xe5\xae\xb6\xe5\x8a\xa0\xe5\x85\xa5 map 3\n",
       false},
      {"UTF-8 emoji", "gg \xf0\x9f\x8e\x89\xf0\x9f\x8e\x89 well played\n", false},
      {"CP1251",
       "\xc8\xe3\xf0\xee\xea \xc8\xe2\xe0\xed \xe2\xee\xf8\xb8\xeb \xe2 \xe8\xe3\xf0\xf3 (3/16)\n",
       false},
      {"Latin-1",
       "Spieler M\xfcller hat \xfc"
       "ber 9000 Punkte, \xe7"
       "a va tr\xe8s bien\n",
       false},
      {"GBK", "\xcd\xe6\xbc\xd2\xbc\xd3\xc8\xeb\xc1\xcb\xd3\xce\xcf\xb7 [3/16]\n", false},
      {"engine colour bytes", colour, false},
      {"ANSI colour sequences", "\x1b[31mERROR\x1b[0m \x1b[1;33mmap\x1b[0m failed to load\r\n",
       false},
      {"colour bytes in CP1251 chat",
       "\x01\xc8\xe2\xe0\xed\x02: \x03\xef\xf0\xe8\xe2\xe5\xf2\x04 "
       "\x05\xe2\xf1\xe5\xec\x06\n",
       true},
      {"digits", "1234567890123456789012345678901234567890", false},
      {"1 byte", "x", false},
      {"1,400 bytes", bytes(1399, 'a') + "\n", false},
      {"status dump", "slots 16 \x01\x02\x03\x04 flags \x7f\x7f\x10\x11 ping 35 48 62\n", false},
      {"status dump, high bytes", "stat\x80\x81\x82\x83\xf0\xf1\xf2 ok\x01\x02\x03\x04\x7f\n",
       true},
  };
  for (const auto& r : rows) {
    for (bool withNul : {true, false}) {
      if (!withNul && r.onlyTheNulTells) continue;
      noiseWindow w = {};
      for (int i = 0; i < 10; i++) {
        EXPECT_FALSE(judge(&w, bodyUnder(rightSeed(), r.text, withNul)))
            << r.label << (withNul ? "" : ", without its NUL") << ", line " << i + 1;
      }
    }
  }
}

// Log lines as a server writes them, each at least 16 bytes with its NUL.
const char* const kServerLines[] = {
    "Player joined: admin (slot 3)\n",
    "Map changed to harbour\n",
    "Round 4 started on dunes, 12 players online\n",
    "kick 7: idle too long\n",
    "Say [Blue] Ivan: gg\n",
    "Server settings: friendly fire off, time limit 20 min\n",
    "Score 3:2\n",
    "Vote to change map passed (9 of 12)\n",
};

// The share of wrong keys that are reported within three bodies of the
// given texts: the first `keys` seeds from a fixed generator, each judged
// over three lines from its own starting point in the list.
double detectedShare(const std::vector<bytes>& lines, int keys) {
  std::mt19937 pick(15);
  int found = 0;
  for (int k = 0; k < keys; k++) {
    uint32_t seed = pick();
    if (seed == rightSeed()) seed++;
    noiseWindow w = {};
    bool reported = false;
    // Shorter bodies are passed over and do not count.
    for (int i = 0, judged = 0; judged < 3 && !reported; i++) {
      const bytes& text = lines[(k + i) % lines.size()];
      reported = judge(&w, bodyUnder(seed, text));
      judged += text.size() + 1 >= kNoiseMinBytes;
    }
    found += reported;
  }
  return double(found) / keys;
}

TEST(LooksScrambled, WrongKeysAreFoundWithinThreeLines) {
  std::vector<bytes> lines(std::begin(kServerLines), std::end(kServerLines));
  double share = detectedShare(lines, 10000);
  std::printf("wrong keys found within 3 server lines: %.2f %%\n", share * 100);
  EXPECT_GE(share, 0.999);
  // The shortest bodies judged (15 characters and the NUL) say the least;
  // the share for them is shown, not held to the same mark.
  std::vector<bytes> shortest = {"Score 3:2, 4:2\n", "kick 7: idle 2\n", "Say [B] Ivan:gg"};
  std::printf("wrong keys found within 3 bodies of 16 bytes: %.2f %%\n",
              detectedShare(shortest, 10000) * 100);
}

// What a script's wait sees of a wrong key: the first body judged (a
// greeting, or the answer to its command). The share of wrong keys that one
// such body reports as a mismatch, and the share it confirms (which must
// practically never happen: a script would take the session for sound).
struct firstBodyShares {
  double mismatch, confirmed;
};
firstBodyShares firstBody(const std::vector<bytes>& lines, int keys) {
  std::mt19937 pick(23);
  int mismatch = 0, confirmed = 0;
  for (int k = 0; k < keys; k++) {
    uint32_t seed = pick();
    if (seed == rightSeed()) seed++;
    noiseWindow w = {};
    bytes body = bodyUnder(seed, lines[k % lines.size()]);
    bool noisy = judge(&w, body);
    mismatch += noisy;
    lineTraits t = traitsOf(reinterpret_cast<const unsigned char*>(body.data()), int(body.size()));
    confirmed += !noisy && keyEvidence(t) >= kConfirmBits;
  }
  return {double(mismatch) / keys, double(confirmed) / keys};
}

TEST(KeyEvidence, WrongKeysPracticallyNeverConfirm) {
  std::vector<bytes> lines(std::begin(kServerLines), std::end(kServerLines));
  firstBodyShares s = firstBody(lines, 100000);
  std::printf("wrong keys, one server line: mismatch %.2f %%, confirmed %.4f %%\n",
              s.mismatch * 100, s.confirmed * 100);
  EXPECT_LE(s.confirmed, 0.0001);
  // What a wrong password gets back from the stand-in: its greetings.
  std::vector<bytes> greetings;
  for (unsigned c : {0x3a7f19c2u, 0x0badf00du, 0x12345678u, 0xfedcba98u}) {
    char text[80];
    std::snprintf(text, sizeof text, "qzstandin 127.0.0.1:41234 welcome admin, challenge %08x\n",
                  c);
    greetings.push_back(text);
  }
  s = firstBody(greetings, 100000);
  std::printf("wrong keys, one stand-in greeting: mismatch %.2f %%, confirmed %.4f %%\n",
              s.mismatch * 100, s.confirmed * 100);
  EXPECT_LE(s.confirmed, 0.0001);
  EXPECT_GE(s.mismatch, 0.99);
}

TEST(KeyEvidence, WhatConfirmsAlone) {
  struct {
    const char* label;
    bytes text;
    bool withNul, confirms;
  } rows[] = {
      {"server line", "Map changed to harbour\n", true, true},
      {"the stand-in's echo", "echo: status\n", true, true},
      {"server line without its NUL", "Round 4 started on dunes, 12 players online\n", false, true},
      {"engine colour bytes", "\x01Red\x02 team \x03scored\x04 a point\n", true, true},
      {"UTF-8, 70 bytes", bytes(34, '\xd0') + bytes(35, '\xb0') + "\n", true, true},
      {"UTF-8, 30 bytes", bytes(29, '\xd0') + "\n", true, false},
      {"short", "gg\n", true, false},
      {"controls and high bits", "\x01\xc8\xe2\xe0\xed\x02: \x03\xef\xf0\xe8 Red team scored\n",
       true, false},
  };
  for (const auto& r : rows) {
    bytes body = bodyUnder(rightSeed(), r.text, r.withNul);
    lineTraits t = traitsOf(reinterpret_cast<const unsigned char*>(body.data()), int(body.size()));
    EXPECT_EQ(r.confirms, keyEvidence(t) >= kConfirmBits) << r.label << ": " << keyEvidence(t);
  }
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
  const bytes bad = bodyUnder(1234567u, "Map changed to harbour, 12 players online\n");
  const bytes good = bodyUnder(rightSeed(), "Map changed to harbour, 12 players online\n");
  const std::string report =
      "**Password mismatch for 127.0.0.1:28100: its text does not unscramble; check password= "
      "for this server\n";
  for (int i = 0; i < 4; i++) EXPECT_EQ("", line(bad, 1000)) << "before any challenge";
  noteChallenge(r_);
  EXPECT_EQ("", line(good, 2000));
  EXPECT_EQ("", line(good, 2100));
  EXPECT_EQ(report, line(bad, 2500)) << "one long noisy body is enough";
  EXPECT_EQ("", line(bad, 4000)) << "once per challenge";
  EXPECT_NE(std::string::npos, status(5000).find(", password mismatch"));
  EXPECT_TRUE(passwordMismatch(r_));
  noteChallenge(r_);
  EXPECT_FALSE(passwordMismatch(r_)) << "a new challenge clears it";
  EXPECT_EQ(report, line(bad, 6000)) << "and the next noisy greeting tells it again";
}

// Short bodies say little each; the last three together are judged.
TEST_F(HealthTest, ShortBodiesAreJudgedTogether) {
  // Each lacks one trait of noise: the first two a control, the last its NUL astray.
  const bytes noControl("\x8fq\xa0x\xf1z\xc4m\x99w\xe8k\xb3p\xd2", 15);
  const bytes nulAtEnd("\x8f\x03\xa0x\xf1\x12q\xc4\x7fz\x99w\xe8k\xb3\0", 16);
  noteChallenge(r_);
  EXPECT_EQ("", line(noControl + "a", 1000));
  EXPECT_EQ("", line(noControl + "b", 1100));
  EXPECT_NE("", line(nulAtEnd, 1200)) << "all three traits over the window";
}

TEST_F(HealthTest, TheKeyIsConfirmedByTextUntilNoiseComes) {
  const bytes good = bodyUnder(rightSeed(), "Player joined: admin (slot 3)\n");
  const bytes bad = bodyUnder(1234567u, "Player joined: admin (slot 3)\n");
  line(good, 500);
  noteSent(r_, 600, true);
  EXPECT_EQ(kLinkWaiting, linkState(r_)) << "before any challenge the text says nothing";
  noteChallenge(r_);
  noteSent(r_, 1000, true);
  EXPECT_EQ(kLinkUp, linkState(r_)) << "answered, nothing shown yet";
  line(bodyUnder(rightSeed(), "gg\n"), 1100);
  EXPECT_EQ(kLinkUp, linkState(r_)) << "too short to tell";
  line(good, 1200);
  EXPECT_EQ(kLinkConfirmed, linkState(r_));
  EXPECT_NE(std::string::npos, status(1300).find(", key confirmed\n"));
  noteChallenge(r_);
  EXPECT_EQ(kLinkWaiting, linkState(r_)) << "a new challenge must be answered first";
  noteSent(r_, 1400, true);
  EXPECT_EQ(kLinkConfirmed, linkState(r_)) << "the key is the same";
  line(bad, 1500);
  EXPECT_EQ(kLinkMismatch, linkState(r_));
  EXPECT_EQ(std::string::npos, status(1600).find("confirmed"));
  noteChallenge(r_);
  noteSent(r_, 1700, true);
  EXPECT_EQ(kLinkUp, linkState(r_)) << "noise withdrew the confirmation";
}

// A server that meets our proof with a new challenge, before any line, has
// refused it; what it says then may look like text (a wrong key leaves the
// NUL at a greeting's end in one case of 256), so this alone tells.
TEST_F(HealthTest, AProofMetWithANewChallengeIsAMismatch) {
  const std::string report =
      "**Password mismatch for 127.0.0.1:28100: it answered the password proof with a new "
      "challenge; check password= for this server\n";
  const bytes shortText = bodyUnder(rightSeed(), "gg\n");  // neither noise nor confirming
  const bytes confirming = bodyUnder(rightSeed(), "Player joined: admin (slot 3)\n");
  struct {
    const char* label;
    bool answer;       // a packet carries the first challenge
    const bytes* got;  // a line that came after it, if any
    bool refused;
  } rows[] = {
      {"answered, nothing in between", true, nullptr, true},
      {"answered, a line in between", true, &shortText, false},
      {"not answered", false, nullptr, false},
  };
  for (const auto& row : rows) {
    SetUp();
    noteChallenge(r_);
    if (row.answer) noteSent(r_, 1000, true);
    if (row.got) line(*row.got, 1100);
    testing::internal::CaptureStdout();
    noteChallenge(r_);
    EXPECT_EQ(row.refused ? report : "", testing::internal::GetCapturedStdout()) << row.label;
    EXPECT_EQ(row.refused, passwordMismatch(r_)) << row.label;
    EXPECT_EQ(row.refused ? kLinkMismatch : kLinkWaiting, linkState(r_)) << row.label;
  }

  // A key the text has confirmed is right, whatever the server did with the proof.
  SetUp();
  noteChallenge(r_);
  line(confirming, 900);
  noteSent(r_, 1000, true);
  noteChallenge(r_);
  EXPECT_FALSE(passwordMismatch(r_)) << "confirmed before";
  SetUp();
  noteChallenge(r_);
  noteSent(r_, 1000, true);
  noteChallenge(r_);
  ASSERT_TRUE(passwordMismatch(r_));
  line(confirming, 1200);
  EXPECT_FALSE(passwordMismatch(r_)) << "confirmed after";
  // A server that goes on under the new challenge once answered took the proof.
  SetUp();
  noteChallenge(r_);
  noteSent(r_, 1000, true);
  noteChallenge(r_);
  noteSent(r_, 1300, true);
  EXPECT_TRUE(passwordMismatch(r_));
  line(shortText, 1400);
  EXPECT_EQ(kLinkUp, linkState(r_)) << "a line under the answered challenge";
}

// What a script's send gets from the stand-in over 100,000 wrong keys: its
// command's proof is refused, so the answer is a new challenge and its
// greeting (the first greeting came before). Printed beside the share that a
// greeting alone tells, as when the send went out before any challenge.
TEST_F(HealthTest, WrongKeysAsASendSeesThem) {
  std::mt19937 pick(31);
  int alone = 0, send = 0;
  const int keys = 100000;
  testing::internal::CaptureStdout();
  for (int k = 0; k < keys; k++) {
    uint32_t seed = pick();
    if (seed == rightSeed()) seed++;
    char text[80];
    std::snprintf(text, sizeof text, "qzstandin 127.0.0.1:41234 welcome admin, challenge %08x\n",
                  unsigned(pick()));
    r_->health = serverHealth{};
    noteChallenge(r_);
    noteLine(r_, 1000, reinterpret_cast<const unsigned char*>(bodyUnder(seed, text).data()), 61);
    alone += passwordMismatch(r_);
    noteSent(r_, 1100, false);  // the command, with a proof the server refuses
    noteChallenge(r_);
    noteLine(r_, 2000, reinterpret_cast<const unsigned char*>(bodyUnder(seed, text).data()), 61);
    send += linkState(r_) == kLinkMismatch;
  }
  testing::internal::GetCapturedStdout();
  std::printf("wrong keys: the first greeting alone tells %.2f %%, a send's answer %.3f %%\n",
              100.0 * alone / keys, 100.0 * send / keys);
  EXPECT_GE(double(send) / keys, 0.999);
}

TEST_F(HealthTest, SilenceIsReportedOnceThenTheFirstAnswer) {
  const std::string report =
      "**No answer from 127.0.0.1:28100 after 10 s: server down, wrong "
      "myaddr= or a firewall?\n";
  EXPECT_EQ("", silence(50000)) << "nothing sent yet";
  noteSent(r_, 0xFFFFF000u, true);  // the first packet, just before the tick wraps
  EXPECT_EQ("", silence(0xFFFFF000u + 9999u));
  EXPECT_EQ(report, silence(0xFFFFF000u + 10000u));
  EXPECT_EQ("", silence(0xFFFFF000u + 60000u)) << "once";
  EXPECT_EQ(UINT32_MAX, silenceCheckIn(r_, 0x7FFFF000u)) << "nothing left to say";
  EXPECT_EQ(status(0).substr(status(0).size() - 12), ", no answer\n");
  testing::internal::CaptureStdout();
  noteHeard(r_, 20, 0);
  noteHeard(r_, 20, 0);
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
  noteHeard(r_, 20, 0);
  checkSilence(r_, 100000);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

// A closed port is told once, whatever number of errors report it; the next
// datagram clears it and says so. Another closed port is told again.
TEST_F(HealthTest, AClosedPortMarksTheServerUntilItsNextDatagram) {
  const std::string closed =
      "**Server 127.0.0.1:28100 unreachable: port unreachable, reported by 127.0.0.1\n";
  noteSent(r_, 1000, true);
  testing::internal::CaptureStdout();
  notePortUnreachable(r_, 1100, "127.0.0.1");
  notePortUnreachable(r_, 1200, "127.0.0.1");
  EXPECT_EQ(closed, testing::internal::GetCapturedStdout());
  EXPECT_EQ(kLinkUnreachable, linkState(r_));
  EXPECT_NE(std::string::npos, status(1300).find(", unreachable\n"));
  EXPECT_TRUE(probing(r_, 1300)) << "probed although never heard";
  EXPECT_FALSE(probing(r_, 1100 + kProbeWindowMs)) << "for a while only";
  testing::internal::CaptureStdout();
  noteHeard(r_, 20, 5000);
  noteHeard(r_, 20, 5100);
  EXPECT_EQ("**First answer from 127.0.0.1:28100\n", testing::internal::GetCapturedStdout());
  EXPECT_FALSE(unreachable(r_));
  EXPECT_FALSE(probing(r_, 5200));
  testing::internal::CaptureStdout();
  notePortUnreachable(r_, 9000, "127.0.0.1");
  notePortUnreachable(r_, 9100, "127.0.0.1");
  noteHeard(r_, 20, 9500);
  EXPECT_EQ(closed + "**Answer again from 127.0.0.1:28100\n",
            testing::internal::GetCapturedStdout());
}

// Without the kernel's word: a command that meets silence marks the server,
// an unanswered heartbeat never does (an idle server need not answer one).
TEST_F(HealthTest, ACommandUnansweredAfterASilenceMarksTheServer) {
  const std::string gone =
      "**Server 127.0.0.1:28100 unreachable: no answer to a command, nothing from it for 47 s\n";
  noteHeard(r_, 20, 1000);
  noteSent(r_, 2000, true);
  EXPECT_EQ("", silence(100000)) << "heartbeats only";
  EXPECT_EQ(UINT32_MAX, silenceCheckIn(r_, 100000));
  noteSent(r_, 47000, false);
  EXPECT_EQ(kCommandAnswerMs, silenceCheckIn(r_, 47000)) << "time to answer it first";
  noteSent(r_, 47500, false);
  EXPECT_EQ("", silence(47999));
  EXPECT_EQ(gone, silence(48000)) << "from the first command on";
  EXPECT_EQ("", silence(60000)) << "once";
  EXPECT_EQ(kLinkUnreachable, linkState(r_));
  noteHeard(r_, 20, 61000);
  EXPECT_FALSE(unreachable(r_));
  // A command within the silence limit waits for it to pass.
  noteSent(r_, 65000, false);
  EXPECT_EQ(6000u, silenceCheckIn(r_, 65000));
  noteHeard(r_, 20, 66000);
  EXPECT_EQ("", silence(200000)) << "answered";
}

TEST_F(HealthTest, ProbingStartsAtTheSilenceLimitOfAServerThatTalked) {
  noteSent(r_, 0, true);
  EXPECT_FALSE(probing(r_, 50000)) << "never heard: the no-answer report's business";
  noteHeard(r_, 20, 0xFFFFF000u);  // across the wrap
  EXPECT_EQ(uint32_t(kSilenceMs), probeIn(r_, 0xFFFFF000u));
  EXPECT_FALSE(probing(r_, 0xFFFFF000u + kSilenceMs - 1));
  EXPECT_TRUE(probing(r_, 0xFFFFF000u + kSilenceMs));
  EXPECT_EQ(UINT32_MAX, probeIn(r_, 0xFFFFF000u + kSilenceMs));
  EXPECT_TRUE(probing(r_, 0xFFFFF000u + kSilenceMs + kProbeWindowMs - 1));
  EXPECT_FALSE(probing(r_, 0xFFFFF000u + kSilenceMs + kProbeWindowMs)) << "bounded";
}

// A server that stops breaking its own pace is probed sooner: after three
// of its usual gaps, 2.5 s at the soonest; one that talks rarely waits for
// the silence limit, its heartbeats as they always were.
TEST(ProbeAfter, ThreeUsualGapsWithinTheLimits) {
  struct row {
    uint32_t gap;
    int32_t after;
  } rows[] = {
      {0, kSilenceMs},       // not known yet
      {1, kProbeSoonestMs},  // a burst
      {500, kProbeSoonestMs},
      {1000, 3000},
      {3000, 9000},
      {3334, kSilenceMs},
      {60000, kSilenceMs},
  };
  for (const row& r : rows) EXPECT_EQ(r.after, probeAfterMs(r.gap)) << r.gap;
}

TEST_F(HealthTest, AServerThatTalkedEverySecondIsProbedAfterThree) {
  noteSent(r_, 0, true);
  for (uint32_t t = 1000; t <= 20000; t += 1000) noteHeard(r_, 20, t);
  EXPECT_FALSE(probing(r_, 20000 + 2999));
  EXPECT_TRUE(probing(r_, 20000 + 3000));
  noteHeard(r_, 20, 30000);  // back: its pace is still about a second
  EXPECT_LT(probeAfterMs(r_->health.usualGap), kSilenceMs);
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
