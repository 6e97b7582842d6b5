// Packet scrambling: a fresh generator run per call, so a given seed always
// yields the same keystream from its first word on.
#include "crypto/keystream.h"

#include "crypto/mt.h"

void keystreamXor(uint32_t seed, void* bytes, size_t len) {
  if (len == 0) {
    sgenrand(seed);  // as no draw at all leaves it
    return;
  }
  sgenrandFirstBlock(seed);
  genrandXorLowBytes(bytes, len);
}
