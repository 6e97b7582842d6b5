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
      {"broken:(unclosed", ""},  // the engine's reason, whatever its words
      {"costly:(.?){2000}x", ""},
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
  const char* names[kAlertsMax];
  int hits[kAlertsMax];
  EXPECT_EQ(2, set.match(0, "drop me\n", names, hits));
  EXPECT_EQ(0, hits[0]);
  EXPECT_EQ(1, hits[1]);
  EXPECT_STREQ("me", names[1]);
  EXPECT_EQ(1, set.match(2, "keep me", names, hits));
  EXPECT_EQ(1, hits[0]);
  EXPECT_EQ(0, set.match(7, "nothing", names));
  // A far server index grows the counts; earlier counts stay.
  EXPECT_EQ(1, set.match(5000, "droooop", names));
  // A rule added later widens the rows without losing a count.
  ASSERT_TRUE(set.add("keep:keep", why, sizeof why));
  EXPECT_EQ(2, set.match(2, "keep me", names));
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

// One scan tells every rule a line matched, named in the order the rules
// were given; groups are taken afterwards for a rule that matched.
TEST(Alerts, ALineMatchingManyRulesNamesEachInOrder) {
  alertset set;
  char why[128];
  ASSERT_TRUE(set.add("none:nowhere", why, sizeof why)) << why;
  for (int i = 1; i <= 12; i++) {
    std::string rule = "r" + std::to_string(i) + ":(\\w+) of 1[0-9]{0," + std::to_string(i) + "}";
    ASSERT_TRUE(set.add(rule.c_str(), why, sizeof why)) << why;
  }
  const char* line = "line 1 of 1234567890";
  const char* named[kAlertsMax];
  int hits[kAlertsMax];
  ASSERT_EQ(12, set.match(3, line, named, hits));
  std::string names;
  for (int i = 0; i < 12; i++) names += std::string(named[i]) + " ";
  EXPECT_EQ("r1 r2 r3 r4 r5 r6 r7 r8 r9 r10 r11 r12 ", names);
  EXPECT_EQ(1u, set.hits(12, 3));
  EXPECT_EQ(0u, set.hits(0, 3));
  patternSpan s[2];
  ASSERT_EQ(2, set.captures(hits[0], line, s, 2));
  EXPECT_EQ("1", std::string(line + s[1].at, s[1].len));
}

}  // namespace

namespace {

// A reload's new rules: counts go on under a rule's name and with their
// server wherever it now stands; a new rule or server starts at 0, and the
// new rules match (the old ones no longer do).
TEST(Alerts, NewRulesTakeOverTheCountsOfTheirNames) {
  alertset set;
  const char* names[kAlertsMax];
  char why[128];
  ASSERT_TRUE(set.add("oom:out of memory", why, sizeof why));
  ASSERT_TRUE(set.add("gone:segfault", why, sizeof why));
  set.match(0, "out of memory", names);
  set.match(1, "out of memory", names);
  set.match(1, "out of memory", names);
  set.match(1, "segfault", names);
  alertset next;
  ASSERT_TRUE(next.add("new:panic", why, sizeof why));
  ASSERT_TRUE(next.add("oom:memory exhausted", why, sizeof why));
  // Server 1 is first now, server 0 is gone, a new one is last.
  const int oldOf[] = {1, -1};
  set.takeFrom(&next, oldOf, 2);
  EXPECT_EQ(0, next.count());
  ASSERT_EQ(2, set.count());
  EXPECT_STREQ("new", set.name(0));
  EXPECT_EQ(0u, set.hits(0, 0));
  EXPECT_EQ(2u, set.hits(1, 0));  // oom of the old server 1
  EXPECT_EQ(0u, set.hits(1, 1));
  EXPECT_EQ(0, set.match(0, "out of memory", names));
  EXPECT_EQ(1, set.match(1, "memory exhausted", names));
  EXPECT_EQ(1u, set.hits(1, 1));
  EXPECT_EQ(1, set.match(0, "kernel panic", names));
}

}  // namespace
