// The alert rules' cost per server line, as the receive pass pays it
// (alertset::match: one scan for all rules, then the counts). An ordinary
// line against no rules, ten ordinary ones and 256; and single rules known
// to make a backtracking matcher take milliseconds, against lines of 1.47
// KB built to be their worst case. The figures are per line.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/alerts.h"
#include "app/triggers.h"

namespace {

// What qzload sends, and a server line of ordinary length.
const char* const kLines[] = {"load 123 4567 us",
                              "player7 [10.0.0.7] says: anyone up for a round on the new map?"};

// Ten rules as an operator writes them; none matches the lines above.
const char* const kOrdinary[] = {"oom:out of memory",
                                 "segv:Segmentation fault",
                                 "cheat:cheat(er|ing)? detected",
                                 "kick:kicked .* for",
                                 "crash:^CRASH",
                                 "drop:dro+p",
                                 "timeout:timed? ?out",
                                 "fatal:FATAL|PANIC",
                                 "ban:(ban|kick)ned",
                                 "err:[Ee]rror [0-9]+"};

void addRules(alertset* set, int n) {
  char why[160];
  for (int i = 0; i < n; i++) {
    // Past ten, the same rules again with a number of their own.
    std::string rule = kOrdinary[i % 10];
    if (i >= 10) rule.insert(rule.find(':'), std::to_string(i)), rule += " " + std::to_string(i);
    if (!set->add(rule.c_str(), why, sizeof why)) abort();
  }
}

void BM_AlertRulesPerLine(benchmark::State& state) {
  alertset set;
  addRules(&set, static_cast<int>(state.range(0)));
  const char* line = kLines[state.range(1)];
  const char* names[kAlertsMax];
  for (auto _ : state) {
    benchmark::DoNotOptimize(set.count() > 0 && set.match(0, line, names) > 0);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AlertRulesPerLine)->ArgNames({"rules", "line"})->ArgsProduct({{0, 10, 256}, {0, 1}});

// The ten rules with a trigger each (none of them matching the lines) or
// none: what on= adds to a line that matches nothing, as the receive pass
// runs it (the match, the note of a matching line, the look for commands
// to send once the line is done).
void BM_TriggersPerLine(benchmark::State& state) {
  alertset set;
  addRules(&set, 10);
  triggerset triggers;
  char why[160];
  for (int i = 0; i < state.range(0); i++) {
    std::string on = std::string(set.name(i)) + ":say seen";
    if (!triggers.add(set, on.c_str(), why, sizeof why)) abort();
  }
  const char* line = kLines[state.range(1)];
  uint32_t tick = 0;
  const char* names[kAlertsMax];
  int hits[kAlertsMax];
  for (auto _ : state) {
    int n = set.count() > 0 ? set.match(0, line, names, hits) : 0;
    if (n > 0) triggers.note(set, hits, n, 0, line);
    if (triggers.anyPending()) {
      benchmark::DoNotOptimize(triggers.decide(++tick));
      triggers.clearDecided();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TriggersPerLine)->ArgNames({"triggers", "line"})->ArgsProduct({{0, 10}, {0, 1}});

const char* const kHostileRules[] = {"a:(a|aa)+$", "s:\\s+$", "mail:\\w+@\\w+\\.com",
                                     "ms:[0-9]+ ms$", "words:(\\w+\\s*){1,100}$"};

// 1.47 KB lines that almost match: a run of one piece with the wrong end.
std::string hostileLine(int kind) {
  const char* const kPieces[] = {"a", " ", "abcdefghij ", "user", "123 "};
  const char* const kEnds[] = {"b", "x", "!", "@", "s"};
  std::string s;
  while (s.size() < 1469) s += kPieces[kind];
  s.resize(1469);
  return s + kEnds[kind];
}

// Each rule against every hostile line; the slowest line of each rule is
// its figure.
void BM_HostileLine(benchmark::State& state) {
  alertset set;
  char why[160];
  if (!set.add(kHostileRules[state.range(0)], why, sizeof why)) abort();
  std::string line = hostileLine(static_cast<int>(state.range(1)));
  const char* names[kAlertsMax];
  for (auto _ : state) {
    benchmark::DoNotOptimize(set.match(0, line.c_str(), names));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HostileLine)
    ->ArgNames({"rule", "line"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}});

}  // namespace
