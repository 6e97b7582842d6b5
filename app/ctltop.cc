// The fleet view's answer: the snapshot ring, the filter and sort of the
// servers, and the head and row lines.
#include "app/ctltop.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alerts.h"
#include "app/globals.h"
#include "ctlproto/words.h"
#include "fleet/tags.h"
#include "protocol/health.h"
#include "runtime/mem.h"
#include "runtime/text.h"

topState g_top;

namespace {

constexpr uint32_t kMinuteMs = 60000;
constexpr uint32_t kAlertSpanMs = 300000;

// An address as a number that sorts as the address does: the dotted IPv4
// above the port. One that is no such address sorts after all of them.
uint64_t addressKey(const char* ipPort) {
  uint64_t key = 0;
  const char* p = ipPort;
  for (int part = 0; part < 5; part++) {
    unsigned v = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9' && digits < 6; p++, digits++) v = v * 10 + (*p - '0');
    char want = part < 3 ? '.' : part == 3 ? ':' : 0;
    if (digits == 0 || *p != want || v > (part < 4 ? 255u : 65535u)) return ~uint64_t{0};
    key = (key << (part < 4 ? 8 : 16)) | v;
    if (want) p++;
  }
  return key;
}

// Room for a snapshot of n servers; false when memory is short.
bool ringFor(int n) {
  if (g_top.servers == n && (n == 0 || g_top.lines)) return true;
  trFree(g_top.lines, "top");
  trFree(g_top.keys, "top");
  g_top.lines = nullptr;
  g_top.keys = nullptr;
  g_top.servers = 0;
  g_top.snapCount = g_top.snapNext = 0;
  if (n == 0) return true;
  g_top.lines = static_cast<uint32_t*>(trAlloc(sizeof(uint32_t) * kTopSnaps * n, "top"));
  g_top.keys = static_cast<uint64_t*>(trAlloc(sizeof(uint64_t) * n, "top"));
  if (!g_top.lines || !g_top.keys) {
    trFree(g_top.lines, "top");
    trFree(g_top.keys, "top");
    g_top.lines = nullptr;
    g_top.keys = nullptr;
    return false;
  }
  g_top.servers = n;
  // The addresses are set when a server is configured: read once per list.
  for (int i = 0; i < n; i++) g_top.keys[i] = addressKey(serverAt(i)->ipPort);
  return true;
}

void snapshot(uint32_t mono) {
  int n = flServer.nodes();
  if (!ringFor(n)) return;
  topTotal t = {mono, n, 0, g_alerts.total()};
  uint32_t* row = g_top.lines + static_cast<size_t>(g_top.snapNext) * n;
  for (int i = 0; i < n; i++) {
    const serverRec* r = serverAt(i);
    row[i] = static_cast<uint32_t>(r->health.lines);
    t.lines += r->health.lines;
  }
  g_top.snaps[g_top.snapNext] = t;
  g_top.snapNext = (g_top.snapNext + 1) % kTopSnaps;
  if (g_top.snapCount < kTopSnaps) g_top.snapCount++;
  g_top.totals[g_top.totalNext] = t;
  g_top.totalNext = (g_top.totalNext + 1) % kTopTotals;
  if (g_top.totalCount < kTopTotals) g_top.totalCount++;
}

// The slot of the oldest snapshot at most a minute old; -1 when none.
int minuteAgo(uint32_t mono) {
  for (int k = g_top.snapCount; k > 0; k--) {
    int slot = (g_top.snapNext - k + kTopSnaps) % kTopSnaps;
    if (mono - g_top.snaps[slot].mono <= kMinuteMs) return slot;
  }
  return -1;
}

// Lines of server i since snapshot slot (the snapshot's count is 32 bits).
uint32_t linesSince(int slot, int i) {
  if (slot < 0) return 0;
  const serverRec* r = serverAt(i);
  return static_cast<uint32_t>(r->health.lines) -
         g_top.lines[static_cast<size_t>(slot) * g_top.servers + i];
}

// Alerts of server i, every rule's.
uint64_t alertsOf(int i) {
  uint64_t n = 0;
  for (int a = 0; a < g_alerts.count(); a++) n += g_alerts.hits(a, i);
  return n;
}

// Milliseconds since server i's last line; the largest value when it has sent none.
uint32_t sinceLast(int i, uint32_t mono) {
  const serverHealth& h = serverAt(i)->health;
  return h.lines == 0 ? ~uint32_t{0} : mono - h.lastLine;
}

struct item {
  uint64_t k1, k2;
  int idx;
  bool operator<(const item& o) const {
    if (k1 != o.k1) return k1 < o.k1;
    if (k2 != o.k2) return k2 < o.k2;
    return idx < o.idx;
  }
};

bool itemsFor(int n) {
  if (n <= g_top.itemCap) return true;
  void* p = trAlloc(sizeof(item) * n, "top");
  if (!p) return false;
  trFree(g_top.items, "top");
  g_top.items = p;
  g_top.itemCap = n;
  return true;
}

// Room for n rows in a client's answer; false (the old room kept) when
// memory is short.
bool rowsFor(topAnswer* a, int n) {
  if (n <= a->cap) return true;
  int* rows = static_cast<int*>(trAlloc(sizeof(int) * n, "top"));
  if (!rows) return false;
  trFree(a->rows, "top");
  a->rows = rows;
  a->cap = n;
  return true;
}

// Whether server r passes filter (lower case): it is part of its address,
// of its tags or of its state, as word or as people read it.
bool passes(const serverRec* r, const char* state, const char* filter) {
  if (!filter[0]) return true;
  return strcasestr(r->ipPort, filter) || strcasestr(r->tags, filter) ||
         strcasestr(state, filter) || strcasestr(stateTextOf(state).text, filter);
}

}  // namespace

