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

const char* stdinModeName(int mode) {
  return mode == kStdinTty ? "tty" : mode == kStdinPipe ? "pipe" : "eof";
}

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

loadTally::loadTally(long count, int streams)
    : count_(count),
      sendUs_(static_cast<size_t>(count > 0 ? count : 0), -1),
      arriveUs_(static_cast<size_t>(count > 0 ? count : 0), -1),
      highest_(static_cast<size_t>(streams > 0 ? streams : 1), 0) {}

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
  long& highest = highest_[static_cast<size_t>(seq - 1) % highest_.size()];
  if (seq < highest) reordered_++;
  if (seq > highest) highest = seq;
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

// ---- Scripted batches ----

namespace {
// Line i of a batch, len characters with its line end: "script <i> " and
// letters. len must leave room for the prefix and the line end.
std::string batchLine(int i, int len) {
  std::string s = "script " + std::to_string(i + 1) + " ";
  for (int k = 0; static_cast<int>(s.size()) < len - 1; k++) s += static_cast<char>('a' + k % 26);
  return s + "\n";
}
}  // namespace

bool batchCommands(int n, int bytes, std::vector<std::string>* out) {
  out->clear();
  if (n < 1) return false;
  int base = bytes / n, longer = bytes % n;  // the first `longer` lines get one more
  int prefix = static_cast<int>(batchLine(n - 1, 0).size());
  if (base < prefix + 1 || base + (longer ? 1 : 0) > 256) return false;
  for (int i = 0; i < n; i++) out->push_back(batchLine(i, base + (i < longer ? 1 : 0)));
  return true;
}

int64_t longestGap(const std::vector<int64_t>& times, int64_t from, int64_t to) {
  int64_t longest = 0, last = from;
  for (int64_t t : times) {
    if (t <= from || t >= to) continue;
    longest = std::max(longest, t - last);
    last = t;
  }
  return std::max(longest, to - last);
}

// ---- Process figures ----

long long procCpuTicks(const char* statText) {
  // "pid (comm) state ..." - comm may hold blanks and parentheses, so the
  // fields are counted from the last ')'. utime and stime are fields 14 and
  // 15, the 12th and 13th after it.
  const char* p = strrchr(statText, ')');
  if (p == nullptr) return -1;
  p++;
  char tok[32];
  long long v[13];
  for (int i = 0; i < 13; i++) {
    if (!nextToken(&p, tok, sizeof tok)) return -1;
    v[i] = strtoll(tok, nullptr, 10);
  }
  return v[11] + v[12];
}

long long straceCalls(const char* summary, const char* name) {
  // "% time seconds usecs/call calls [errors] syscall": the errors column is
  // blank for calls that never failed, so the name is the last token.
  for (const char* line = summary; line != nullptr; line = nextLine(line)) {
    const char* p = line;
    char tok[6][40];
    int n = 0;
    while (n < 6 && nextToken(&p, tok[n], sizeof tok[n])) n++;
    if (n >= 5 && strcmp(tok[n - 1], name) == 0 && tok[3][0] >= '0' && tok[3][0] <= '9') {
      return strtoll(tok[3], nullptr, 10);
    }
  }
  return -1;
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
