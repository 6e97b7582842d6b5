#include "app/alerts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Alerts, RulesAreCheckedAndBadOnesNamed) {
  const struct {
    const char* rule;
    const char* why;  // null: taken
  } kCases[] = {
      {"bad:dro+p", nullptr},
      {"oom:out of memory", nullptr},
      {"colon:a:b", nullptr},  // the expression may hold colons
      {"bad:other", "an alert of that name is already there"},
      {"no-colon", "give alert=NAME:REGEX"},
      {":x", "a name is 1 to 32 letters, digits, '-' and '_'"},
      {"two words:x", "a name is 1 to 32 letters, digits, '-' and '_'"},
      {"broken:(unclosed", ""},  // libc's reason, whatever its words
  };
  alertset set;
  for (const auto& c : kCases) {
    char why[128] = "";
    bool ok = set.add(c.rule, why, sizeof why);
    EXPECT_EQ(c.why == nullptr, ok) << c.rule;
    if (c.why && c.why[0]) {
      EXPECT_STREQ(c.why, why) << c.rule;
    }
    if (!ok) {
      EXPECT_NE('\0', why[0]) << c.rule;
    }
  }
  ASSERT_EQ(3, set.count());
  EXPECT_STREQ("colon", set.name(2));
  EXPECT_STREQ("a:b", set.source(2));
}

TEST(Alerts, CountsEachMatchPerServerAndAlert) {
  alertset set;
  char why[128];
  ASSERT_TRUE(set.add("bad:dro+p", why, sizeof why));
  ASSERT_TRUE(set.add("me:me$", why, sizeof why));
  EXPECT_EQ(2, set.match(0, "drop me\n"));
  EXPECT_EQ(0, set.lineMatch(0));
  EXPECT_EQ(1, set.lineMatch(1));
  EXPECT_EQ(1, set.match(2, "keep me"));
  EXPECT_EQ(1, set.lineMatch(0));
  EXPECT_EQ(0, set.match(7, "nothing"));
  EXPECT_EQ(0, set.lineMatches());
  // A far server index grows the counts; earlier counts stay.
  EXPECT_EQ(1, set.match(5000, "droooop"));
  // A rule added later widens the rows without losing a count.
  ASSERT_TRUE(set.add("keep:keep", why, sizeof why));
  EXPECT_EQ(2, set.match(2, "keep me"));
  const struct {
    int alert, server;
    uint64_t hits;
  } kWant[] = {{0, 0, 1}, {1, 0, 1}, {1, 2, 2}, {0, 2, 0},    {0, 5000, 1},
               {2, 2, 1}, {2, 0, 0}, {0, 7, 0}, {0, 9999, 0}, {9, 0, 0}};
  for (const auto& w : kWant) {
    EXPECT_EQ(w.hits, set.hits(w.alert, w.server)) << w.alert << "/" << w.server;
  }
  set.reset();
  EXPECT_EQ(0, set.count());
  EXPECT_EQ(0u, set.hits(0, 0));
}

}  // namespace