void topPass(uint32_t mono) {
  int latest = (g_top.snapNext - 1 + kTopSnaps) % kTopSnaps;
  if (g_top.snapCount > 0 && g_top.servers == flServer.nodes() &&
      mono - g_top.snaps[latest].mono < kTopSnapMs) {
    return;
  }
  snapshot(mono);
}

bool topBegin(int slot, const char* args, uint32_t mono, char* why, int whySize) {
  char sortWord[16], target[kTagListChars + 3];
  int offset = 0, count = 0, used = 0;
  if (sscanf(args, "%15s %d %d %*s%n", sortWord, &offset, &count, &used) != 3 || used == 0 ||
      offset < 0 || count < 0) {
    trf(why, whySize, "usage: top SORT OFFSET COUNT TARGET [FILTER]");
    return false;
  }
  // TARGET: the word before `used`.
  const char* t = args + used;
  while (t > args && t[-1] != ' ') t--;
  strzcpy(target, t, std::min<int>(static_cast<int>(args + used - t), sizeof target - 1));
  int sort = topSortOf(sortWord);
  if (sort < 0) {
    trf(why, whySize, "unknown order %s: address, state, rate or last", sortWord);
    return false;
  }
  const char* tags = targetTags(target);
  if (!tags && strcmp(target, kTargetAll) != 0) {
    trf(why, whySize, "the target of top is * or @TAGS");
    return false;
  }
  const char* filter = args + used;
  while (*filter == ' ') filter++;
  int n = flServer.nodes();
  topPass(mono);  // a list that changed is snapshot again before its keys are read
  topAnswer& a = g_top.answers[slot];
  if (!itemsFor(n) || !rowsFor(&a, n)) {
    trf(why, whySize, "out of memory");
    return false;
  }
  int since = g_top.servers == n ? minuteAgo(mono) : -1;
  item* items = static_cast<item*>(g_top.items);
  int matched = 0;
  a.up = 0;
  for (int i = 0; i < n; i++) {
    const serverRec* r = serverAt(i);
    if (serverUp(r, mono)) a.up++;
    if (tags && !tagListsMeet(r->tags, tags)) continue;
    const char* state = linkWord(r);
    if (!passes(r, state, filter)) continue;
    uint64_t key = g_top.servers == n ? g_top.keys[i] : 0;
    item& e = items[matched++];
    e.idx = i;
    e.k2 = key;
    switch (sort) {
      case 1:
        e.k1 = static_cast<uint64_t>(stateTextOf(state).rank);
        break;
      case 2:
        e.k1 = ~uint64_t{linesSince(since, i)};
        break;
      case 3:
        e.k1 = sinceLast(i, mono);
        break;
      default:
        e.k1 = key;
        e.k2 = 0;
    }
  }
  a.matched = matched;
  a.first = std::min(offset, matched);
  a.count = std::min(count, matched - a.first);
  // Only the window is put in order: the screen's rows of ten thousand.
  std::partial_sort(items, items + a.first + a.count, items + matched);
  for (int k = 0; k < a.count; k++) a.rows[k] = items[a.first + k].idx;
  return true;
}

int topLine(int slot, int* next, uint32_t mono, char* out) {
  const topAnswer& a = g_top.answers[slot];
  int n = flServer.nodes();
  if (*next == 0) {
    ++*next;
    int since = g_top.servers == n ? minuteAgo(mono) : -1;
    uint64_t lines = 0;
    for (int i = 0; i < n; i++) lines += serverAt(i)->health.lines;
    double perSec = 0;
    if (since >= 0 && mono - g_top.snaps[since].mono >= 1000) {
      perSec = static_cast<double>(lines - g_top.snaps[since].lines) * 1000.0 /
               (mono - g_top.snaps[since].mono);
    }
    uint64_t alerts = g_alerts.total();
    for (int k = g_top.totalCount; k > 0; k--) {
      const topTotal& t = g_top.totals[(g_top.totalNext - k + kTopTotals) % kTopTotals];
      if (mono - t.mono <= kAlertSpanMs) {
        alerts -= std::min(alerts, t.alerts);
        break;
      }
    }
    return trf(out, kTopLineChars, "%s %d %d %d %.1f %llu %s %s\n", kAnsTop, a.matched, a.up, n,
               perSec, static_cast<unsigned long long>(alerts), g_myaddr[0] ? g_myaddr : "-",
               g_consoleLabel);
  }
  int k = *next - 1;
  for (; k < a.count; k++) {
    int i = a.rows[k];
    if (i < n) break;  // a server since removed is left out
  }
  if (k >= a.count) return 0;
  *next = k + 2;
  int i = a.rows[k];
  const serverRec* r = serverAt(i);
  int since = g_top.servers == n ? minuteAgo(mono) : -1;
  uint32_t last = sinceLast(i, mono);
  char age[16] = "-";
  if (last != ~uint32_t{0}) trf(age, sizeof age, "%u", last / 1000);
  return trf(out, kTopLineChars, "%s %s %s %u %s %llu %llu %s\n", kAnsRow, r->ipPort, linkWord(r),
             linesSince(since, i), age, static_cast<unsigned long long>(alertsOf(i)),
             static_cast<unsigned long long>(r->health.commands), r->tags);
}

void resetTop() {
  trFree(g_top.lines, "top");
  trFree(g_top.keys, "top");
  trFree(g_top.items, "top");
  for (topAnswer& a : g_top.answers) trFree(a.rows, "top");
  g_top = topState();
}
