// What the heartbeats cost a fleet's console: one second of passes (1,000
// of them, 1 ms apart, as a busy console runs them) over 1,000 servers,
// while they talk (a heartbeat each every 30 s) and while every one of them
// is silent and probed every 2 s: the walks over the list and the packets.
#include <benchmark/benchmark.h>

#include <cstring>

#include "app/globals.h"
#include "protocol/outbound.h"
#include "runtime/sock.h"
#include "runtime/text.h"

namespace {

constexpr uint32_t kTick0 = 5000000;  // any tick; the monotonic clock runs beside it
constexpr uint32_t kMono0 = 7000000;

// n servers at one loopback sink that is never read (the kernel drops what
// does not fit its queue), their heartbeats spread over the interval they
// are in, as servers that came up at different times have them.
void fleet(int n, int sinkPort, bool silent) {
  resetProgramState();
  serverRec r;
  int32_t gap = silent ? kProbeMs : kHeartbeatMs;
  for (int i = 0; i < n; i++) {
    memset(&r, 0, sizeof r);
    trf(r.ipPort, sizeof r.ipPort, "127.0.0.1:%d", sinkPort);
    strzcpy(r.password, "pw", kServerPasswordChars);
    r.lastSend = kTick0 - static_cast<uint32_t>(int64_t{gap} * i / n) - 1;
    r.health.sent = r.health.heard = r.health.challenged = r.health.answered = 1;
    r.health.lastHeard = kMono0;
    flServer.add(&r);
  }
}

void BM_HeartbeatsOneSecond1000Servers(benchmark::State& state) {
  bool silent = state.range(0) != 0;
  trsock console, sink;
  console.handle = trSocket(0);
  sink.handle = trSocket(0);
  if (trBind(console.handle, 0, "127.0.0.1") != 0 || trBind(sink.handle, 0, "127.0.0.1") != 0) {
    state.SkipWithError("no loopback sockets");
    return;
  }
  trNonblock(console.handle);
  trRecvErrors(console.handle);
  fleet(1000, trSockPort(sink.handle), silent);
  uint32_t tick = kTick0, mono = kMono0;
  uint64_t before = 0;
  for (int i = 0; i < flServer.nodes(); i++) before += serverAt(i)->health.heartbeats;
  for (auto _ : state) {
    // Talking servers were heard a moment ago; silent ones 20 s ago, well
    // within the time they are probed for.
    for (int i = 0; i < flServer.nodes(); i++) {
      serverAt(i)->health.lastHeard = silent ? mono - 20000 : mono;
    }
    for (int pass = 0; pass < 1000; pass++) {
      checkHeartbeat(console.handle, ++tick, ++mono);
    }
  }
  uint64_t after = 0;
  for (int i = 0; i < flServer.nodes(); i++) after += serverAt(i)->health.heartbeats;
  state.counters["heartbeats_per_s"] =
      static_cast<double>(after - before) / static_cast<double>(state.iterations());
  resetProgramState();
}
BENCHMARK(BM_HeartbeatsOneSecond1000Servers)
    ->ArgName("silent")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
