// The global MT19937 generator (1998 reference seeding). The loops are kept
// free of table lookups and cross-iteration hazards so the compiler can
// vectorise seeding, regeneration and the bulk keystream path; every word
// and the state left in mt/mti match the word-at-a-time reference exactly.
#include "crypto/mt.h"

#include <cstddef>
#include <cstring>

uint32_t mt[kMtN];
int32_t mti = kMtN + 1;

namespace {

// The first block of the seed last given to sgenrandFirstBlock.
uint32_t blockOfSeed[kMtN];
uint32_t blockSeed;
bool blockKept = false;

constexpr int kMtM = 397;
constexpr uint32_t kMatrixA = 0x9908B0DFu;
constexpr uint32_t kUpperMask = 0x80000000u;
constexpr uint32_t kLowerMask = 0x7FFFFFFFu;
constexpr uint32_t kDefaultSeed = 4357;

// kSeedPowers[i] = 69069^i mod 2^32, so mt[i] = seed * kSeedPowers[i]: 624
// independent multiplies instead of one serial chain of them.
struct seedPowers {
  uint32_t p[kMtN];
  constexpr seedPowers() : p() {
    uint32_t x = 1;
    for (int i = 0; i < kMtN; i++, x *= 69069u) p[i] = x;
  }
};
constexpr seedPowers kSeedPowers;

// New value of one state word from itself, its successor and the word M
// ahead (mod N). -(y & 1) & A is the reference's mag01[y & 1] without a load.
inline uint32_t twist(uint32_t cur, uint32_t next, uint32_t far) {
  uint32_t y = (cur & kUpperMask) | (next & kLowerMask);
  return far ^ (y >> 1) ^ (-(y & 1u) & kMatrixA);
}

inline uint32_t temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  return y ^ (y >> 18);
}

// The second loop reads words the first one rewrote 227 places back, which
// is what the reference does and is no obstacle to vectors shorter than that.
void regenerate() {
  if (mti == kMtN + 1) sgenrand(kDefaultSeed);
  for (int kk = 0; kk < kMtN - kMtM; kk++)
    mt[kk] = twist(mt[kk], mt[kk + 1], mt[kk + kMtM]);
  for (int kk = kMtN - kMtM; kk < kMtN - 1; kk++)
    mt[kk] = twist(mt[kk], mt[kk + 1], mt[kk + kMtM - kMtN]);
  mt[kMtN - 1] = twist(mt[kMtN - 1], mt[0], mt[kMtM - 1]);
  mti = 0;
}

// XORs the low bytes of the tempered words src[0..n) onto dst. Restrict
// tells the compiler the byte stores cannot touch the state words.
void xorLowBytes(const uint32_t* __restrict src, unsigned char* __restrict dst,
                 size_t n) {
  for (size_t i = 0; i < n; i++)
    dst[i] ^= static_cast<unsigned char>(temper(src[i]));
}

}  // namespace

void sgenrand(uint32_t seed) {
  for (int i = 0; i < kMtN; i++) mt[i] = seed * kSeedPowers.p[i];
  mti = kMtN;
}

uint32_t genrand() {
  if (mti >= kMtN) regenerate();
  return temper(mt[mti++]);
}

void genrandXorLowBytes(void* bytes, size_t len) {
  unsigned char* p = static_cast<unsigned char*>(bytes);
  while (len > 0) {
    if (mti >= kMtN) regenerate();
    size_t n = static_cast<size_t>(kMtN - mti);
    if (n > len) n = len;
    xorLowBytes(mt + mti, p, n);
    mti += static_cast<int32_t>(n);
    p += n;
    len -= n;
  }
}

void sgenrandFirstBlock(uint32_t seed) {
  if (blockKept && seed == blockSeed) {
    memcpy(mt, blockOfSeed, sizeof mt);
    mti = 0;
    return;
  }
  sgenrand(seed);
  regenerate();
  memcpy(blockOfSeed, mt, sizeof mt);
  blockSeed = seed;
  blockKept = true;
}

void resetGenerator() {
  for (int i = 0; i < kMtN; i++) mt[i] = 0;
  mti = kMtN + 1;
  blockKept = false;
}
