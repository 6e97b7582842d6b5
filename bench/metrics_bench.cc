// What the metrics file costs a fleet's console: making and writing the
// whole text for 10,000 servers (temporary file, chmod, writes, rename), as
// the console does at most every 5 s, and the digest it takes every 5 s to
// learn whether anything changed at all.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/globals.h"
#include "app/metrics.h"
#include "runtime/text.h"

namespace {

// n servers with counts of the size a day brings.
void fleet(int n) {
  resetProgramState();
  strcpy(g_consoleLabel, "site");
  serverRec r;
  for (int i = 0; i < n; i++) {
    memset(&r, 0, sizeof r);
    trf(r.ipPort, sizeof r.ipPort, "10.%d.%d.%d:27960", i >> 16, (i >> 8) & 255, i & 255);
    r.health.lines = 1234567 + i;
    r.health.bytes = 98765432 + i;
    r.health.heartbeats = 2880;
    r.health.challenges = 3;
    r.health.lastLine = 1000;
    r.health.sent = r.health.heard = r.health.challenged = r.health.answered = 1;
    flServer.add(&r);
  }
}

metricsFigures figures() {
  metricsFigures f;
  f.startMs = 1765432100250;
  f.wallMs = 1765518500000;
  f.mono = 1500;
  return f;
}

void BM_MetricsFile(benchmark::State& state) {
  fleet(static_cast<int>(state.range(0)));
  std::string path = std::string(P_tmpdir) + "/qzbench-" + std::to_string(getpid()) + ".prom";
  metricsFigures f = figures();
  for (auto _ : state) {
    if (writeMetricsFile(path.c_str(), f) != 0) state.SkipWithError("cannot write the file");
  }
  FILE* file = fopen(path.c_str(), "r");
  if (file) {
    fseek(file, 0, SEEK_END);
    state.counters["bytes"] = static_cast<double>(ftell(file));
    fclose(file);
  }
  unlink(path.c_str());
  resetProgramState();
}
BENCHMARK(BM_MetricsFile)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_MetricsDigest(benchmark::State& state) {
  fleet(static_cast<int>(state.range(0)));
  metricsFigures f = figures();
  for (auto _ : state) benchmark::DoNotOptimize(metricsDigest(f));
  resetProgramState();
}
BENCHMARK(BM_MetricsDigest)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
