#include "protocol/keys.h"

#include <cstring>

#include <gtest/gtest.h>

namespace {

// Wire values computed independently of this code base.
TEST(KeyDerivation, PinnedProofAndSeed) {
  EXPECT_EQ(keystreamSeedFor("secret"), 12200485u);
  const unsigned char challenge[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(challengeSeed(challenge), 0x12345678u);
  unsigned char proof[16];
  authDigestFor("secret", challenge, 12200485u, proof);
  const unsigned char want[16] = {0xcd, 0x78, 0x87, 0x81, 0x01, 0x18, 0xd2, 0x86,
                                  0x52, 0x37, 0x54, 0xbb, 0x58, 0x6f, 0xa6, 0xc8};
  EXPECT_EQ(memcmp(proof, want, 16), 0);
}

}  // namespace
