// The global generator: fixed draws per seed, the unseeded default, and the
// vectorised paths checked word for word and state for state against a
// plain one-word-at-a-time model kept here.
#include "crypto/mt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The generator written the obvious way, with the mag01 table and the index
// taken mod N, as an oracle for the fast code.
struct model {
  uint32_t s[kMtN] = {};
  int i = kMtN + 1;
  void seed(uint32_t x) {
    for (int k = 0; k < kMtN; k++, x *= 69069u) s[k] = x;
    i = kMtN;
  }
  uint32_t draw() {
    static const uint32_t mag01[2] = {0x0, 0x9908B0DF};
    if (i >= kMtN) {
      if (i == kMtN + 1) seed(4357);
      for (int k = 0; k < kMtN; k++) {
        uint32_t y = (s[k] & 0x80000000u) | (s[(k + 1) % kMtN] & 0x7FFFFFFFu);
        s[k] = s[(k + 397) % kMtN] ^ (y >> 1) ^ mag01[y & 1];
      }
      i = 0;
    }
    uint32_t y = s[i++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    return y ^ (y >> 18);
  }
};

class MtTest : public ::testing::Test {
 protected:
  void SetUp() override { resetGenerator(); }
  void TearDown() override { resetGenerator(); }
  void expectStateIs(const model& m, const char* what) {
    EXPECT_EQ(mti, m.i) << what;
    EXPECT_EQ(std::memcmp(mt, m.s, sizeof mt), 0) << what;
  }
};

constexpr int kUnseeded = -1;

TEST_F(MtTest, DrawsByNumber) {
  struct row { int64_t seed; int draw; uint32_t value; };
  const row rows[] = {
      {4357, 1, 3510405877u}, {4357, 2, 4290933890u}, {4357, 3, 2191955339u},
      {4357, 4, 564929546u}, {4357, 5, 152112058u}, {4357, 624, 730882493u},
      {4357, 625, 2222118351u}, {4357, 1000, 1309179303u},
      {kUnseeded, 1, 3510405877u}, {kUnseeded, 5, 152112058u},
      {kUnseeded, 624, 730882493u}, {kUnseeded, 625, 2222118351u},
      {kUnseeded, 1000, 1309179303u},
      {1, 1, 3796174982u}, {1, 2, 4182529786u}, {1, 3, 2180050607u},
      {1, 4, 3809380472u}, {1, 5, 2960793660u},
      {3, 1, 2618579386u}, {3, 2, 2532467499u}, {3, 3, 4022061002u},
      {3, 4, 2350677303u}, {3, 5, 4145206073u},
  };
  for (const row& r : rows) {
    resetGenerator();
    if (r.seed != kUnseeded) sgenrand(static_cast<uint32_t>(r.seed));
    uint32_t v = 0;
    for (int k = 0; k < r.draw; k++) v = genrand();
    EXPECT_EQ(v, r.value) << (r.seed == kUnseeded ? "unseeded" : "seed " + std::to_string(r.seed))
                          << " draw " << r.draw;
  }
}

TEST_F(MtTest, LowBytesOfFirstEightDraws) {
  struct row { uint32_t seed; unsigned char low[8]; };
  const row rows[] = {
      {4357, {0xf5, 0x82, 0x8b, 0x0a, 0xba, 0xc0, 0x12, 0x98}},
      {1, {0x86, 0xfa, 0xaf, 0x78, 0x3c, 0x4e, 0xc4, 0xff}},
      {3, {0xba, 0x2b, 0xca, 0x37, 0x39, 0xb3, 0x05, 0x34}},
  };
  for (const row& r : rows) {
    sgenrand(r.seed);
    for (int k = 0; k < 8; k++)
      EXPECT_EQ(genrand() & 0xFF, r.low[k]) << "seed " << r.seed << " draw " << k + 1;
  }
}

TEST_F(MtTest, SeedZeroIsAllZero) {
  sgenrand(0);
  for (int k = 0; k < 2000; k++) ASSERT_EQ(genrand(), 0u) << "draw " << k + 1;
  for (int k = 0; k < kMtN; k++) ASSERT_EQ(mt[k], 0u) << "word " << k;
}

TEST_F(MtTest, ReseedRestartsSequence) {
  sgenrand(3);
  std::vector<uint32_t> first;
  for (int k = 0; k < 700; k++) first.push_back(genrand());
  for (int drawn : {0, 1, 623, 624, 625, 1500}) {
    sgenrand(99);
    for (int k = 0; k < drawn; k++) genrand();
    sgenrand(3);
    for (int k = 0; k < 700; k++)
      ASSERT_EQ(genrand(), first[k]) << "after " << drawn << " draws, draw " << k + 1;
  }
}

// Three regenerations per seed; the state must match after every draw
// count that lands on or around a regeneration.
TEST_F(MtTest, GenrandMatchesModel) {
  for (uint32_t seed : {4357u, 1u, 0x80000000u, 0xFFFFFFFFu, 36250418u}) {
    model m;
    m.seed(seed);
    sgenrand(seed);
    for (int k = 1; k <= 3 * kMtN + 5; k++) {
      ASSERT_EQ(genrand(), m.draw()) << "seed " << seed << " draw " << k;
      if (k % kMtN <= 1) expectStateIs(m, "after a regeneration");
    }
  }
}

// The bulk keystream form, started at several points of a state and run
// across regenerations, against the model drawing one word per byte.
TEST_F(MtTest, BulkXorMatchesModel) {
  struct row { int skip; size_t len; };
  const row rows[] = {{0, 0}, {0, 1}, {0, 16}, {0, 600}, {0, 623}, {0, 624},
                      {0, 625}, {0, 1501}, {5, 619}, {5, 620}, {623, 2},
                      {624, 1}, {700, 1300}};
  for (const row& r : rows) {
    const std::string label = "skip " + std::to_string(r.skip) + " len " + std::to_string(r.len);
    model m;
    m.seed(12200485);
    sgenrand(12200485);
    for (int k = 0; k < r.skip; k++) m.draw(), genrand();
    std::vector<unsigned char> got(r.len + 1, 0x5A), want(r.len + 1, 0x5A);
    genrandXorLowBytes(got.data(), r.len);
    for (size_t k = 0; k < r.len; k++) want[k] ^= static_cast<unsigned char>(m.draw());
    EXPECT_EQ(got, want) << label;
    expectStateIs(m, label.c_str());
  }
}

TEST_F(MtTest, BulkXorSeedsUnseededGenerator) {
  model m;
  unsigned char got[8] = {};
  genrandXorLowBytes(got, sizeof got);
  for (size_t k = 0; k < sizeof got; k++)
    EXPECT_EQ(got[k], static_cast<unsigned char>(m.draw())) << "byte " << k;
  expectStateIs(m, "unseeded");
}

}  // namespace
