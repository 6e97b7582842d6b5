// qzload: the rate runs and the idle run around the load tally. One thread
// does everything in short steps: send the lines that are due, read what the
// console has appended to its per-server log file, now and then sample the
// console socket's queue, sleep. The scripted batch is load_script.cc.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "runtime/clock.h"
#include "runtime/signals.h"
#include "runtime/sock.h"
#include "runtime/text.h"
#include "support/proc.h"
#include "tools/load.h"
#include "tools/load_run.h"

namespace {

constexpr int kSampleMs = 10;       // between looks at the socket's queue
// With --senders the kernel's table holds a thousand sockets more, and
// reading it every 10 ms would cost the tool a tenth of its time.
constexpr int kSampleManyMs = 100;
constexpr int kAliveCheckMs = 100;  // between checks that the console still runs
constexpr int kSenderTries = 100;   // sockets opened for one sender's own port
constexpr int kSweepMs = 500;       // between looks at every file of --senders
constexpr int kPollMs = 20;         // the same with --poll
constexpr int kWarmUpMs = 120000;   // for every sender's file to appear (a file can take 1 ms)
constexpr int kSettleMs = 2000;     // after the start, before an idle console is measured
constexpr int kProcTextSize = 1 << 20;  // a line of 128 bytes for each of 2,000 sockets and more

long long rcvbufErrorsNow() {
  static char text[kProcTextSize];
  return readText("/proc/net/snmp", text, sizeof text) ? snmpRcvbufErrors(text) : -1;
}

// Queue bytes and drops of the console's socket; false when not visible.
bool consoleSocket(int port, long* rx, long long* drops) {
  static char text[kProcTextSize];
  return readText("/proc/net/udp", text, sizeof text) && udpSocketStats(text, port, rx, drops);
}

void sampleQueue(runState* s) {
  long rx = 0;
  long long drops = 0;
  if (!consoleSocket(s->o->consolePort, &rx, &drops)) return;
  s->sawSocket = true;
  if (rx > s->peakRx) s->peakRx = rx;
}

// True while the run goes on: lines still to send, or lines still missing
// and the time after the last send not up - and the console still there.
bool goingOn(runState* s, consoleProc* c, int64_t* nextAliveMs) {
  if (c->pid >= 0 && trMonoMsWide() >= *nextAliveMs) {
    *nextAliveMs = trMonoMsWide() + kAliveCheckMs;
    if (!consoleRunning(c)) {
      fprintf(stderr, "qzload: error the console ended during the run\n");
      return false;
    }
  }
  if (s->next <= s->o->count) return true;
  if (s->tally->complete()) return false;
  return trMonoUs() - s->startUs - s->lastSendUs <= int64_t(s->o->timeoutMs) * 1000;
}

// One server's file, or (many) the files of --senders.
void readArrivals(runState* s, fileFollower* one, senderFiles* many, bool all) {
  if (!many) return readArrivals(s, one);
  if (all) return readAllArrivals(s, many);
  readArrivals(s, many);
}

void run(runState* s, fileFollower* f, senderFiles* many, consoleProc* c) {
  int64_t nextSampleMs = 0, nextAliveMs = 0, nextSweepMs = 0;
  s->startUs = trMonoUs();
  while (goingOn(s, c, &nextAliveMs)) {
    sendDue(s);
    bool sweep = trMonoMsWide() >= nextSweepMs;
    if (sweep) nextSweepMs = trMonoMsWide() + (s->o->poll ? kPollMs : kSweepMs);
    readArrivals(s, f, many, sweep);
    if (trMonoMsWide() >= nextSampleMs) {
      sampleQueue(s);
      nextSampleMs = trMonoMsWide() + (s->o->senders > 1 ? kSampleManyMs : kSampleMs);
    }
    trSleepUs(kStepUs);
  }
  readArrivals(s, f, many, true);
}

// The kernel's counters and the console's CPU time around a run: -1 where
// one cannot be read.
struct counters {
  long long rcvbufErrors = -1;
  long long socketDrops = -1;
  double cpuMs = -1;
};

counters countersNow(int consolePort, const consoleProc& c) {
  counters n;
  n.rcvbufErrors = rcvbufErrorsNow();
  long rx = 0;
  if (!consoleSocket(consolePort, &rx, &n.socketDrops)) n.socketDrops = -1;
  n.cpuMs = consoleCpuMs(c);
  return n;
}

// CPU time of the console over the run, and per line that arrived; -1 when
// not known.
void cpuFigures(const counters& before, const counters& after, long arrived, double* ms,
                double* usPerLine) {
  bool known = before.cpuMs >= 0 && after.cpuMs >= 0;
  *ms = known ? after.cpuMs - before.cpuMs : -1;
  *usPerLine = known && arrived > 0 ? *ms * 1000.0 / static_cast<double>(arrived) : -1;
}

void report(const runState& s, const counters& before, const counters& after, int64_t elapsedUs) {
  const loadOptions& o = *s.o;
  loadResult r = s.tally->result();
  long long drops = before.socketDrops >= 0 && after.socketDrops >= 0
                        ? after.socketDrops - before.socketDrops
                        : -1;
  double cpuMs, cpuPerLine;
  cpuFigures(before, after, r.arrived, &cpuMs, &cpuPerLine);
  const char* mode = o.attach ? "attached" : stdinModeName(o.stdinMode);
  printf(
      "qzload: result label=%s stdin=%s rate=%g servers=%d senders=%d sent=%ld arrived=%ld lost=%ld"
      " reordered=%ld duplicates=%ld foreign=%ld send_errors=%ld median_us=%" PRId64
      " p99_us=%" PRId64 " worst_us=%" PRId64
      " rcvbuf_errors_before=%lld"
      " rcvbuf_errors_after=%lld socket_drops=%lld peak_rx_queue=%ld console_cpu_ms=%.0f"
      " cpu_us_per_line=%.2f last_send_ms=%.1f elapsed_ms=%" PRId64 "\n",
      o.label, mode, o.rate, o.servers, o.senders, r.sent, r.arrived, r.lost, r.reordered,
      r.duplicates, r.foreign, r.sendErrors, r.medianUs, r.p99Us, r.worstUs, before.rcvbufErrors,
      after.rcvbufErrors, drops, s.sawSocket ? s.peakRx : -1L, cpuMs, cpuPerLine,
      static_cast<double>(s.lastSendUs) / 1000.0, elapsedUs / 1000);
  char row[512];
  resultRow(row, sizeof row, o.label[0] ? o.label : "load", mode, r);
  printf("%s\n", row);
  fflush(stdout);
}

// The system calls strace counted over the console's whole life, per line
// that arrived: all of them, and those of the line path and the pass.
void reportSyscalls(const loadOptions& o, long arrived) {
  static char text[kProcTextSize];
  std::string path = std::string(o.dir) + "/strace.txt";
  if (arrived <= 0 || !readText(path.c_str(), text, sizeof text) ||
      straceCalls(text, "total") < 0) {
    fprintf(stderr, "qzload: error no system call summary in %s\n", path.c_str());
    return;
  }
  const char* const names[] = {"total",    "recvfrom",        "recvmmsg",   "write",
                               "writev",   "openat",          "close",      "poll",
                               "pselect6", "clock_nanosleep", "newfstatat", "lseek"};
  printf("qzload: syscalls lines=%ld", arrived);
  for (const char* n : names) {
    long long calls = straceCalls(text, n);
    double perLine = calls < 0 ? 0.0 : static_cast<double>(calls) / static_cast<double>(arrived);
    printf(" %s=%.3f", n, perLine);
  }
  printf("\n");
  fflush(stdout);
}

// A socket on a free port that none of ours has: the sockets reuse
// addresses, so the kernel may hand out a port one of them holds already
// (or the one the console is to bind).
// Those it refused wait in spare until all are open, so none comes back.
bool openSender(loadOptions* o, std::set<int>* ports, trsock* t, std::vector<int>* spare) {
  for (int tries = 0; tries < kSenderTries; tries++) {
    loadOptions any = *o;
    any.serverPort = 0;
    t->handle = openServerSocket(&any);
    if (!t->valid()) return false;
    if (ports->insert(any.serverPort).second) return true;
    spare->push_back(t->handle);
    t->handle = -1;
  }
  return false;
}

// The sockets of --senders beyond the first (sock), and every sender's port.
bool openSenders(loadOptions* o, int sock, std::vector<trsock>* extra, runState* s,
                 consoleProc* c) {
  *extra = std::vector<trsock>(static_cast<size_t>(o->senders - 1));
  // Nor the console's own: it binds after these, and would share it.
  std::set<int> ports = {o->serverPort, o->consolePort};
  std::vector<int> spare;
  s->socks.push_back(sock);
  c->senderPorts.push_back(o->serverPort);
  bool ok = true;
  for (size_t i = 0; ok && i < extra->size(); i++) {
    trsock& t = (*extra)[i];
    ok = openSender(o, &ports, &t, &spare);
    if (!ok) break;
    s->socks.push_back(t.handle);
    c->senderPorts.push_back(trSockPort(t.handle));
  }
  for (int h : spare) trClosesocket(h);
  if (!ok) fprintf(stderr, "qzload: error cannot open %d sockets\n", o->senders);
  return ok;
}

int measure(loadOptions* o, int sock) {
  consoleProc c;
  loadTally tally(o->count, o->senders);
  runState s(o, sock, &tally);
  std::vector<trsock> extra;
  if (o->senders > 1 && !openSenders(o, sock, &extra, &s, &c)) return 3;
  if (!o->attach && !startConsole(*o, {}, &c)) {
    stopConsole(&c);
    return 3;
  }
  fprintf(stderr, "qzload: console=127.0.0.1:%d server=127.0.0.1:%d dir=%s pid=%d\n",
          o->consolePort, o->serverPort, o->dir, c.console);
  if (o->senders > 1 && !warmUp(&s, c.senderPorts, kWarmUpMs)) {
    fprintf(stderr, "qzload: error not every server's file appeared after its first line\n");
    stopConsole(&c);
    return 3;
  }
  fileFollower f;
  senderFiles many;
  followServerFile(*o, &f);
  if (o->senders > 1 && !many.follow(*o, c.senderPorts)) {
    fprintf(stderr, "qzload: error cannot watch %s\n", o->dir);
    stopConsole(&c);
    return 3;
  }
  counters before = countersNow(o->consolePort, c);
  int64_t t0 = trMonoUs();
  run(&s, &f, o->senders > 1 ? &many : nullptr, &c);
  counters after = countersNow(o->consolePort, c);
  report(s, before, after, trMonoUs() - t0);
  stopConsole(&c);
  loadResult r = tally.result();
  if (o->strace[0]) reportSyscalls(*o, r.arrived);
  return r.lost == 0 && r.reordered == 0 && r.duplicates == 0 ? 0 : 1;
}

// The console's CPU time while nothing comes in: after it has settled, over
// o->idleSecs seconds.
int measureIdle(loadOptions* o) {
  consoleProc c;
  bool ok = startConsole(*o, {}, &c) && idleWhileRunning(&c, kSettleMs);
  double before = consoleCpuMs(c);
  ok = ok && before >= 0 && idleWhileRunning(&c, o->idleSecs * 1000);
  double after = consoleCpuMs(c);
  stopConsole(&c);
  if (!ok || after < 0) {
    fprintf(stderr, "qzload: error the console ended or its CPU time could not be read\n");
    return 3;
  }
  double pct = (after - before) / (o->idleSecs * 10.0);  // ms over s*1000, in %
  const char* mode = stdinModeName(o->stdinMode);
  printf("qzload: idle label=%s stdin=%s seconds=%d servers=%d cpu_ms=%.0f cpu_pct=%.3f\n",
         o->label, mode, o->idleSecs, o->servers, after - before, pct);
  printf("| %s | %s | %.3f %% |\n", o->label[0] ? o->label : "idle", mode, pct);
  fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  loadOptions o;
  char err[300];
  int r = parseLoadArgs(argc, argv, &o, err, sizeof err);
  if (r != 0) {
    fputs(loadUsage(), r > 0 ? stdout : stderr);
    if (r < 0) fprintf(stderr, "qzload: error %s\n", err);
    return r > 0 ? 0 : 2;
  }
  trIgnoreBrokenPipe();
  if (!o.attach && !prepare(&o)) return 3;
  trsock sock;
  sock.handle = openServerSocket(&o);
  if (!sock.valid()) return 3;
  if (o.idleSecs > 0) return measureIdle(&o);
  if (o.script != kScriptNone) return runScript(&o, sock.handle);
  return measure(&o, sock.handle);
}
