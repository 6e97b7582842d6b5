// Session keys derived from a server's password: the keystream seed of its
// traffic and the proof that answers its challenge.
#ifndef QZUCON_PROTOCOL_KEYS_H_
#define QZUCON_PROTOCOL_KEYS_H_

#include <cstdint>

// Bytes 0..3 (little-endian) of the seeded MD5 of password with seed 3.
uint32_t keystreamSeedFor(const char* password);

// The seeded MD5 of password with the challenge (read big-endian) as seed,
// XORed with the first 16 keystream bytes of rseed. out holds 16 bytes.
void authDigestFor(const char* password, const unsigned char challenge[4], uint32_t rseed,
                   unsigned char out[16]);

// The challenge bytes read as a big-endian number.
uint32_t challengeSeed(const unsigned char challenge[4]);

#endif  // QZUCON_PROTOCOL_KEYS_H_
