// What qzuconctl top costs: the console's answer to one "top" request over
// 10,000 servers (filter, sort, the rows of a screen), which the view asks
// for once a second; the snapshot of the line counts the console takes at
// most every 5 s; and the view's side of a refresh, the answer taken apart
// and the screen drawn by ncurses to a terminal that is /dev/null.
#include <benchmark/benchmark.h>
#include <curses.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/ctltop.h"
#include "app/globals.h"
#include "ctl/top.h"
#include "ctl/topview.h"
#include "runtime/text.h"

namespace {

constexpr int kFleet = 10000;

// n servers, a third tagged eu, us and asia each, with counts and lines.
void fleet(int n) {
  resetProgramState();
  strcpy(g_consoleLabel, "site");
  strcpy(g_myaddr, "10.0.0.1:24350");
  serverRec r;
  const char* tags[] = {"eu", "us", "asia"};
  for (int i = 0; i < n; i++) {
    memset(&r, 0, sizeof r);
    trf(r.ipPort, sizeof r.ipPort, "10.%d.%d.%d:27960", (i * 7919 % n) >> 16,
        ((i * 7919 % n) >> 8) & 255, (i * 7919 % n) & 255);  // not in address order
    strcpy(r.tags, tags[i % 3]);
    r.health.lines = 1234567 + i;
    r.health.commands = i % 5;
    r.health.lastLine = 1000 + i;
    r.health.sent = r.health.heard = r.health.challenged = r.health.answered = 1;
    flServer.add(&r);
  }
  topPass(1000);
  for (int i = 0; i < n; i++) serverAt(i)->health.lines += i % 97;
  topPass(31000);
}

// One request and its whole answer, as the console writes it.
void BM_TopAnswer(benchmark::State& state) {
  fleet(kFleet);
  const char* kArgs[] = {"address 0 46 *", "rate 0 46 *", "state 5000 46 *",
                         "last 0 46 * eu", "address 0 46 @us 10.0.1"};
  const char* args = kArgs[state.range(0)];
  char why[128], line[kTopLineChars];
  uint32_t mono = 32000;
  for (auto _ : state) {
    if (!topBegin(0, args, mono, why, sizeof why)) state.SkipWithError(why);
    int next = 0;
    while (topLine(0, &next, mono, line) > 0) {
    }
    benchmark::DoNotOptimize(line);
  }
  state.SetLabel(args);
  resetProgramState();
}
BENCHMARK(BM_TopAnswer)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

// The snapshot of every server's line count.
void BM_TopSnapshot(benchmark::State& state) {
  fleet(kFleet);
  uint32_t mono = 40000;
  for (auto _ : state) {
    topPass(mono);
    mono += kTopSnapMs;
  }
  resetProgramState();
}
BENCHMARK(BM_TopSnapshot)->Unit(benchmark::kMicrosecond);

// The view's refresh of a 100 x 50 terminal: a screen's answer taken apart
// and the screen drawn and put out, different figures each time.
void BM_TopViewRefresh(benchmark::State& state) {
  FILE* out = fopen("/dev/null", "w");
  FILE* in = fopen("/dev/null", "r");
  setenv("TERM", "xterm-256color", 1);
  if (!out || !in || !topScreenStart(in, out)) {
    state.SkipWithError("no terminal to draw on");
    return;
  }
  resizeterm(50, 100);
  static topScreen s;
  topModel m;
  std::vector<std::string> answer;
  char line[256];
  int n = 0;
  for (auto _ : state) {
    answer.clear();
    trf(line, sizeof line, "top %d 9990 %d 1234.5 %d 10.0.0.1:24350 site", kFleet, kFleet, n % 7);
    answer.emplace_back(line);
    for (int i = 0; i < topLayoutFor(50, m.pane).listRows; i++) {
      trf(line, sizeof line, "row 10.0.%d.%d:27960 confirmed %d %d 0 %d eu,pvp", i / 256, i % 256,
          (n + i) % 200, (n * 3 + i) % 90, i % 4);
      answer.emplace_back(line);
    }
    s.rowCount = 0;
    for (const std::string& a : answer) {
      if (!parseTopHead(a.c_str(), &s.head) && s.rowCount < kTopMaxRows &&
          parseTopRow(a.c_str(), &s.rows[s.rowCount])) {
        s.rowCount++;
      }
    }
    topSettle(&m, s.head.matched, topLayoutFor(50, m.pane).listRows);
    topDraw(m, s);
    n++;
  }
  topScreenEnd();
  fclose(out);
  fclose(in);
}
BENCHMARK(BM_TopViewRefresh)->Unit(benchmark::kMicrosecond);

}  // namespace
