// flexar growth points, bounds of data(), record copies across growth and
// the tag rules.
#include "runtime/flexar.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

struct rec {
  int id;
  char text[12];
};

TEST(Flexar, GrowsAtFirstFifthNinthSeventeenthAdd) {
  flexar fa(sizeof(rec), "test");
  EXPECT_EQ(0, fa.capacity()) << "nothing allocated before the first add";
  int lastCapacity = 0;
  for (int i = 1; i <= 33; ++i) {
    rec r = {i, ""};
    ASSERT_EQ(i, fa.add(&r)) << "add " << i;
    int want = i <= 4 ? 4 : i <= 8 ? 8 : i <= 16 ? 16 : i <= 32 ? 32 : 64;
    EXPECT_EQ(want, fa.capacity()) << "after add " << i;
    bool grew = fa.capacity() != lastCapacity;
    EXPECT_EQ(i == 1 || i == 5 || i == 9 || i == 17 || i == 33, grew) << "add " << i;
    lastCapacity = fa.capacity();
  }
  // Growing moves the block; every record must have come along intact.
  for (int i = 0; i < 33; ++i) {
    const rec* r = static_cast<const rec*>(fa.data(i));
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(i + 1, r->id) << "record " << i;
  }
}

TEST(Flexar, DataOutsideRangeIsNull) {
  flexar fa(4, "t");
  EXPECT_EQ(nullptr, fa.data(0)) << "empty";
  int v = 7;
  fa.add(&v);
  fa.add(&v);
  EXPECT_EQ(nullptr, fa.data(-1));
  EXPECT_EQ(nullptr, fa.data(2)) << "index == count";
  EXPECT_EQ(nullptr, fa.data(3)) << "inside capacity, beyond count";
  EXPECT_NE(nullptr, fa.data(1));
}

TEST(Flexar, RecordSizeBelowOneIsOne) {
  for (int size : {0, -1, INT_MIN}) {
    SCOPED_TRACE(size);
    flexar fa(size, "");
    EXPECT_STREQ("F1", fa.tag());
    char a = 'a', b = 'b';
    fa.add(&a);
    fa.add(&b);
    EXPECT_EQ(static_cast<char*>(fa.data(0)) + 1, fa.data(1)) << "records one byte apart";
  }
}

TEST(Flexar, NullRecordIsRefused) {
  flexar fa(8, "t");
  EXPECT_EQ(0, fa.add(nullptr));
  EXPECT_EQ(0, fa.nodes());
  EXPECT_EQ(0, fa.capacity()) << "a refused add allocates nothing";
}

TEST(Flexar, OversizedBlockIsRefusedNotOverflowed) {
  // Four records of this size exceed INT_MAX bytes: the product would wrap.
  flexar fa(INT_MAX / 2, "big");
  char dummy = 0;
  EXPECT_EQ(0, fa.expand());
  EXPECT_EQ(0, fa.add(&dummy));
  EXPECT_EQ(0, fa.nodes());
  EXPECT_EQ(0, fa.capacity());
}

TEST(Flexar, TagRules) {
  std::string forty(40, 'k');
  struct Row {
    const char* label;
    int recSize;
    const char* tag;
    std::string want;
  } rows[] = {
      {"short tag kept", 10, "servers", "servers"},
      {"40 chars keep 30", 10, forty.c_str(), std::string(30, 'k')},
      {"empty tag names the size", 100, "", "F100"},
      {"null tag like empty", 7, nullptr, "F7"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    flexar fa(r.recSize, r.tag);
    EXPECT_EQ(r.want, fa.tag());
  }
  flexar fa(100, "first");
  fa.setTag("");
  EXPECT_STREQ("F100", fa.tag()) << "setTag after construction";
}

TEST(Flexar, ResetReturnsToEmptyKeepingSizeAndTag) {
  flexar fa(sizeof(int), "keep");
  for (int i = 0; i < 6; ++i) fa.add(&i);
  fa.reset();
  EXPECT_EQ(0, fa.nodes());
  EXPECT_EQ(0, fa.capacity());
  EXPECT_EQ(nullptr, fa.data(0));
  EXPECT_STREQ("keep", fa.tag());
  int v = 42;
  EXPECT_EQ(1, fa.add(&v));
  EXPECT_EQ(4, fa.capacity());
  EXPECT_EQ(42, *static_cast<int*>(fa.data(0)));
}

}  // namespace
