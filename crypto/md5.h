// md5: one-shot MD5 digest whose four initial chaining words are offset by a
// 32-bit seed (A += 11*seed, B += 71*seed, C += 37*seed, D += 97*seed). Seed 0
// gives the standard MD5. No global state; no allocation.
#ifndef QZUCON_CRYPTO_MD5_H_
#define QZUCON_CRYPTO_MD5_H_

#include <cstdint>

// Writes the initial chaining words A, B, C, D for a seed into words[4].
void md5SeedWords(uint32_t seed, uint32_t words[4]);

class md5 {
 public:
  // Digests len bytes at data with the given seed; the digest is ready when
  // the constructor returns.
  md5(const void* data, uint32_t len, uint32_t seed);
  // The 16 digest bytes, valid while the object lives.
  const unsigned char* digest() const { return digest_; }

  // (private detail below; callers use only the constructor and digest())
 private:
  void MD5Init(uint32_t seed);
  void MD5Update(const unsigned char* bytes, uint32_t len);
  void MD5Final();
  // One 64-byte block, read as sixteen little-endian words.
  static void Transform(uint32_t state[4], const unsigned char block[64]);

  uint64_t count_;             // message bytes taken in so far
  uint32_t state_[4];          // chaining words A, B, C, D
  unsigned char buffer_[64];   // bytes waiting for a full block
  unsigned char digest_[16];
};

#endif  // QZUCON_CRYPTO_MD5_H_
