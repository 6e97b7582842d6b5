// Packet scrambling: a fresh generator run per call, so a given seed always
// yields the same keystream from its first word on.
#include "crypto/keystream.h"

#include "crypto/mt.h"

void keystreamXor(uint32_t seed, void* bytes, size_t len) {
  sgenrand(seed);
  genrandXorLowBytes(bytes, len);
}
