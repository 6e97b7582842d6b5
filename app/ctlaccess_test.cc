#include "app/ctlaccess.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CtlAccess, RolesByUserAndGroups) {
  const unsigned kMods[] = {100, 2000, 3000};
  const struct {
    unsigned peer;
    bool groupSet;
    const unsigned* groups;
    int n;
    ctlRole want;
  } kCases[] = {
      {1000, false, nullptr, 0, kRoleOwner},  // the console's own user
      {0, false, nullptr, 0, kRoleOwner},     // root
      {1001, false, kMods, 3, kRoleNone},     // no group set: nobody else
      {1001, true, kMods, 3, kRoleMember},    // 2000 among the peer's groups
      {1001, true, kMods, 1, kRoleNone},      // ... not among those it has now
      {1001, true, nullptr, 0, kRoleNone},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.want, ctlRoleOf(c.peer, 1000, c.groupSet, 2000, c.groups, c.n)) << c.peer;
  }
}

TEST(CtlAccess, AllowRulesAreSplitAndBadOnesNamed) {
  const struct {
    const char* text;
    bool group;
    const char* who;
    const char* source;  // null: refused
  } kCases[] = {
      {"@mods:^(say|kick) ", true, "mods", "^(say|kick) "},
      {" alice:^say ", false, "alice", "^say "},
      {"bob:a:b", false, "bob", "a:b"},  // the pattern may hold colons
      {"nocolon", false, "", nullptr},
      {":^say", false, "", nullptr},
      {"@:^say", false, "", nullptr},
      {"alice:", false, "", nullptr},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa:x", false, "", nullptr},  // 33 characters
  };
  for (const auto& c : kCases) {
    allowRule r;
    char why[128] = "";
    bool ok = allowSplit(c.text, &r, why, sizeof why);
    EXPECT_EQ(c.source != nullptr, ok) << c.text;
    if (!ok) {
      EXPECT_NE('\0', why[0]) << c.text;
      continue;
    }
    EXPECT_EQ(c.group, r.group) << c.text;
    EXPECT_STREQ(c.who, r.who) << c.text;
    EXPECT_STREQ(c.source, r.source) << c.text;
  }
}

TEST(CtlAccess, TheFirstRuleOfTheUserOrAGroupOfTheirsDecides) {
  allowRule rules[3];
  char why[128];
  const struct {
    bool group;
    unsigned id;
    const char* source;
  } kRules[] = {{true, 2000, "^(say|kick) "}, {false, 1001, "^ban \\w+$"}, {true, 3000, "^quit$"}};
  for (int i = 0; i < 3; i++) {
    rules[i].group = kRules[i].group;
    rules[i].id = kRules[i].id;
    ASSERT_TRUE(patternCompile(&rules[i].pat, kRules[i].source, why, sizeof why)) << why;
  }
  const unsigned kMods[] = {1001, 2000};
  const struct {
    unsigned uid;
    const unsigned* groups;
    int n;
    const char* command;
    int want;
  } kCases[] = {
      {1002, kMods, 2, "say hi", 0},
      {1002, kMods, 2, "kick 7", 0},
      {1002, kMods, 2, "quit", -1},
      {1002, kMods, 2, "sayhi", -1},   // the blank is part of the rule
      {1002, kMods, 1, "say hi", -1},  // out of the group: the rule is not theirs
      {1001, nullptr, 0, "ban joe", 1},
      {1001, nullptr, 0, "ban joe; quit", -1},
      {1002, nullptr, 0, "ban joe", -1},  // a user rule is that user's alone
      {1003, kMods + 1, 1, "", -1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.want, allowRuleFor(rules, 3, c.uid, c.groups, c.n, c.command))
        << c.uid << " " << c.command;
  }
  for (allowRule& r : rules) patternFree(&r.pat);
}

// Folders from "/" to the socket's own, as lstat tells them.
trPathInfo dir(unsigned uid, unsigned gid, unsigned mode) {
  trPathInfo d = {};
  d.kind = kPathDir;
  d.uid = uid;
  d.gid = gid;
  d.mode = mode;
  return d;
}

TEST(CtlAccess, TheSocketsFolderMustLetTheGroupInAndNobodyElseWrite) {
  const char* const kNames[] = {"/", "/run", "/run/qzucon", "/run/qzucon/site"};
  const unsigned kOwn = 990, kGroup = 2000;
  const trPathInfo root = dir(0, 0, 0755);
  const struct {
    const char* label;
    trPathInfo parent, own;
    const char* want;  // a piece of the reason; null: fit
  } kCases[] = {
      {"the unit's folder", dir(0, 0, 0755), dir(kOwn, kGroup, 0750), nullptr},
      {"open to all, root's", dir(0, 0, 0755), dir(0, 0, 0755), nullptr},
      {"others may write", dir(0, 0, 0755), dir(0, 0, 01777), "others may write"},
      {"the group may write", dir(0, 0, 0755), dir(kOwn, kGroup, 0770), "others may write"},
      {"another user's", dir(0, 0, 0755), dir(1234, kGroup, 0750), "belongs to another user"},
      {"closed to the group", dir(0, 0, 0755), dir(kOwn, kOwn, 0750), "/run/qzucon/site is closed"},
      {"private", dir(0, 0, 0755), dir(kOwn, kGroup, 0700), "/run/qzucon/site is closed"},
      {"a parent closed", dir(0, 0, 0750), dir(kOwn, kGroup, 0750), "/run/qzucon is closed"},
      {"a parent of the group's", dir(0, kGroup, 0710), dir(kOwn, kGroup, 0750), nullptr},
  };
  for (const auto& c : kCases) {
    trPathInfo dirs[] = {root, root, c.parent, c.own};
    char why[256];
    const char* problem = ctlGroupPathProblem(dirs, kNames, 4, kGroup, kOwn, why, sizeof why);
    if (c.want == nullptr) {
      EXPECT_EQ(nullptr, problem) << c.label << ": " << problem;
    } else {
      ASSERT_NE(nullptr, problem) << c.label;
      EXPECT_NE(std::string::npos, std::string(problem).find(c.want)) << c.label << ": " << problem;
    }
  }
  trPathInfo notDir[] = {root, root, dir(0, 0, 0755), dir(kOwn, kGroup, 0750)};
  notDir[3].kind = kPathOther;
  char why[256];
  EXPECT_NE(nullptr, ctlGroupPathProblem(notDir, kNames, 4, kGroup, kOwn, why, sizeof why));
}

}  // namespace
