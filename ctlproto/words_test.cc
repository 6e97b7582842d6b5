#include "ctlproto/words.h"

#include <gtest/gtest.h>

namespace {

TEST(CtlWords, AfterWordTakesOnlyTheWholeWordAndItsBlank) {
  const struct {
    const char* line;
    const char* word;
    const char* rest;  // null: not that word
  } kCases[] = {
      {"sent 1.2.3.4:5 up", kAnsSent, "1.2.3.4:5 up"},
      {"console **hello", kAnsConsole, "**hello"},
      {"console ", kAnsConsole, ""},                    // an empty message is a message
      {"error  two blanks", kAnsError, " two blanks"},  // one blank is the separator
      {"sentence", kAnsSent, nullptr},                  // the word only begins another
      {"sent", kAnsSent, nullptr},                      // a word alone has no rest
      {"ok", kAnsOk, nullptr},
      {" sent x", kAnsSent, nullptr},  // not at the start
      {"1.2.3.4:5 ->sent x", kAnsSent, nullptr},
  };
  for (const auto& c : kCases) {
    const char* rest = afterWord(c.line, c.word);
    if (c.rest == nullptr) {
      EXPECT_EQ(rest, nullptr) << c.line;
    } else {
      ASSERT_NE(rest, nullptr) << c.line;
      EXPECT_STREQ(rest, c.rest) << c.line;
    }
  }
}

TEST(CtlWords, ATagTargetIsTheMarkAndItsList) {
  EXPECT_STREQ(targetTags("@eu,us"), "eu,us");
  EXPECT_STREQ(targetTags("@"), "") << "an empty list is the console's to refuse";
  EXPECT_EQ(targetTags("*"), nullptr);
  EXPECT_EQ(targetTags("1.2.3.4:5"), nullptr);
  EXPECT_EQ(targetTags(""), nullptr);
}

}  // namespace
