// qzload's scripted batch: while the server's lines flow to the console at a
// steady rate, a script on the same host makes the tool's server the active
// one and then sends a batch of commands through the console's local TCP or
// UDP input at once. Measured: how long until every command has reached the
// server, and the longest time meanwhile in which no line reached the file.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/sock.h"
#include "runtime/text.h"
#include "support/proc.h"
#include "tools/load.h"
#include "tools/load_run.h"
#include "tools/standin.h"

namespace {

constexpr int kListenWaitMs = 5000;    // for the local input's announcement
constexpr int kActiveWaitMs = 30000;   // for the console to take "qzuconactive"
constexpr int kWarmMs = 1000;          // lines flowing before the batch
constexpr int kBatchWaitMs = 120000;   // for the batch to reach the server
constexpr int kWindowMs = 2000;        // shortest stretch the gap is looked for in
constexpr int kTailMs = 500;           // arrivals still taken after it

struct scriptRun {
  const loadOptions* o;
  runState* s;
  consoleProc* c;
  fileFollower* f;
  trsock local;     // our connection to the console's local input, or UDP socket
  int localPort = -1;
  std::vector<std::string> batch;
  size_t reached = 0;   // commands of the batch that reached us, in order
  int64_t doneUs = -1;  // when the last of them did (us from the start)
};

int64_t nowUs(const scriptRun& r) { return trMonoUs() - r.s->startUs; }

// Takes the console's packets to the server; counts the batch's commands.
void takeCommands(scriptRun* r) {
  static unsigned char pkt[kMaxDatagramSize + 1];
  static consolePacket p;
  for (;;) {
    sockaddr_in from;
    int len = sizeof from;
    int n = trRecvfrom(r->s->sock, reinterpret_cast<char*>(pkt), kMaxDatagramSize,
                       reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) return;
    if (parseConsolePacket(pkt, n, "", &p) != kPacketCommand || r->reached >= r->batch.size()) {
      continue;
    }
    const std::string& want = r->batch[r->reached];
    if (want.compare(0, want.size() - 1, p.command) != 0) continue;  // without its '\n'
    if (++r->reached == r->batch.size()) r->doneUs = nowUs(*r);
  }
}

// Lines out, arrivals in and commands back, for ms.
void flowFor(scriptRun* r, int ms) {
  for (int64_t end = trMonoMsWide() + ms; trMonoMsWide() < end; trSleepUs(kStepUs)) {
    sendDue(r->s);
    readArrivals(r->s, r->f);
    takeCommands(r);
  }
}

bool sendLocal(scriptRun* r, const std::string& text) {
  if (r->o->script == kScriptUdp) {
    char dest[kAddrTextSize];
    trf(dest, sizeof dest, "127.0.0.1:%d", r->localPort);
    return trSendto(r->local.handle, text.data(), static_cast<unsigned>(text.size()), dest) ==
           static_cast<int>(text.size());
  }
  return trFileWrite(r->local.handle, text.data(), static_cast<unsigned>(text.size())) ==
         static_cast<int>(text.size());
}

// Our end of the local input: a connection (TCP) or a socket (UDP) from 127.0.0.1.
bool openLocal(scriptRun* r) {
  bool tcp = r->o->script == kScriptTcp;
  char dest[kAddrTextSize];
  trf(dest, sizeof dest, "127.0.0.1:%d", r->localPort);
  r->local.handle = trSocket(tcp ? 1 : 0);
  return r->local.valid() && trBind(r->local.handle, 0, "127.0.0.1") == 0 &&
         (!tcp || trConnect(r->local.handle, dest) == 0);
}

// Makes our server the active one, as a script would first.
bool makeActive(scriptRun* r) {
  std::string server = "127.0.0.1:" + std::to_string(r->o->serverPort);
  if (!sendLocal(r, "qzuconactive " + server + "\n")) return false;
  std::string needle = "Active Server: " + server;
  for (int64_t end = trMonoMsWide() + kActiveWaitMs; trMonoMsWide() < end;) {
    flowFor(r, 10);
    r->c->mainLog.poll(&r->c->mainText);
    if (r->c->mainText.find(needle) != std::string::npos) return true;
  }
  return false;
}

// Sends the batch at once: one write, or one datagram per command.
bool sendBatch(scriptRun* r) {
  std::string all;
  for (const std::string& line : r->batch) all += line;
  if (r->o->script == kScriptTcp) return sendLocal(r, all);
  for (const std::string& line : r->batch) {
    if (!sendLocal(r, line)) return false;
  }
  return true;
}

void report(const scriptRun& r, int64_t batchUs, int64_t windowEndUs) {
  const loadOptions& o = *r.o;
  loadResult lines = r.s->tally->result();
  double allMs = r.doneUs < 0 ? -1 : static_cast<double>(r.doneUs - batchUs) / 1000.0;
  double gapMs = static_cast<double>(longestGap(r.s->arrivals, batchUs, windowEndUs)) / 1000.0;
  const char* via = o.script == kScriptTcp ? "tcp" : "udp";
  const char* mode = stdinModeName(o.stdinMode);
  printf("qzload: script label=%s via=%s stdin=%s rate=%g commands=%zu bytes=%d reached=%zu"
         " all_ms=%.1f longest_gap_ms=%.1f window_ms=%.0f lines_sent=%ld lines_arrived=%ld\n",
         o.label, via, mode, o.rate, r.batch.size(), o.batchBytes, r.reached, allMs, gapMs,
         static_cast<double>(windowEndUs - batchUs) / 1000.0, lines.sent, lines.arrived);
  printf("| %s | %s | %zu of %zu | %.1f | %.1f |\n", o.label[0] ? o.label : via, mode, r.reached,
         r.batch.size(), allMs, gapMs);
  fflush(stdout);
}

// The batch itself, once the console is up; true when every command arrived.
bool batchRun(scriptRun* r) {
  trNonblock(r->s->sock);
  r->s->startUs = trMonoUs();
  if (!openLocal(r) || !makeActive(r)) {
    fprintf(stderr, "qzload: error the console did not take the local input\n");
    return false;
  }
  flowFor(r, kWarmMs);
  int64_t batchUs = nowUs(*r);
  if (!sendBatch(r)) return false;
  while (r->doneUs < 0 && nowUs(*r) - batchUs < int64_t(kBatchWaitMs) * 1000) flowFor(r, 10);
  int64_t windowEnd = std::max(r->doneUs, batchUs + int64_t(kWindowMs) * 1000);
  flowFor(r, static_cast<int>((windowEnd - nowUs(*r)) / 1000) + kTailMs);
  report(*r, batchUs, windowEnd);
  return r->doneUs >= 0;
}

}  // namespace

int runScript(loadOptions* o, int sock) {
  scriptRun r;
  r.o = o;
  if (!batchCommands(o->commands, o->batchBytes, &r.batch)) {
    fprintf(stderr, "qzload: error no batch of %d commands in %d bytes\n", o->commands,
            o->batchBytes);
    return 2;
  }
  bool tcp = o->script == kScriptTcp;
  r.localPort = freePort(tcp ? 1 : 0, "127.0.0.1");
  std::string token = (tcp ? "TCPlistenport=" : "UDPlistenport=") + std::to_string(r.localPort);
  // Lines for as long as the batch may take, and then some.
  o->count =
      static_cast<long>(o->rate * (kActiveWaitMs + kWarmMs + kBatchWaitMs + kWindowMs) / 1000);
  consoleProc c;
  fileFollower f;
  loadTally tally(o->count);
  runState s(o, sock, &tally);
  r.s = &s;
  r.c = &c;
  r.f = &f;
  bool ok = r.localPort > 0 && startConsole(*o, {token}, &c) &&
            waitMainLog(&c, "plaintext input on port", kListenWaitMs);
  followServerFile(*o, &f);
  ok = ok && batchRun(&r);
  stopConsole(&c);
  return ok ? 0 : 1;
}
