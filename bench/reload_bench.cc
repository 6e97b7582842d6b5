// What a reload of a fleet's configuration costs the console: 10,000
// servers read again from their file, checked whole and applied, with 10
// added, 10 removed and 10 passwords changed (each iteration swaps between
// the two files, so every one has that difference), and with nothing
// changed. The loop stands still for this long while a reload runs.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/globals.h"
#include "app/log.h"
#include "app/reload.h"
#include "runtime/clock.h"
#include "runtime/sock.h"

namespace {

constexpr int kServers = 10000;
constexpr int kChanged = 10;  // added, removed and changed each

// A configuration of kServers servers; with `other`, the first kChanged are
// gone, kChanged new ones come at the end and the next kChanged have
// another password.
std::string writeIni(const std::string& dir, bool other) {
  std::string name = dir + (other ? "/b.ini" : "/a.ini");
  FILE* f = fopen(name.c_str(), "w");
  fprintf(f, "myaddr=127.0.0.1:24350\nalert=crash:segfault|core dumped\n");
  int first = other ? kChanged : 0, last = kServers + (other ? kChanged : 0);
  for (int i = first; i < last; i++) {
    bool changed = other && i < 2 * kChanged;
    fprintf(f, "server=127.0.%d.%d:28100\nlogin=admin\npassword=%s\ntag=eu,pvp\n", i / 250 + 1,
            i % 250 + 1, changed ? "rotated" : "pw");
  }
  fclose(f);
  return name;
}

void BM_Reload10000Servers(benchmark::State& state) {
  bool changes = state.range(0) != 0;
  char dir[] = "/tmp/qzbench-reload.XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    state.SkipWithError("no scratch folder");
    return;
  }
  std::string ini[2] = {"ini=" + writeIni(dir, false), "ini=" + writeIni(dir, true)};
  std::string logName = std::string("qzuconlog ") + dir + "/qzucon.log";
  char* argv[2][3];
  for (int k = 0; k < 2; k++) {
    argv[k][0] = const_cast<char*>("qzucon");
    argv[k][1] = const_cast<char*>(ini[k].c_str());
    argv[k][2] = const_cast<char*>(logName.c_str());
  }
  resetProgramState();
  g_noscreenlog = 1;
  trsock sock;
  sock.handle = trSocket(0);
  trBind(sock.handle, 0, "127.0.0.1");
  trNonblock(sock.handle);
  reloadNoteStart(3, argv[0], true);
  holdLog();
  reloadConfiguration(sock.handle, 1000, 1000, 0);  // the fleet, all added
  releaseLog();
  int k = 0;
  for (auto _ : state) {
    if (changes) k = 1 - k;
    reloadNoteStart(3, argv[k], true);
    holdLog();
    const reloadResult& r = reloadConfiguration(sock.handle, 2000, 2000, 0);
    releaseLog();
    if (!r.applied || flServer.nodes() != kServers) state.SkipWithError("not applied");
  }
  state.counters["servers"] = flServer.nodes();
  resetProgramState();
  std::string clean = std::string("rm -rf ") + dir;
  if (system(clean.c_str()) != 0) state.SkipWithError("scratch folder left");
}
BENCHMARK(BM_Reload10000Servers)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
