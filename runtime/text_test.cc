// Cutting rules of the bounded text helpers and the lenient decimal scan.
#include "runtime/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Trf, CutsToSizeAndReportsFullLength) {
  struct Row {
    const char* label;
    int size;
    const char* text;
    const char* want;
  } rows[] = {
      {"fits", 16, "hello", "hello"},
      {"exact fit", 6, "hello", "hello"},
      {"12 chars into 8 bytes", 8, "abcdefghijkl", "abcdefg"},
      {"size 1 gives empty", 1, "abc", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    char buf[32];
    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(static_cast<int>(strlen(r.text)), trf(buf, r.size, "%s", r.text));
    EXPECT_STREQ(r.want, buf);
    EXPECT_EQ('x', buf[r.size]) << "wrote past the buffer";
  }
}

TEST(Trf, NoBufferOrNoRoomOnlyMeasures) {
  EXPECT_EQ(3, trf(nullptr, 0, "%d", 123));
  char buf[4] = {'q', 'q', 'q', 'q'};
  EXPECT_EQ(3, trf(buf, 0, "%d", 123));
  EXPECT_EQ('q', buf[0]) << "size 0 has no room even for the terminator";
}

TEST(Traf, AppendsNeverBeyondSizeMinusTwo) {
  struct Row {
    const char* label;
    const char* before;
    const char* append;
    const char* want;
    int result;
  } rows[] = {
      {"room for all", "ab", "cd", "abcd", 2},
      {"6 + 6 in 10 bytes keeps 8", "abcdef", "ghijkl", "abcdefgh", 6},
      {"8 chars: nothing fits", "abcdefgh", "ghijkl", "abcdefgh", 6},
      {"9 chars: nothing tried", "abcdefghi", "ghijkl", "abcdefghi", 9},
      {"empty start", "", "0123456789", "01234567", 10},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    char buf[12];
    memset(buf, 'x', sizeof(buf));
    strcpy(buf, r.before);
    EXPECT_EQ(r.result, traf(buf, 10, "%s", r.append));
    EXPECT_STREQ(r.want, buf);
    EXPECT_EQ('x', buf[10]) << "wrote past the buffer";
  }
}

TEST(Traf, UnterminatedInputStaysInside) {
  char buf[6];
  memset(buf, 'y', sizeof(buf));
  EXPECT_EQ(4, traf(buf, 4, "%s", "z"));
  EXPECT_EQ('y', buf[4]);
}

