#include "runtime/pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The quick test may only turn lines away that the expression would: the
// run must be part of every match. Each row says what it must be.
TEST(PatternLiteral, IsARunEveryMatchHolds) {
  const struct {
    const char* src;
    const char* literal;
  } kCases[] = {
      {"out of memory", "out of memory"},
      {"dro+p", "dro"},     // 'o' at least once, then 'p' need not follow "dro"
      {"drop?ped", "dro"},  // 'p' optional: "dro" and "ped" are runs, the first kept
      {"ab*cdef", "cdef"},  // 'b' optional
      {"a{2}bc", "bc"},     // a bound is treated as optional
      {"cheat|hack", ""},   // an alternative at the top
      {"(cheat|hack)er x", "er x"},
      {"(abc)*defg", "defg"},
      {"[abc]+xyz", "xyz"},
      {"[]x]yz", "yz"},  // ']' first in a bracket is a member
      {"[[:digit:]]+ kills", " kills"},
      {"^error: .*", "error: "},
      {"a\\.b", "a.b"},  // an escaped special is plain
      {"x\\1yz", "yz"},  // a back reference is not
      {"crash\\+", "crash+"},
      {"....", ""},
      {"", ""},
  };
  for (const auto& c : kCases) {
    char out[kPatternLiteral + 1];
    patternLiteral(c.src, out);
    EXPECT_STREQ(c.literal, out) << c.src;
  }
  char out[kPatternLiteral + 1];
  patternLiteral(std::string(100, 'a').c_str(), out);
  EXPECT_EQ(std::string(kPatternLiteral, 'a'), out);
}

TEST(PatternMatch, QuickTestAgreesWithTheExpression) {
  const struct {
    const char* src;
    const char* text;
    bool match;
  } kCases[] = {
      {"dro+p", "echo: drop me", true},
      {"dro+p", "echo: droooop", true},
      {"dro+p", "echo: keep me", false},
      {"^keep", "a\nkeep me", true},  // '^' at a line break in the text
      {"me$", "keep me\n", true},
      {"cheat|hack", "player hacked", true},
      {"(cheat|hack)er", "cheater found", true},
      {"a.b", "a\nb", false},  // '.' stays within a line
      {"[[:digit:]]+ kills", "7 kills", true},
  };
  for (const auto& c : kCases) {
    pattern p;
    char err[128];
    ASSERT_TRUE(patternCompile(&p, c.src, err, sizeof err)) << c.src << ": " << err;
    EXPECT_EQ(c.match, patternMatch(&p, c.text)) << c.src << " on " << c.text;
    patternFree(&p);
  }
}

TEST(PatternCompile, NamesWhatIsWrong) {
  for (const char* bad : {"(unclosed", "[z-a]", "a{2,1}", "*x"}) {
    pattern p;
    char err[128] = "";
    // glibc takes a leading '*' as a plain star: only the reason is checked.
    if (patternCompile(&p, bad, err, sizeof err)) {
      patternFree(&p);
      continue;
    }
    EXPECT_NE('\0', err[0]) << bad;
    EXPECT_FALSE(p.compiled);
    EXPECT_FALSE(patternMatch(&p, "anything"));
  }
  pattern p;
  char err[128] = "";
  EXPECT_FALSE(patternCompile(&p, std::string(kPatternChars + 1, 'a').c_str(), err, sizeof err));
  EXPECT_STREQ("longer than 255 characters", err);
}

// Repetitions make libc copy what they repeat: stacked or nested ones
// would take gigabytes (a fuzzer's "alert=" with thirty "+" did), so the
// atoms they make are bounded.
TEST(PatternCompile, RepetitionsAreBounded) {
  const struct {
    const char* src;
    long atoms;
  } kCases[] = {
      {"plain text", 10},
      {"a+b*c?", 4},
      {"[0-9]{1,3}\\.[0-9]{1,3}", 7},
      {"x{4,}", 5},
      {"[{]{9}", 9},  // a brace in brackets is a character
      {"\\{100}", 5},  // so is an escaped one: five plain atoms
      {"(ab{10}){10}", 110},
      {"a|bc", 3},
      {"(a+)+", 4},
      {"x{200}{200}{200}", kPatternCopies + 1},
      {"x++++++++++++++++++++++++++++++++", kPatternCopies + 1},
      {"x{99999}", kPatternCopies + 1},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.atoms, patternCopies(c.src)) << c.src;
  pattern p;
  char err[128] = "";
  EXPECT_FALSE(patternCompile(&p, "x{200}{200}{200}", err, sizeof err));
  EXPECT_STREQ("its repetitions make more than 4096 atoms", err);
  EXPECT_TRUE(patternCompile(&p, "cheat(er|ing)? (detected|report)", err, sizeof err)) << err;
  patternFree(&p);
}

}  // namespace
