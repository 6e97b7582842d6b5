// Seeded MD5: the RFC 1321 digest with the seed mixed into the initial
// chaining words. Whole blocks are compressed straight from the caller's
// buffer; only the tail and the padding pass through buffer_. The padding
// and length encoding are the standard ones, so seed 0 is plain MD5.
#include "crypto/md5.h"

#include <cstring>

namespace {

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t loadLe32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void storeLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The four step kinds, a = b + rotl(a + f(b, c, d) + x + t, s). Each round
// function is written so that b, the word finished last, enters as late as
// possible: that keeps the serial chain between steps short. In gg the two
// halves of the selection have no common bits, so they may be added.
inline void ff(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x,
               int s, uint32_t t) {
  a = b + rotl(a + x + t + (d ^ (b & (c ^ d))), s);
}
inline void gg(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x,
               int s, uint32_t t) {
  a = b + rotl(a + x + t + (c & ~d) + (b & d), s);
}
inline void hh(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x,
               int s, uint32_t t) {
  a = b + rotl(a + x + t + (b ^ (c ^ d)), s);
}
inline void ii(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x,
               int s, uint32_t t) {
  a = b + rotl(a + x + t + (c ^ (b | ~d)), s);
}

}  // namespace

void md5SeedWords(uint32_t seed, uint32_t words[4]) {
  words[0] = 0x67452301u + 11u * seed;
  words[1] = 0xEFCDAB89u + 71u * seed;
  words[2] = 0x98BADCFEu + 37u * seed;
  words[3] = 0x10325476u + 97u * seed;
}

md5::md5(const void* data, uint32_t len, uint32_t seed) {
  MD5Init(seed);
  MD5Update(static_cast<const unsigned char*>(data), len);
  MD5Final();
}

void md5::MD5Init(uint32_t seed) {
  count_ = 0;
  md5SeedWords(seed, state_);
}

// The object is one-shot: this runs once, on an empty buffer, with the whole
// message, so only its tail (under 64 bytes) needs buffering.
void md5::MD5Update(const unsigned char* bytes, uint32_t len) {
  count_ += len;
  for (; len >= 64; bytes += 64, len -= 64) Transform(state_, bytes);
  if (len > 0) std::memcpy(buffer_, bytes, len);  // data may be null when empty
}

// 0x80, zeros up to byte 56 of a block (a second block when fewer than 9
// bytes are left), then the message length in bits, little-endian.
void md5::MD5Final() {
  size_t used = static_cast<size_t>(count_ & 63);
  buffer_[used++] = 0x80;
  if (used > 56) {
    std::memset(buffer_ + used, 0, 64 - used);
    Transform(state_, buffer_);
    used = 0;
  }
  std::memset(buffer_ + used, 0, 56 - used);
  uint64_t bits = count_ << 3;
  storeLe32(buffer_ + 56, static_cast<uint32_t>(bits));
  storeLe32(buffer_ + 60, static_cast<uint32_t>(bits >> 32));
  Transform(state_, buffer_);
  for (int i = 0; i < 4; i++) storeLe32(digest_ + 4 * i, state_[i]);
}

