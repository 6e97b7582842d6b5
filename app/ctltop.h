// The fleet view's answer ("top", app/control.h): the servers that match a
// filter, sorted, a window of them at a time, with each one's lines in the
// last minute, seconds since its last line, alerts and commands sent, and a
// head with the fleet's figures. The per-minute figures come from a ring of
// snapshots of the servers' line counts taken at most every kTopSnapMs by
// the pass: a line costs no more than the count it already bumps.
#ifndef QZUCON_APP_CTLTOP_H_
#define QZUCON_APP_CTLTOP_H_

#include <cstdint>

#include "app/control.h"

constexpr uint32_t kTopSnapMs = 5000;  // least time between two snapshots
constexpr int kTopSnaps = 13;          // a minute of them, and the one before
constexpr int kTopTotals = 62;         // five minutes of the fleet's totals
constexpr int kTopFilterChars = 128;
constexpr int kTopLineChars = 640;  // a head or row line with its '\n'

// One snapshot of the fleet: when, how many servers, the totals of lines
// and alerts.
struct topTotal {
  uint32_t mono;
  int servers;
  uint64_t lines;
  uint64_t alerts;
};

// A client's answer: the servers' indexes in flServer in the order asked,
// and the head's figures.
struct topAnswer {
  int* rows = nullptr;  // trAlloc'd, room for cap
  int cap = 0;
  int matched = 0;           // servers that passed the filter
  int first = 0, count = 0;  // the window of rows sent
  int up = 0;
};

struct topState {
  // Per-server line counts (32 bits: a minute's difference fits) of the
  // snapshots, kTopSnaps rows of `servers` each, in one trAlloc'd block.
  uint32_t* lines = nullptr;
  topTotal snaps[kTopSnaps] = {};
  int snapCount = 0;  // taken so far, at most kTopSnaps
  int snapNext = 0;   // the slot of the next
  int servers = 0;    // what the block has room for
  topTotal totals[kTopTotals] = {};
  int totalCount = 0, totalNext = 0;
  uint64_t* keys = nullptr;  // servers' addresses as sortable numbers, per snapshot
  // The sort's scratch: an entry per server, grown as needed.
  void* items = nullptr;
  int itemCap = 0;
  topAnswer answers[kCtlClients + 1];  // by control client slot; the last for others
};

// Once a pass: a snapshot when kTopSnapMs have passed since the last.
// Memory: 4 bytes per server and snapshot slot (kTopSnaps of them) and 8
// for its sort key; a failed allocation skips the snapshot (the figures
// then span what is there).
void topPass(uint32_t mono);

// Starts the answer of "top SORT OFFSET COUNT TARGET [FILTER]" (args) for
// the client in slot (0 to kCtlClients): false with why (whySize bytes) when the words are
// wrong or memory is short. TARGET is "*" or "@TAGS".
bool topBegin(int slot, const char* args, uint32_t mono, char* why, int whySize);

// The answer's next line with its '\n' into out (kTopLineChars bytes): the
// head when *next is 0, then the rows; its length, 0 after the last.
int topLine(int slot, int* next, uint32_t mono, char* out);

extern topState g_top;  // the fleet view's snapshots and answers

// Frees what g_top holds: program-start state.
void resetTop();

#endif  // QZUCON_APP_CTLTOP_H_