TEST(Strzcpy, CopiesAtMostNAndTerminates) {
  struct Row {
    const char* label;
    const char* src;
    int n;
    const char* want;
  } rows[] = {
      {"n 0 gives empty", "abcdef", 0, ""},
      {"n 3 of 6", "abcdef", 3, "abc"},
      {"n larger than source", "ab", 10, "ab"},
      {"n equal to length", "abc", 3, "abc"},
      {"null source", nullptr, 5, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    char buf[16];
    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(buf, strzcpy(buf, r.src, r.n));
    EXPECT_STREQ(r.want, buf);
    if (r.n < 15) {
      EXPECT_EQ('x', buf[r.n + 1]) << "wrote past n+1 bytes";
    }
  }
}

TEST(Strzcpy, NegativeCountLeavesDestination) {
  char buf[4] = {'q', 'r', 's', 't'};
  strzcpy(buf, "abc", -1);
  EXPECT_EQ(0, memcmp(buf, "qrst", 4));
}

TEST(Strim, RemovesSetFromBothEnds) {
  struct Row {
    const char* label;
    const char* in;
    const char* want;
  } rows[] = {
      {"only blanks and tabs", " \t \t ", ""},
      {"inner blanks kept", "\t a b  c \t", "a b  c"},
      {"nothing to trim", "abc", "abc"},
      {"leading only", "  abc", "abc"},
      {"trailing only", "abc\t", "abc"},
      {"empty", "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    char buf[32];
    strcpy(buf, r.in);
    EXPECT_EQ(buf, strim(buf, " \t"));
    EXPECT_STREQ(r.want, buf);
  }
}

TEST(Strim, NullGivesEmptyText) {
  const char* s = strim(nullptr, " \t");
  ASSERT_NE(nullptr, s);
  EXPECT_STREQ("", s);
}

TEST(SkipWordNoCase, RestBehindTheWordOrNull) {
  struct Row {
    const char* text;
    const char* word;
    const char* want;  // null when text does not begin with word
  } rows[] = {
      {"TCPlistenport=24350", "tcplistenport=", "24350"},
      {"qzuconlog", "qzuconlog", ""},
      {"qzuconlog x.log", "QZUCONLOG", " x.log"},
      {"qzucon", "qzuconlog", nullptr},
      {" qzuconlog", "qzuconlog", nullptr},
  };
  for (const Row& r : rows) {
    const char* rest = skipWordNoCase(r.text, r.word);
    if (r.want == nullptr) {
      EXPECT_EQ(nullptr, rest) << r.text;
    } else {
      EXPECT_STREQ(r.want, rest) << r.text;
      EXPECT_EQ(r.text + strlen(r.word), rest) << r.text << ": a pointer into the text";
    }
  }
}

TEST(Atoul, ScansDigitsSkippingMinus) {
  struct Row {
    const char* in;
    uint32_t want;
  } rows[] = {
      {"-12", 12u},         {"1-2", 12u},        {"12:34", 12u},
      {" 7", 0u},           {"+5", 0u},          {"4294967295", 4294967295u},
      {"4294967296", 0u},   {"99999999999", 1215752191u},
      {"", 0u},             {"28100", 28100u},
  };
  for (const Row& r : rows) EXPECT_EQ(r.want, atoul(r.in)) << "row \"" << r.in << "\"";
  EXPECT_EQ(0u, atoul(nullptr));
}

TEST(PutDecimal, WritesDigitsOnlyAndReturnsTheEnd) {
  struct Row {
    uint64_t in;
    const char* want;
  } rows[] = {
      {0u, "0"},
      {7u, "7"},
      {10u, "10"},
      {65535u, "65535"},
      {4294967296u, "4294967296"},
      {18446744073709551615u, "18446744073709551615"},
  };
  for (const Row& r : rows) {
    char buf[24];
    memset(buf, '#', sizeof buf);
    char* end = putDecimal(buf, r.in);
    EXPECT_EQ(r.want, std::string(buf, end)) << "row " << r.in;
    EXPECT_EQ('#', *end) << "row " << r.in;  // no terminator written
  }
}

// Well-formed UTF-8 passes as it is; each byte of anything else is one
// U+FFFD, and so is each character that is no text.
TEST(Utf8Clean, KeepsUtf8AndReplacesEachBadByte) {
  const std::string kBad = kReplacementChar;
  const struct {
    const char* label;
    std::string in;
    std::string out;
  } kCases[] = {
      {"ASCII", "map loaded", "map loaded"},
      {"Latin and Cyrillic", "caf\xC3\xA9 \xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
       "caf\xC3\xA9 \xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"four bytes", "\xF0\x9F\x8E\xAE \xF3\xA0\x80\x81", "\xF0\x9F\x8E\xAE \xF3\xA0\x80\x81"},
      {"0xFF", "a\xFF!", "a" + kBad + "!"},
      {"the console's 0xFA", "caf\xFA\xFA", "caf" + kBad + kBad},
      {"stray continuation", "\x80\xBF", kBad + kBad},
      {"cut short at the end", "ab\xE2\x82", "ab" + kBad + kBad},
      {"cut short by ASCII", "\xD0!", kBad + "!"},
      {"overlong slash", "\xC0\xAF", kBad + kBad},
      {"overlong three bytes", "\xE0\x80\xAF", kBad + kBad + kBad},
      {"surrogate", "\xED\xA0\x80", kBad + kBad + kBad},
      {"past U+10FFFF", "\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},
      {"tab and line feed stay", "a\tb\nc", "a\tb\nc"},
      {"other controls are no text", "a\x1B[2J\r\x7F", "a" + kBad + "[2J" + kBad + kBad},
      {"C1 control", "\xC2\x85", kBad},
      {"noncharacters", "\xEF\xBF\xBE\xEF\xB7\x90\xF4\x8F\xBF\xBF", kBad + kBad + kBad},
      {"U+00A0 and U+FFFD are text", "\xC2\xA0\xEF\xBF\xBD", "\xC2\xA0\xEF\xBF\xBD"},
      {"empty", "", ""},
  };
  for (const auto& c : kCases) {
    char out[64];
    int len = static_cast<int>(c.in.size());
    int n = utf8Clean(c.in.data(), len, out, sizeof out);
    EXPECT_EQ(std::string(out, n > 0 ? n : 0), c.out) << c.label;
    EXPECT_EQ(utf8Clean(c.in.data(), len, nullptr, 0), n) << c.label << ": measured";
  }
  // Too little room is said, never a cut sequence.
  char small[4];
  EXPECT_EQ(utf8Clean("ab\xFF", 3, small, sizeof small), -1);
}

}  // namespace
