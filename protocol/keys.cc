// Key derivation from a password and a server challenge.
#include "protocol/keys.h"

#include <cstring>

#include "crypto/keystream.h"
#include "crypto/md5.h"

uint32_t challengeSeed(const unsigned char c[4]) {
  return (uint32_t(c[0]) << 24) | (uint32_t(c[1]) << 16) | (uint32_t(c[2]) << 8) | c[3];
}

uint32_t keystreamSeedFor(const char* password) {
  md5 m(password, static_cast<uint32_t>(strlen(password)), 3);
  const unsigned char* d = m.digest();
  return d[0] | (uint32_t(d[1]) << 8) | (uint32_t(d[2]) << 16) | (uint32_t(d[3]) << 24);
}

void authDigestFor(const char* password, const unsigned char challenge[4], uint32_t rseed,
                   unsigned char out[16]) {
  md5 m(password, static_cast<uint32_t>(strlen(password)), challengeSeed(challenge));
  memcpy(out, m.digest(), 16);
  keystreamXor(rseed, out, 16);
}
