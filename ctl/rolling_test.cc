#include "ctl/rolling.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/text.h"

namespace {

rollingResult judged(const char* ipPort, int session, bool untilAsked, bool seen, long ms = 1234) {
  rollingResult r;
  strzcpy(r.ipPort, ipPort, kCtlAddrChars);
  rollingJudge(&r, session, untilAsked, seen, 5000);
  r.ms = ms;
  return r;
}

std::string line(const rollingResult& r, bool json) {
  char out[512];
  return rollingLine(r, json, 0, out, sizeof out) < 0 ? "(too long)" : out;
}

TEST(Rolling, JudgesATurnAndWritesItsLine) {
  const struct {
    int session;
    bool untilAsked, seen, goOn, goOnKeepGoing;
    const char* text;
    int status;
  } cases[] = {
      {kCtlOk, false, false, true, true, "1.2.3.4:5 ok 1.2 s", kCtlOk},
      {kCtlOk, true, true, true, true, "1.2.3.4:5 ok 1.2 s", kCtlOk},
      {kCtlOk, true, false, false, true, "1.2.3.4:5 failed: no line matched --until within 5.0 s",
       kCtlNotSeen},
      // A broken session says more than the line it kept from coming.
      {kCtlMismatch, true, false, false, true, "1.2.3.4:5 failed: password mismatch", kCtlMismatch},
      {kCtlUnreachable, false, false, false, true, "1.2.3.4:5 failed: unreachable",
       kCtlUnreachable},
      {kCtlNoAnswer, false, false, false, true, "1.2.3.4:5 failed: no answer", kCtlNoAnswer},
      {kCtlUnconfirmed, false, false, false, true,
       "1.2.3.4:5 failed: its password is not confirmed yet", kCtlUnconfirmed},
      // Without the console nothing more can be sent, --keep-going or not.
      {kCtlError, false, false, false, false,
       "1.2.3.4:5 failed: the console refused the send or went away", kCtlError},
  };
  for (const auto& c : cases) {
    rollingResult r = judged("1.2.3.4:5", c.session, c.untilAsked, c.seen);
    EXPECT_EQ(c.text, line(r, false));
    EXPECT_EQ(c.status, r.status) << c.text;
    EXPECT_EQ(c.goOn, rollingGoOn(r, false)) << c.text;
    EXPECT_EQ(c.goOnKeepGoing, rollingGoOn(r, true)) << c.text;
  }
  rollingResult r = judged("1.2.3.4:5", kCtlOk, false, false);
  EXPECT_EQ(
      "{\"server\":\"1.2.3.4:5\",\"time\":\"1970-01-01T00:00:00.000Z\",\"kind\":\"rolling\","
      "\"result\":\"ok\",\"seconds\":1.2}",
      line(r, true));
  r = judged("1.2.3.4:5", kCtlMismatch, false, false);
  EXPECT_NE(std::string::npos,
            line(r, true).find("\"result\":\"failed\",\"seconds\":1.2,\"reason\":\"password "
                               "mismatch\"}"));
  rollingResult waiting;
  strzcpy(waiting.ipPort, "h:1", kCtlAddrChars);
  strzcpy(waiting.reason, "an earlier server failed", kRollingReasonChars);
  EXPECT_EQ("h:1 not sent: an earlier server failed", line(waiting, false));
  EXPECT_NE(std::string::npos, line(waiting, true).find("\"result\":\"not sent\",\"reason\":"));
  char small[20];
  EXPECT_EQ(-1, rollingLine(r, true, 0, small, sizeof small));
  EXPECT_EQ(-1, rollingLine(r, false, 0, small, sizeof small));
}

TEST(Rolling, TheRunsStatus) {
  rollingResult ok = judged("a:1", kCtlOk, false, false);
  rollingResult late = judged("b:1", kCtlOk, true, false);
  rollingResult gone = judged("c:1", kCtlUnreachable, false, false);
  rollingResult wrong = judged("d:1", kCtlMismatch, false, false);
  rollingResult notSent;
  const struct {
    std::vector<rollingResult> run;
    int status;
  } cases[] = {
      {{ok, ok, ok}, kCtlOk},
      {{ok, late, notSent}, kCtlNotSeen},
      {{late, gone}, kCtlUnreachable},  // a session state says more than a line not seen
      {{gone, late}, kCtlUnreachable},
      {{gone, wrong, late}, kCtlMismatch},
      {{ok, notSent, notSent}, kCtlStopped},  // only a stop leaves servers out without a failure
      {{}, kCtlOk},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.status, rollingStatus(c.run.data(), static_cast<int>(c.run.size())));
  }
}

TEST(Rolling, TakesTheServersOfATagsAnswer) {
  char out[kCtlAddrChars + 1];
  ASSERT_TRUE(rollingServerOf("tags 127.0.0.1:27960 eu,pvp", out));
  EXPECT_STREQ("127.0.0.1:27960", out);
  ASSERT_TRUE(rollingServerOf("tags 127.0.0.1:1 ", out));  // a server without tags
  EXPECT_STREQ("127.0.0.1:1", out);
  EXPECT_FALSE(rollingServerOf("ok", out));
  EXPECT_FALSE(rollingServerOf("tags ", out));
  EXPECT_FALSE(rollingServerOf("sent 1.2.3.4:5 up", out));
  EXPECT_FALSE(rollingServerOf(("tags " + std::string(kCtlAddrChars + 1, 'x')).c_str(), out));
}

}  // namespace
