// The load tool's pure parts: the line text, reading the console's log file,
// the tally and its figures, and the kernel's UDP counters. No clock, socket
// or file is touched here; texts and times come in as arguments.
#include "tools/load.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "runtime/text.h"

namespace {

// Reads a run of decimal digits at *p into *v and moves past it; false when
// there is no digit or the value overflows.
bool readDigits(const char** p, long long* v) {
  const char* s = *p;
  if (*s < '0' || *s > '9') return false;
  long long n = 0;
  for (; *s >= '0' && *s <= '9'; s++) {
    if (n > (INT64_MAX - 9) / 10) return false;
    n = n * 10 + (*s - '0');
  }
  *v = n;
  *p = s;
  return true;
}

// Skips blanks, then copies the next blank-delimited token of at most
// size-1 characters; false at the end of the line or for a longer token.
bool nextToken(const char** p, char* out, int size) {
  const char* s = *p;
  while (*s == ' ' || *s == '\t') s++;
  int n = 0;
  while (s[n] && s[n] != ' ' && s[n] != '\t' && s[n] != '\n') n++;
  if (n == 0 || n >= size) return false;
  memcpy(out, s, static_cast<size_t>(n));
  out[n] = 0;
  *p = s + n;
  return true;
}

// The next line of text after *p, or null at the end.
const char* nextLine(const char* p) {
  const char* nl = strchr(p, '\n');
  return nl ? nl + 1 : nullptr;
}

}  // namespace

int loadText(char* out, int size, long seq, int64_t sendUs) {
  return trf(out, size, "load %ld %" PRId64 "\n", seq, sendUs);
}

bool parseLoadLine(const char* line, long* seq, int64_t* sendUs) {
  // "[MM.DD.YYYY hh:mm:ss] " is 22 characters; the stamp itself is not checked
  // beyond its brackets, the marker after it is what matters.
  static const char kMarker[] = "] ->load ";
  if (line[0] != '[') return false;
  const char* p = strstr(line, kMarker);
  if (p == nullptr || p - line != 20) return false;
  p += sizeof kMarker - 1;
  long long s = 0, us = 0;
  if (!readDigits(&p, &s) || *p++ != ' ' || !readDigits(&p, &us) || *p != 0) return false;
  *seq = static_cast<long>(s);
  *sendUs = us;
  return true;
}

bool lineSplit::take(std::string* line) {
  size_t nl = pending_.find('\n', start_);
  if (nl == std::string::npos) {
    // Nothing whole is left: drop what was handed out so the buffer stays small.
    pending_.erase(0, start_);
    start_ = 0;
    return false;
  }
  line->assign(pending_, start_, nl - start_);
  start_ = nl + 1;
  return true;
}

// ---- loadTally ----

loadTally::loadTally(long count)
    : count_(count),
      sendUs_(static_cast<size_t>(count > 0 ? count : 0), -1),
      arriveUs_(static_cast<size_t>(count > 0 ? count : 0), -1) {}

void loadTally::sent(long seq, int64_t us) {
  if (seq >= 1 && seq <= count_) sendUs_[seq - 1] = us;
}

void loadTally::sendFailed(long seq) {
  if (seq >= 1 && seq <= count_) sendErrors_++;
}

void loadTally::seen(long seq, int64_t namedUs, int64_t us) {
  if (seq < 1 || seq > count_ || sendUs_[seq - 1] < 0 || sendUs_[seq - 1] != namedUs) {
    foreign_++;
    return;
  }
  if (arriveUs_[seq - 1] >= 0) {
    duplicates_++;
    return;
  }
  arriveUs_[seq - 1] = us;
  arrived_++;
  if (seq < highest_) reordered_++;
  if (seq > highest_) highest_ = seq;
}

loadResult loadTally::result() const {
  loadResult r;
  r.sent = 0;
  std::vector<int64_t> delays;
  for (long i = 0; i < count_; i++) {
    if (sendUs_[i] >= 0) r.sent++;
    if (arriveUs_[i] >= 0) delays.push_back(arriveUs_[i] - sendUs_[i]);
  }
  r.sent += sendErrors_;
  r.sendErrors = sendErrors_;
  r.arrived = arrived_;
  r.lost = r.sent - arrived_;
  r.reordered = reordered_;
  r.duplicates = duplicates_;
  r.foreign = foreign_;
  r.medianUs = nearestRank(&delays, 50);
  r.p99Us = nearestRank(&delays, 99);
  r.worstUs = nearestRank(&delays, 100);
  return r;
}

namespace {
// Milliseconds to one decimal, or "-" for a missing delay.
const char* msText(int64_t us, char* out, int size) {
  if (us < 0) {
    trf(out, size, "-");
  } else {
    trf(out, size, "%.1f", static_cast<double>(us) / 1000.0);
  }
  return out;
}
}  // namespace

int resultRow(char* out, int size, const char* label, const char* stdinMode, const loadResult& r) {
  char med[32], p99[32], worst[32];
  return trf(out, size, "| %s | %s | %ld | %ld | %ld | %ld | %s | %s | %s |", label, stdinMode,
             r.sent, r.arrived, r.lost, r.reordered, msText(r.medianUs, med, sizeof med),
             msText(r.p99Us, p99, sizeof p99), msText(r.worstUs, worst, sizeof worst));
}

int64_t nearestRank(std::vector<int64_t>* values, int pct) {
  if (values->empty()) return -1;
  std::sort(values->begin(), values->end());
  size_t n = values->size();
  size_t rank = (n * static_cast<size_t>(pct) + 99) / 100;  // ceil(pct% of n)
  if (rank < 1) rank = 1;
  return (*values)[rank - 1];
}

// ---- Kernel counters ----

long long snmpRcvbufErrors(const char* text) {
  // Two "Udp:" lines: the counter names, then their values in the same order.
  const char* names = strncmp(text, "Udp: ", 5) == 0 ? text : strstr(text, "\nUdp: ");
  if (names == nullptr) return -1;
  if (names[0] == '\n') names++;
  const char* values = nextLine(names);
  if (values == nullptr || strncmp(values, "Udp: ", 5) != 0) return -1;
  const char* n = names + 5;
  const char* v = values + 5;
  char name[64], value[32];
  while (nextToken(&n, name, sizeof name) && nextToken(&v, value, sizeof value)) {
    if (strcmp(name, "RcvbufErrors") == 0) return strtoll(value, nullptr, 10);
  }
  return -1;
}

bool udpSocketStats(const char* text, int port, long* rxQueue, long long* drops) {
  // "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops"
  // with addresses and queues in hexadecimal and the drops in decimal.
  for (const char* line = nextLine(text); line != nullptr; line = nextLine(line)) {
    const char* p = line;
    char tok[13][40];
    int n = 0;
    while (n < 13 && nextToken(&p, tok[n], sizeof tok[n])) n++;
    if (n < 13) continue;
    const char* colon = strchr(tok[1], ':');
    if (colon == nullptr || strtol(colon + 1, nullptr, 16) != port) continue;
    const char* rx = strchr(tok[4], ':');
    if (rx == nullptr) continue;
    *rxQueue = strtol(rx + 1, nullptr, 16);
    *drops = strtoll(tok[12], nullptr, 10);
    return true;
  }
  return false;
}
