// srvindex: the server list indexed by the two keys a datagram's sender is
// recognised by - the configured address text and the destination its
// packets go to - so that recognising a sender costs the same with ten
// thousand servers as with one. Each key leads to candidate records in list
// order; the caller checks them in that order, so the first record in list
// order still wins, exactly as a walk over the list decides.
//
// The index holds positions, built for one list (where its records lie and
// how many there are); ready() builds it again when asked about another.
// Records whose address or ipPort change in place after that need clear().
#ifndef QZUCON_PROTOCOL_SRVINDEX_H_
#define QZUCON_PROTOCOL_SRVINDEX_H_

#include <netinet/in.h>

#include <cstdint>

struct serverRec;

class srvindex {
 public:
  srvindex() = default;
  ~srvindex() { clear(); }
  srvindex(const srvindex&) = delete;
  srvindex& operator=(const srvindex&) = delete;

  // True when the index is built for the n records at recs (built now when it
  // was not); false when memory is short - the caller then walks the list.
  bool ready(const serverRec* recs, int n);
  // Releases the index; the next ready() builds it again.
  void clear();

  // Candidates in list order, -1 after the last: a superset of the records
  // whose address is text, and of those whose ipPort sends to `to`. Only
  // after ready() returned true.
  int firstByText(const char* text) const;
  int nextByText(int i) const { return textNext_[i]; }
  int firstByDest(const sockaddr_in& to) const;
  int nextByDest(int i) const { return destNext_[i]; }

 private:
  static uint32_t textKey(const char* text);
  static uint32_t destKey(uint32_t addr, uint16_t port);
  bool build(const serverRec* recs, int n);
  // Puts record i at the head of its chain in heads/next.
  void link(int* heads, int* next, uint32_t key, int i) const;

  const serverRec* recs_ = nullptr;
  int n_ = -1;           // records indexed; -1 = not built
  uint32_t mask_ = 0;    // buckets - 1; buckets are a power of two
  int* block_ = nullptr; // textHead_, destHead_, textNext_, destNext_ in one
  int* textHead_ = nullptr;
  int* destHead_ = nullptr;
  int* textNext_ = nullptr;
  int* destNext_ = nullptr;
};

#endif  // QZUCON_PROTOCOL_SRVINDEX_H_
