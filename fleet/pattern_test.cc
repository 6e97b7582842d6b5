#include "fleet/pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PatternMatch, KeepsTheMeaningRulesWereWrittenFor) {
  const struct {
    const char* src;
    const char* text;
    bool match;
  } kCases[] = {
      {"dro+p", "echo: drop me", true},
      {"dro+p", "echo: keep me", false},
      {"^keep", "a\nkeep me", true},  // '^' at a line break in the text
      {"me$", "keep me\nnext", true},
      {"cheat|hack", "player hacked", true},
      {"(cheat|hack)er", "cheater found", true},
      {"a.b", "a\nb", false},  // no match crosses a line break
      {"a[^x]b", "a\nb", false},
      {"a\\sb", "a\nb", false},
      {"[[:digit:]]+ kills", "7 kills", true},
      {"\\w+@\\w+\\.com", "mail me@host.com", true},
      {"\\bkill\\b", "skill", false},
      {"\\bkill\\b", "a kill.", true},
      {"\\<kill\\>", "skill", false},  // the C library's word start and end
      {"\\<kill\\>", "a kill.", true},
      {"[\\<]x", "<x", true},
      {"\\d+ ms$", "took 15 ms", true},
      {"\xe9t\xe9", "caf\xe9 \xe9t\xe9", true},  // a byte is a character
      {"^.{5}$", "\xe9t\xe9\xe9\xe9", true},
      {"", "anything", true},
  };
  for (const auto& c : kCases) {
    pattern p;
    char err[128];
    ASSERT_TRUE(patternCompile(&p, c.src, err, sizeof err)) << c.src << ": " << err;
    EXPECT_EQ(c.match, patternMatch(&p, c.text)) << c.src << " on " << c.text;
    patternFree(&p);
  }
}

// A rule is refused when it is compiled, never paid for on every line: back
// references and programs past the engine's budget are named.
TEST(PatternCompile, RefusesWhatCannotBeMatchedCheaply) {
  const struct {
    const char* src;
    const char* why;  // the reason starts so; "" any reason
  } kCases[] = {
      {"(unclosed", ""},
      {"[z-a]", ""},
      {"*x", ""},
      {"(a)\\1", "back reference \\1: cannot be matched in linear time"},
      {"x[\\1]y\\2", "back reference \\2"},
      {"(.*){1,4000}x", ""},
      {"(.{1,64}){1,63}$", ""},
      {"(.?){2000}x", ""},
      {"(.{1,20}){1,20}$", "too costly to match: a program of "},
      {"(\\w+\\s*){1,150}$", "too costly to match"},
      {"x{1000}x{1000}x{1000}x{1000}x{1000}x{1000}x{1000}", ""},
      // The engine would never match these; refused, not silently missed.
      {"caf\xc3\xa9|caf\xc3\xa8", "a character past ASCII in a rule with alternatives"},
      {"\xff\x05" "eep|\xff\xff" "on", "a character past ASCII"},
  };
  for (const auto& c : kCases) {
    pattern p;
    char err[128] = "";
    EXPECT_FALSE(patternCompile(&p, c.src, err, sizeof err)) << c.src;
    EXPECT_NE('\0', err[0]) << c.src;
    EXPECT_EQ(0, strncmp(c.why, err, strlen(c.why))) << c.src << ": " << err;
    EXPECT_FALSE(patternMatch(&p, "anything"));
  }
  pattern p;
  char err[128] = "";
  EXPECT_FALSE(patternCompile(&p, std::string(kPatternChars + 1, 'a').c_str(), err, sizeof err));
  EXPECT_STREQ("longer than 255 characters", err);
  for (const char* good : {"(\\w+\\s*){1,100}$", "cheat(er|ing)? (detected|report)", "a\\.b"}) {
    EXPECT_TRUE(patternCompile(&p, good, err, sizeof err)) << good << ": " << err;
  }
  patternFree(&p);
}

TEST(PatternCaptures, SpansOfTheMatchAndItsGroups) {
  pattern p;
  char err[128];
  ASSERT_TRUE(patternCompile(&p, "(\\w+)@(\\w+)\\.com|(none)", err, sizeof err)) << err;
  const char* text = "mail bob@host.com now";
  patternSpan s[kPatternCaptures + 1];
  ASSERT_EQ(4, patternCaptures(&p, text, s, kPatternCaptures + 1));
  EXPECT_EQ("bob@host.com", std::string(text + s[0].at, s[0].len));
  EXPECT_EQ("bob", std::string(text + s[1].at, s[1].len));
  EXPECT_EQ("host", std::string(text + s[2].at, s[2].len));
  EXPECT_EQ(-1, s[3].at);                         // took no part
  EXPECT_EQ(2, patternCaptures(&p, text, s, 2));  // room for one group
  EXPECT_EQ(3, patternGroups(&p));
  EXPECT_EQ(0, patternCaptures(&p, "nothing here", s, kPatternCaptures + 1));
  // Leftmost-longest, as the rules' syntax defines it.
  ASSERT_TRUE(patternCompile(&p, "(a|ab)(c|bcd)", err, sizeof err)) << err;
  ASSERT_EQ(3, patternCaptures(&p, "abcd", s, 3));
  EXPECT_EQ(4, s[0].len);
  patternFree(&p);
}

// The set must say for each line exactly what the patterns one by one say.
TEST(PatternSet, AgreesWithEachPatternInOnePass) {
  const char* const kSrc[] = {"dro+p", "^keep", "me$", "\\bkill\\b", "(a|aa)+$", "x"};
  const char* const kLines[] = {"drop me", "keep me\nnot", "skill", "kill aaaa",
                                "",        "x drop\nkeep"};
  patternset set;
  int hits[8];
  EXPECT_EQ(-1, set.match("drop me", hits, 8));  // not built
  ASSERT_TRUE(set.build(kSrc, 6));
  for (const char* line : kLines) {
    std::string want, got;
    for (int i = 0; i < 6; i++) {
      pattern p;
      char err[128];
      ASSERT_TRUE(patternCompile(&p, kSrc[i], err, sizeof err));
      if (patternMatch(&p, line)) want += std::to_string(i) + " ";
      patternFree(&p);
    }
    int n = set.match(line, hits, 8);
    for (int i = 0; i < n; i++) got += std::to_string(hits[i]) + " ";
    EXPECT_EQ(want, got) << line;
  }
  EXPECT_EQ(1, set.match("drop me", hits, 1));  // cut to the room given
  EXPECT_EQ(0, hits[0]);
}

}  // namespace