void md5::Transform(uint32_t state[4], const unsigned char block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; i++) x[i] = loadLe32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  ff(a, b, c, d, x[0], 7, 0xd76aa478);  ff(d, a, b, c, x[1], 12, 0xe8c7b756);
  ff(c, d, a, b, x[2], 17, 0x242070db); ff(b, c, d, a, x[3], 22, 0xc1bdceee);
  ff(a, b, c, d, x[4], 7, 0xf57c0faf);  ff(d, a, b, c, x[5], 12, 0x4787c62a);
  ff(c, d, a, b, x[6], 17, 0xa8304613); ff(b, c, d, a, x[7], 22, 0xfd469501);
  ff(a, b, c, d, x[8], 7, 0x698098d8);  ff(d, a, b, c, x[9], 12, 0x8b44f7af);
  ff(c, d, a, b, x[10], 17, 0xffff5bb1); ff(b, c, d, a, x[11], 22, 0x895cd7be);
  ff(a, b, c, d, x[12], 7, 0x6b901122); ff(d, a, b, c, x[13], 12, 0xfd987193);
  ff(c, d, a, b, x[14], 17, 0xa679438e); ff(b, c, d, a, x[15], 22, 0x49b40821);

  gg(a, b, c, d, x[1], 5, 0xf61e2562);  gg(d, a, b, c, x[6], 9, 0xc040b340);
  gg(c, d, a, b, x[11], 14, 0x265e5a51); gg(b, c, d, a, x[0], 20, 0xe9b6c7aa);
  gg(a, b, c, d, x[5], 5, 0xd62f105d);  gg(d, a, b, c, x[10], 9, 0x02441453);
  gg(c, d, a, b, x[15], 14, 0xd8a1e681); gg(b, c, d, a, x[4], 20, 0xe7d3fbc8);
  gg(a, b, c, d, x[9], 5, 0x21e1cde6);  gg(d, a, b, c, x[14], 9, 0xc33707d6);
  gg(c, d, a, b, x[3], 14, 0xf4d50d87); gg(b, c, d, a, x[8], 20, 0x455a14ed);
  gg(a, b, c, d, x[13], 5, 0xa9e3e905); gg(d, a, b, c, x[2], 9, 0xfcefa3f8);
  gg(c, d, a, b, x[7], 14, 0x676f02d9); gg(b, c, d, a, x[12], 20, 0x8d2a4c8a);

  hh(a, b, c, d, x[5], 4, 0xfffa3942);  hh(d, a, b, c, x[8], 11, 0x8771f681);
  hh(c, d, a, b, x[11], 16, 0x6d9d6122); hh(b, c, d, a, x[14], 23, 0xfde5380c);
  hh(a, b, c, d, x[1], 4, 0xa4beea44);  hh(d, a, b, c, x[4], 11, 0x4bdecfa9);
  hh(c, d, a, b, x[7], 16, 0xf6bb4b60); hh(b, c, d, a, x[10], 23, 0xbebfbc70);
  hh(a, b, c, d, x[13], 4, 0x289b7ec6); hh(d, a, b, c, x[0], 11, 0xeaa127fa);
  hh(c, d, a, b, x[3], 16, 0xd4ef3085); hh(b, c, d, a, x[6], 23, 0x04881d05);
  hh(a, b, c, d, x[9], 4, 0xd9d4d039);  hh(d, a, b, c, x[12], 11, 0xe6db99e5);
  hh(c, d, a, b, x[15], 16, 0x1fa27cf8); hh(b, c, d, a, x[2], 23, 0xc4ac5665);

  ii(a, b, c, d, x[0], 6, 0xf4292244);  ii(d, a, b, c, x[7], 10, 0x432aff97);
  ii(c, d, a, b, x[14], 15, 0xab9423a7); ii(b, c, d, a, x[5], 21, 0xfc93a039);
  ii(a, b, c, d, x[12], 6, 0x655b59c3); ii(d, a, b, c, x[3], 10, 0x8f0ccc92);
  ii(c, d, a, b, x[10], 15, 0xffeff47d); ii(b, c, d, a, x[1], 21, 0x85845dd1);
  ii(a, b, c, d, x[8], 6, 0x6fa87e4f);  ii(d, a, b, c, x[15], 10, 0xfe2ce6e0);
  ii(c, d, a, b, x[6], 15, 0xa3014314); ii(b, c, d, a, x[13], 21, 0x4e0811a1);
  ii(a, b, c, d, x[4], 6, 0xf7537e82);  ii(d, a, b, c, x[11], 10, 0xbd3af235);
  ii(c, d, a, b, x[2], 15, 0x2ad7d2bb); ii(b, c, d, a, x[9], 21, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}
