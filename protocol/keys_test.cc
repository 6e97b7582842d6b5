// Key derivation against wire values computed outside this code base (a
// seeded MD5 and the generator written out independently). This is the one
// table of pinned seeds and proofs; other tests derive theirs from these
// functions.
#include "protocol/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

TEST(KeyDerivation, PinnedSeedsAndProofs) {
  struct Row {
    const char* password;
    unsigned char challenge[4];
    uint32_t challengeNumber;  // the challenge read big-endian
    uint32_t seed;
    bytes proof;  // answering the challenge, scrambled with seed
  } rows[] = {
      {"secret", {0x12, 0x34, 0x56, 0x78}, 0x12345678u, 12200485u,
       {0xcd, 0x78, 0x87, 0x81, 0x01, 0x18, 0xd2, 0x86, 0x52, 0x37, 0x54, 0xbb, 0x58, 0x6f, 0xa6,
        0xc8}},
      {"pw", {0xfe, 0xdc, 0xba, 0x98}, 0xfedcba98u, 1977939067u,
       {0xa4, 0x46, 0xd7, 0x42, 0x2c, 0xb1, 0x5d, 0x27, 0x75, 0x58, 0x86, 0x55, 0x2f, 0xed, 0x1a,
        0x8e}},
      {"", {0x00, 0x00, 0x00, 0x01}, 1u, 3652234333u,
       {0x0d, 0x32, 0xb2, 0x27, 0x40, 0x2a, 0xa3, 0x85, 0xdb, 0xcb, 0x04, 0x00, 0x76, 0x0b, 0xa9,
        0x24}},
      {"pppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp",  // 64, the longest
       {0x80, 0x00, 0x00, 0x00}, 0x80000000u, 3477989589u,
       {0x33, 0xf3, 0xf7, 0x78, 0x0f, 0x14, 0x9e, 0x64, 0x80, 0xbf, 0x81, 0xd2, 0xf0, 0x53, 0xe5,
        0x6f}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string("password \"") + r.password + "\"");
    EXPECT_EQ(r.seed, keystreamSeedFor(r.password));
    EXPECT_EQ(r.challengeNumber, challengeSeed(r.challenge));
    bytes proof(16);
    authDigestFor(r.password, r.challenge, r.seed, proof.data());
    EXPECT_EQ(r.proof, proof);
  }
}

}  // namespace
