// Seeded MD5 against fixed digests. Seed-0 rows were taken from md5sum; the
// other patterned rows from an independent MD5 whose initial chaining words
// were overwritten with the seeded ones.
#include "crypto/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string hex(const unsigned char* p, size_t n) {
  std::string s;
  char two[3];
  for (size_t i = 0; i < n; i++) {
    std::snprintf(two, sizeof two, "%02x", p[i]);
    s += two;
  }
  return s;
}

// Byte i is (31 * i + 7) mod 256: every byte value, high bit set often.
std::vector<unsigned char> patterned(size_t n) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; i++) v[i] = static_cast<unsigned char>(i * 31 + 7);
  return v;
}

TEST(Md5, SeedWordsWrapModulo2To32) {
  struct row { uint32_t seed, a, b, c, d; };
  const row rows[] = {
      {0, 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476},
      {1, 0x6745230C, 0xEFCDABD0, 0x98BADD23, 0x103254D7},
      {3, 0x67452322, 0xEFCDAC5E, 0x98BADD6D, 0x10325599},
      {0xFFFFFFFF, 0x674522F6, 0xEFCDAB42, 0x98BADCD9, 0x10325415},
  };
  for (const row& r : rows) {
    uint32_t w[4];
    md5SeedWords(r.seed, w);
    EXPECT_EQ(w[0], r.a) << "seed " << r.seed;
    EXPECT_EQ(w[1], r.b) << "seed " << r.seed;
    EXPECT_EQ(w[2], r.c) << "seed " << r.seed;
    EXPECT_EQ(w[3], r.d) << "seed " << r.seed;
  }
}

TEST(Md5, TextMessages) {
  struct row { const char* text; uint32_t seed; const char* digest; };
  const row rows[] = {
      {"abc", 0, "900150983cd24fb0d6963f7d28e17f72"},
      {"", 0, "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", 1, "f40369b74d214588df6de5783ce6aff1"},
      {"abc", 3, "f4ef004cfc82955e7a1394ad623751b3"},
      {"", 3, "5dacb0d93e1eb24fb12f02369e82c45a"},
      {"abc", 0xFFFFFFFF, "c6cf42190db35d278f06f1140e695ea6"},
      {"secret", 3, "252aba000033eeb59372912acc6b8354"},
      {"secret", 0x12345678, "8ba2543a21c66485c11e1362ff78f732"},
      {nullptr, 0, "d41d8cd98f00b204e9800998ecf8427e"},  // no message at all
  };
  for (const row& r : rows) {
    md5 h(r.text, r.text ? static_cast<uint32_t>(std::strlen(r.text)) : 0, r.seed);
    EXPECT_EQ(hex(h.digest(), 16), r.digest)
        << (r.text ? "\"" + std::string(r.text) + "\"" : "null") << " seed " << r.seed;
  }
}

// 55 bytes still take the length in the same block; 56..63 spill it into a
// second one; 64 ends on a block edge before any padding; the rest repeat
// that one block further on, and 1 MiB runs the whole-block path at length.
TEST(Md5, PaddingBoundaries) {
  struct row { uint32_t len; const char* seed0; const char* seed3; };
  const row rows[] = {
      {1, "89e74e640b8c46257a29de0616794d5d", "f4c3a6414b5b688e37531f0149a6dcf8"},
      {55, "c9e512626618c9980ef21a96597af94c", "308c3f600f78cf26696b70cc029dc035"},
      {56, "ecde7caa08e9f5657c863df107cac60a", "4e016676518146f0bf527aafbf3e234b"},
      {63, "2f0301069e1c40af7f6c8f843b1b13f2", "b07c1905853667c12607fc048646ce83"},
      {64, "b6bf87c24b1bc334e2541387a92b981b", "628b7c5f44f0fcee25993687cf0c185d"},
      {65, "f168246f08b6134d66bd2a10343fa9f1", "c5b57d8a070ecf7fb234cedaa82877af"},
      {119, "d5dc3d8264de3aa24dee105910ee27fe", "c6165403e351e59c8ab409ad6f83cc01"},
      {120, "bcc139b3848923904860d1eefd6e5923", "663eaeea11bdc0b2481ab61f87377058"},
      {127, "27670172396247fa5f68637f13f8933d", "297a40bcae12c91992ed45c8fff894d7"},
      {128, "3e85b70ffc8df5c735ecf2a8f14f1bee", "cbc9fe636da9f6764abaa764e11e6552"},
      {1000, "2b1e78d5765de9e10495a01412a1cf22", "e46d6aee93e5ac238e39e88961afcf1d"},
      {1 << 20, "3f2c8bd9cfde6550fdff4b36617c3261", "fe1e9af6df80bb55ce13a31ab1a3f166"},
  };
  const std::vector<unsigned char> msg = patterned(1 << 20);
  for (const row& r : rows) {
    md5 plain(msg.data(), r.len, 0);
    md5 seeded(msg.data(), r.len, 3);
    EXPECT_EQ(hex(plain.digest(), 16), r.seed0) << "len " << r.len;
    EXPECT_EQ(hex(seeded.digest(), 16), r.seed3) << "len " << r.len;
  }
}

// The compression reads words with unaligned loads; a message that starts
// off a word boundary must digest the same.
TEST(Md5, UnalignedInput) {
  std::vector<unsigned char> buf(200 + 3);
  const std::vector<unsigned char> msg = patterned(128);
  for (size_t off = 0; off < 4; off++) {
    std::memcpy(buf.data() + off, msg.data(), msg.size());
    md5 h(buf.data() + off, 128, 0);
    EXPECT_EQ(hex(h.digest(), 16), "3e85b70ffc8df5c735ecf2a8f14f1bee")
        << "offset " << off;
  }
}

}  // namespace
