#include "ctl/answer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(CtlReplies, KindsAndStatuses) {
  EXPECT_EQ(answerKindOf("ok"), kAnswerOk);
  EXPECT_EQ(answerKindOf("okay"), kAnswerOther);
  EXPECT_EQ(answerKindOf("error unknown server x"), kAnswerError);
  EXPECT_EQ(answerKindOf("sent 1.2.3.4:5 up"), kAnswerSent);
  EXPECT_EQ(answerKindOf("console **hello"), kAnswerConsole);
  EXPECT_EQ(answerKindOf("dropped 3 lines"), kAnswerDropped);
  EXPECT_EQ(answerKindOf("1.2.3.4:5 ->ok"), kAnswerOther);

  EXPECT_EQ(stateStatus("confirmed"), kCtlOk);
  EXPECT_EQ(stateStatus("up"), kCtlUnconfirmed) << "answered is not shown right";
  EXPECT_EQ(stateStatus("mismatch"), kCtlMismatch);
  EXPECT_EQ(stateStatus("noanswer"), kCtlNoAnswer);
  EXPECT_EQ(stateStatus("waiting"), kCtlWaiting);
  EXPECT_EQ(stateStatus("unreachable"), kCtlUnreachable);
  EXPECT_EQ(errorStatus("denied: no allow= rule for bob or a group of theirs matches \"quit\""),
            kCtlDenied);
  EXPECT_EQ(errorStatus("deniedx: y"), kCtlError);
  EXPECT_EQ(errorStatus("unknown server denied: x"), kCtlError);
  EXPECT_EQ(worseStatus(kCtlNoAnswer, kCtlUnreachable), kCtlUnreachable) << "gone says more";
  EXPECT_EQ(worseStatus(kCtlUnreachable, kCtlMismatch), kCtlMismatch);
  EXPECT_EQ(worseStatus(kCtlOk, kCtlWaiting), kCtlWaiting);
  EXPECT_EQ(worseStatus(kCtlNoAnswer, kCtlMismatch), kCtlMismatch);
  EXPECT_EQ(worseStatus(kCtlWaiting, kCtlNoAnswer), kCtlNoAnswer);
  EXPECT_EQ(worseStatus(kCtlUnconfirmed, kCtlWaiting), kCtlWaiting);
  EXPECT_EQ(worseStatus(kCtlOk, kCtlUnconfirmed), kCtlUnconfirmed);
  EXPECT_EQ(worseStatus(kCtlOk, kCtlOk), kCtlOk);
  // Statuses outside the order still beat success, from either side.
  EXPECT_EQ(worseStatus(kCtlOk, kCtlRefused), kCtlRefused);
  EXPECT_EQ(worseStatus(kCtlEnded, kCtlOk), kCtlEnded);
  EXPECT_EQ(worseStatus(kCtlDenied, kCtlMismatch), kCtlMismatch);
}

TEST(CtlReplies, NothingATerminalWouldObeyIsPrinted) {
  const struct {
    const char* in;
    const char* out;
  } kCases[] = {
      {"\x1b]0;owned\x07\x1b[2J", "?]0;owned??[2J"},             // title, bell, clear screen
      {"1.2.3.4:5 ->a\x1b[1;1Hb\x7f", "1.2.3.4:5 ->a?[1;1Hb?"},  // cursor move, DEL
      {"tab\tstays \r\b\x0e", "tab\tstays ???"},
      {"caf\xc3\xa9 ok", "caf\xc3\xa9 ok"},  // text beyond ASCII passes
  };
  for (const auto& c : kCases) {
    char line[64];
    snprintf(line, sizeof line, "%s", c.in);
    tameLine(line);
    EXPECT_STREQ(line, c.out) << c.in;
  }
}

// A send's wait ends once every server it went to has answered and then
// kept quiet; lines of others, and sent lines, do not count.
TEST(CtlAnswerWait, EndsWhenEveryServerAnsweredAndWentQuiet) {
  answerWait w;
  EXPECT_EQ(-1, w.left(0)) << "no server: only the deadline ends it";
  w.add("10.0.0.1:1 up");
  w.add("10.0.0.2:2 confirmed");
  w.add("10.0.0.1:1 up");  // a second LINE to the same servers
  w.heard("10.0.0.1:1 ->echo: status", 100);
  w.heard("10.0.0.3:3 ->not addressed", 100);
  w.heard("10.0.0.2:2x ->a longer address", 100);
  EXPECT_EQ(-1, w.left(150)) << "10.0.0.2:2 has not answered";
  EXPECT_TRUE(w.answered("10.0.0.1:1"));
  EXPECT_FALSE(w.answered("10.0.0.2:2"));
  w.heard("10.0.0.2:2 ->echo: status", 200);
  EXPECT_EQ(200 + kCtlQuietMs - 250, w.left(250)) << "the last to speak sets the end";
  w.heard("10.0.0.1:1 ->more", 400);
  EXPECT_EQ(kCtlQuietMs, w.left(400)) << "a line starts the quiet again";
  EXPECT_EQ(0, w.left(400 + kCtlQuietMs));

  answerWait big;
  for (int i = 0; i <= kCtlWaitServers; i++) big.add(("10.1.0.1:" + std::to_string(i)).c_str());
  for (int i = 0; i <= kCtlWaitServers; i++) {
    big.heard(("10.1.0.1:" + std::to_string(i) + " ->x").c_str(), 0);
  }
  EXPECT_EQ(-1, big.left(10000)) << "servers it cannot track: the wait runs to -w";
}

}  // namespace
