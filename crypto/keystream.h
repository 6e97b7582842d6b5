// The packet keystream: seed the global generator, then XOR the low byte of
// each successive word onto the bytes. Scrambling and unscrambling are the
// same call; every run starts again at the first word of the seed.
#ifndef QZUCON_CRYPTO_KEYSTREAM_H_
#define QZUCON_CRYPTO_KEYSTREAM_H_

#include <cstddef>
#include <cstdint>

void keystreamXor(uint32_t seed, void* bytes, size_t len);

#endif  // QZUCON_CRYPTO_KEYSTREAM_H_
