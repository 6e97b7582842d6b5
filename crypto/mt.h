// The MT19937 generator in its 1998 reference form (sgenrand fills the state
// with x <- 69069 * x). One global generator: callers seed, then draw, with
// nothing in between. Unseeded, the first draw seeds with 4357.
#ifndef QZUCON_CRYPTO_MT_H_
#define QZUCON_CRYPTO_MT_H_

#include <cstddef>
#include <cstdint>

constexpr int kMtN = 624;
extern uint32_t mt[kMtN];  // generator state
extern int32_t mti;        // next word to temper; 625 = never seeded

void sgenrand(uint32_t seed);
uint32_t genrand();
// XORs the low 8 bits of the next len genrand() words onto bytes[0..len),
// leaving mt/mti exactly as len genrand() calls would. The bulk form of the
// keystream loop.
void genrandXorLowBytes(void* bytes, size_t len);
// sgenrand(seed) and the regeneration the first draw would make: mt holds
// the first block of words to temper, mti 0. The block of the last seed
// given is kept, so the same seed again costs a copy: a console whose
// servers share a password (or have none) seeds once for all their lines.
void sgenrandFirstBlock(uint32_t seed);
// Back to the never-seeded program-start state (for tests).
void resetGenerator();

#endif  // QZUCON_CRYPTO_MT_H_
