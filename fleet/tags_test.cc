#include "fleet/tags.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TagList, AddsGoodNamesAndNamesTheBadOne) {
  const struct {
    const char* before;
    const char* value;
    const char* after;  // null: refused
    const char* bad;
  } kCases[] = {
      {"", "eu", "eu", ""},
      {"", " eu , pvp ", "eu,pvp", ""},
      {"eu", "pvp,eu", "eu,pvp", ""},  // no name twice
      {"", "Test_1-b", "Test_1-b", ""},
      {"", "", nullptr, ""},
      {"eu", "pvp,,us", nullptr, ""},  // an empty tag between commas
      {"", "eu,", nullptr, ""},
      {"", "e u", nullptr, "e u"},
      {"", "eu,caf\xc3\xa9", nullptr, "caf\xc3\xa9"},
      {"", "@eu", nullptr, "@eu"},
      {"", "a,b,c,d,e,f,g,h", "a,b,c,d,e,f,g,h", ""},
      {"a,b,c,d,e,f,g,h", "a,i", nullptr, "i"},  // a ninth
  };
  for (const auto& c : kCases) {
    char list[kTagListChars + 1];
    snprintf(list, sizeof list, "%s", c.before);
    char bad[kTagChars + 1] = "?";
    const char* why = nullptr;
    bool ok = tagListAdd(list, c.value, bad, sizeof bad, &why);
    EXPECT_EQ(c.after != nullptr, ok) << c.value;
    EXPECT_STREQ(c.after ? c.after : c.before, list) << c.value;  // nothing added on failure
    if (!ok) {
      EXPECT_STREQ(c.bad, bad) << c.value;
      EXPECT_NE(nullptr, why) << c.value;
    }
  }
}

TEST(TagList, LongestNamesFillTheList) {
  std::string name(kTagChars, 'x');
  char list[kTagListChars + 1] = "";
  char bad[kTagChars + 1];
  const char* why = nullptr;
  for (int i = 0; i < kTagsPerServer; i++) {
    name[0] = static_cast<char>('a' + i);
    ASSERT_TRUE(tagListAdd(list, name.c_str(), bad, sizeof bad, &why)) << why;
  }
  EXPECT_EQ(static_cast<size_t>(kTagListChars), strlen(list));
  EXPECT_FALSE(tagListAdd(list, (name + "y").c_str(), bad, sizeof bad, &why));
  EXPECT_STREQ("a tag is at most 32 characters", why);
}

TEST(TagList, MatchesWholeNamesOnly) {
  EXPECT_TRUE(tagListHas("eu,pvp", "pvp"));
  EXPECT_FALSE(tagListHas("eu,pvp", "pv"));
  EXPECT_FALSE(tagListHas("eu-west", "eu"));
  EXPECT_FALSE(tagListHas("", "eu"));
  EXPECT_TRUE(tagListsMeet("eu,pvp", "us,pvp"));
  EXPECT_FALSE(tagListsMeet("eu,pvp", "us"));
  EXPECT_FALSE(tagListsMeet("eu", ""));
}

}  // namespace
