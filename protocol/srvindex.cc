// The sender index: two chained hash tables over record positions. Chains are
// built from the last record to the first, each record put at the head of its
// chain, so every chain runs in list order.
#include "protocol/srvindex.h"

#include "protocol/server.h"
#include "runtime/mem.h"
#include "runtime/sock.h"
#include "runtime/text.h"

namespace {
constexpr const char* kTag = "srvindex";
}  // namespace

uint32_t srvindex::textKey(const char* text) { return textHash(text); }

uint32_t srvindex::destKey(uint32_t addr, uint16_t port) {
  uint32_t h = addr * 0x9E3779B1u ^ (static_cast<uint32_t>(port) * 0x85EBCA6Bu);
  return h ^ (h >> 15);
}

void srvindex::clear() {
  trFree(block_, kTag);
  block_ = textHead_ = destHead_ = textNext_ = destNext_ = nullptr;
  recs_ = nullptr;
  n_ = -1;
  mask_ = 0;
}

bool srvindex::ready(const serverRec* recs, int n) {
  if (n_ >= 0 && recs == recs_ && n == n_) return true;
  clear();
  return build(recs, n < 0 ? 0 : n);
}

void srvindex::link(int* heads, int* next, uint32_t key, int i) const {
  uint32_t b = key & mask_;
  next[i] = heads[b];
  heads[b] = i;
}

bool srvindex::build(const serverRec* recs, int n) {
  uint32_t buckets = 8;
  while (buckets < 2u * static_cast<uint32_t>(n)) buckets <<= 1;  // chains stay short
  size_t ints = 2 * static_cast<size_t>(buckets) + 2 * static_cast<size_t>(n);
  block_ = static_cast<int*>(trAlloc(ints * sizeof(int), kTag));
  if (block_ == nullptr) return false;
  for (size_t k = 0; k < 2 * static_cast<size_t>(buckets); k++) block_[k] = -1;
  textHead_ = block_;
  destHead_ = textHead_ + buckets;
  textNext_ = destHead_ + buckets;
  destNext_ = textNext_ + n;
  mask_ = buckets - 1;
  for (int i = n - 1; i >= 0; i--) {
    link(textHead_, textNext_, textKey(recs[i].address), i);
    sockaddr_in to;
    destNext_[i] = -1;  // a record that sends nowhere is in no chain
    if (trDestAddr(recs[i].ipPort, &to)) {
      link(destHead_, destNext_, destKey(to.sin_addr.s_addr, to.sin_port), i);
    }
  }
  recs_ = recs;
  n_ = n;
  return true;
}

int srvindex::firstByText(const char* text) const {
  return n_ > 0 ? textHead_[textKey(text) & mask_] : -1;
}

int srvindex::firstByDest(const sockaddr_in& to) const {
  return n_ > 0 ? destHead_[destKey(to.sin_addr.s_addr, to.sin_port) & mask_] : -1;
}
