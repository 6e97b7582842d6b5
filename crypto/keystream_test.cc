// Packet scrambling: the pinned wire bytes and the scramble/unscramble
// symmetry. Seeds and proofs derived from a password are pinned where they
// are derived, in protocol/keys_test.cc.
#include "crypto/keystream.h"

#include <gtest/gtest.h>

#include <vector>

#include "crypto/mt.h"

namespace {

class KeystreamTest : public ::testing::Test {
 protected:
  void TearDown() override { resetGenerator(); }
};

TEST_F(KeystreamTest, KeystreamOfZeros) {
  struct row { uint32_t seed; std::vector<unsigned char> bytes; };
  const row rows[] = {
      {36250418, {0x27, 0x1d, 0x76, 0xf5, 0xff, 0x2a, 0xc4, 0xb6,
                  0xc6, 0x73, 0x21, 0x53, 0x6c, 0x86, 0xbc, 0xf4}},
      {12200485, {0x46, 0xda, 0xd3, 0xbb, 0x20, 0xde, 0xb6, 0x03,  // the seed of "secret"
                  0x93, 0x29, 0x47, 0xd9, 0xa7, 0x17, 0x51, 0xfa}},
      {4357, {0xf5, 0x82, 0x8b, 0x0a, 0xba, 0xc0, 0x12, 0x98}},
      {1, {0x86, 0xfa, 0xaf, 0x78, 0x3c, 0x4e, 0xc4, 0xff}},
      {3, {0xba, 0x2b, 0xca, 0x37, 0x39, 0xb3, 0x05, 0x34}},
      {0, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const row& r : rows) {
    std::vector<unsigned char> buf(r.bytes.size(), 0);
    keystreamXor(r.seed, buf.data(), buf.size());
    EXPECT_EQ(buf, r.bytes) << "seed " << r.seed;
  }
}

// Every call starts again at the first word of its seed, whatever was drawn
// in between, so the same call unscrambles what it scrambled; lengths past
// one state (624 words) included.
TEST_F(KeystreamTest, ScrambleTwiceRestores) {
  for (size_t len : {size_t{0}, size_t{1}, size_t{600}, size_t{1501}}) {
    std::vector<unsigned char> text(len), buf;
    for (size_t i = 0; i < len; i++) text[i] = static_cast<unsigned char>(i * 7);
    buf = text;
    keystreamXor(36250418, buf.data(), len);
    if (len > 16) {
      EXPECT_NE(buf, text) << "len " << len;
    }
    sgenrand(5);
    genrand();
    keystreamXor(36250418, buf.data(), len);
    EXPECT_EQ(buf, text) << "len " << len;
  }
}

// Whatever came before: a seed seen last time (whose first block is kept),
// another seed, an empty text, a text longer than one block.
TEST_F(KeystreamTest, LeavesStateOfPerByteDraws) {
  const struct {
    uint32_t seed;
    size_t len;
  } rows[] = {{3, 700}, {3, 40}, {7, 40}, {3, 0}, {3, 1}, {7, 1500}, {7, 624}};
  for (const auto& r : rows) {
    std::vector<unsigned char> buf(r.len);
    keystreamXor(r.seed, buf.data(), buf.size());
    std::vector<uint32_t> after(mt, mt + kMtN);
    int32_t afterIndex = mti;
    sgenrand(r.seed);
    for (size_t i = 0; i < r.len; i++)
      ASSERT_EQ(buf[i], genrand() & 0xFF) << "seed " << r.seed << " byte " << i;
    EXPECT_EQ(afterIndex, mti) << "seed " << r.seed << " length " << r.len;
    EXPECT_EQ(after, std::vector<uint32_t>(mt, mt + kMtN)) << "seed " << r.seed;
  }
}

}  // namespace
