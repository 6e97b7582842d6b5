// qzload: the socket, the clock, the followed file and the console process
// around the load tally. One thread does everything in 1 ms steps: send the
// lines that are due, read what the console has appended to its per-server
// log file, now and then sample the console socket's queue, sleep.
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "protocol/peer.h"
#include "runtime/clock.h"
#include "runtime/sock.h"
#include "runtime/text.h"
#include "support/proc.h"
#include "tools/load.h"
#include "tools/standin.h"

namespace {

constexpr int kStartWaitMs = 10000;  // for the console to announce itself
constexpr int kStopWaitMs = 5000;    // for it to end after SIGTERM
constexpr int kSampleMs = 10;        // between looks at the socket's queue
constexpr int kAliveCheckMs = 100;   // between checks that the console still runs
constexpr int kProcTextSize = 1 << 16;

// Reads a whole (small) file into out, cut to size-1 bytes. False when it
// cannot be read.
bool readText(const char* path, char* out, int size) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  size_t n = fread(out, 1, static_cast<size_t>(size - 1), f);
  out[n] = 0;
  fclose(f);
  return true;
}

long long rcvbufErrorsNow() {
  static char text[kProcTextSize];
  return readText("/proc/net/snmp", text, sizeof text) ? snmpRcvbufErrors(text) : -1;
}

// Queue bytes and drops of the console's socket; false when not visible.
bool consoleSocket(int port, long* rx, long long* drops) {
  static char text[kProcTextSize];
  return readText("/proc/net/udp", text, sizeof text) && udpSocketStats(text, port, rx, drops);
}

// Follows a file from where it ended when follow() was called (or from its
// start when it did not exist yet) and hands its new bytes out.
class fileFollower {
 public:
  ~fileFollower() {
    if (f_) fclose(f_);
  }
  void follow(const std::string& path) {
    path_ = path;
    f_ = fopen(path.c_str(), "rb");
    if (f_) fseek(f_, 0, SEEK_END);
  }
  // Appends what was written since the last call to out.
  void poll(lineSplit* out) {
    if (f_ == nullptr && (f_ = fopen(path_.c_str(), "rb")) == nullptr) return;
    clearerr(f_);  // the writer may have appended since we met the end
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f_)) > 0) out->add(buf, n);
  }

 private:
  std::string path_;
  FILE* f_ = nullptr;
};

// A free UDP port on loopback right now.
int freeUdpPort() {
  trsock s;
  s.handle = trSocket(0);
  if (!s.valid() || trBind(s.handle, 0, "127.0.0.1") != 0) return -1;
  return trSockPort(s.handle);
}

// A new folder under the temporary directory; false when none could be made.
bool makeScratch(char* out) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  for (int i = 0; i < 100; i++) {
    char name[64];
    trf(name, sizeof name, "qzload.%" PRId64 ".%d", trNowUs() % 1000000000, i);
    fs::path p = base / name;
    if (fs::create_directory(p, ec) && !ec) {
      strzcpy(out, p.c_str(), kLoadPathChars);
      return true;
    }
  }
  return false;
}

// ---- The console ----

struct consoleProc {
  int pid = -1;
  trProcIo io = {-1, -1, -1};
};

bool consoleAnnounced(const loadOptions& o) {
  char path[kLoadPathChars + 32];
  trf(path, sizeof path, "%s/qzucon.log", o.dir);
  static char text[kProcTextSize];
  return readText(path, text, sizeof text) && strstr(text, "**Console active") != nullptr;
}

// Starts the console and waits until it has its socket; false (with a note)
// when it does not start or ends early.
bool startConsole(const loadOptions& o, consoleProc* c) {
  char myaddr[64], server[64];
  trf(myaddr, sizeof myaddr, "myaddr=127.0.0.1:%d", o.consolePort);
  trf(server, sizeof server, "server=127.0.0.1:%d", o.serverPort);
  const char* argv[] = {o.console, myaddr, server, "login=load", nullptr};
  c->pid = trSpawn(argv, o.dir, o.stdinPipe ? kPipeIn : 0, &c->io);
  if (c->pid < 0) {
    fprintf(stderr, "qzload: error cannot start %s\n", o.console);
    return false;
  }
  for (int64_t end = trNowMs() + kStartWaitMs; trNowMs() < end; trSleep(10)) {
    if (consoleAnnounced(o)) return true;
    int status = 0;
    if (trWaitpid(c->pid, &status, 1) == c->pid) {
      fprintf(stderr, "qzload: error the console ended at start; see %s/qzucon.log\n", o.dir);
      c->pid = -1;
      return false;
    }
  }
  fprintf(stderr, "qzload: error the console did not announce itself\n");
  return false;
}

bool consoleRunning(consoleProc* c) {
  int status = 0;
  if (c->pid < 0 || trWaitpid(c->pid, &status, 1) != c->pid) return c->pid >= 0;
  c->pid = -1;
  return false;
}

void stopConsole(consoleProc* c) {
  if (c->pid > 0) {
    trKill(c->pid, SIGTERM);
    int status = 0;
    int64_t end = trNowMs() + kStopWaitMs;
    while (trWaitpid(c->pid, &status, 1) == 0 && trNowMs() < end) trSleep(10);
    if (trWaitpid(c->pid, &status, 1) == 0) {
      trKill(c->pid, SIGKILL);
      trWaitpid(c->pid, &status, 0);
    }
    c->pid = -1;
  }
  if (c->io.in >= 0) trClose(c->io.in);
  c->io.in = -1;
}

// ---- The run ----

struct runState {
  const loadOptions* o;
  int sock;
  char dest[kAddrTextSize];  // the console
  loadTally* tally;
  lineSplit lines;
  int64_t startUs;
  long next = 1;          // the next line to send
  int64_t lastSendUs = 0;
  long peakRx = 0;        // deepest queue seen on the console's socket
  bool sawSocket = false;
};

void sendLine(runState* s, long seq) {
  static const unsigned char kZero[4] = {0, 0, 0, 0};
  char text[64];
  unsigned char pkt[128];
  int64_t us = trNowUs() - s->startUs;
  loadText(text, sizeof text, seq, us);
  int len = buildServerDatagram(kZero, kZero, kStandinDefaultSeed, text, pkt, sizeof pkt);
  if (trSendto(s->sock, reinterpret_cast<const char*>(pkt), static_cast<unsigned>(len), s->dest) ==
      len) {
    s->tally->sent(seq, us);
  } else {
    s->tally->sendFailed(seq);
  }
  s->lastSendUs = us;
}

// Sends every line whose time has come: line n is due (n-1)/rate seconds
// after the start, all at once for rate 0.
void sendDue(runState* s) {
  const loadOptions& o = *s->o;
  int64_t elapsed = trNowUs() - s->startUs;
  while (s->next <= o.count &&
         (o.rate <= 0 || static_cast<double>(s->next - 1) * 1e6 / o.rate <= elapsed)) {
    sendLine(s, s->next++);
  }
}

void readArrivals(runState* s, fileFollower* f) {
  f->poll(&s->lines);
  int64_t us = trNowUs() - s->startUs;
  std::string line;
  while (s->lines.take(&line)) {
    long seq = 0;
    int64_t named = 0;
    if (parseLoadLine(line.c_str(), &seq, &named)) s->tally->seen(seq, named, us);
  }
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
  if (c->pid >= 0 && trNowMs() >= *nextAliveMs) {
    *nextAliveMs = trNowMs() + kAliveCheckMs;
    if (!consoleRunning(c)) {
      fprintf(stderr, "qzload: error the console ended during the run\n");
      return false;
    }
  }
  if (s->next <= s->o->count) return true;
  if (s->tally->complete()) return false;
  return trNowUs() - s->startUs - s->lastSendUs <= int64_t(s->o->timeoutMs) * 1000;
}

void run(runState* s, fileFollower* f, consoleProc* c) {
  int64_t nextSampleMs = 0, nextAliveMs = 0;
  s->startUs = trNowUs();
  while (goingOn(s, c, &nextAliveMs)) {
    sendDue(s);
    readArrivals(s, f);
    if (trNowMs() >= nextSampleMs) {
      sampleQueue(s);
      nextSampleMs = trNowMs() + kSampleMs;
    }
    trSleep(1);
  }
  readArrivals(s, f);
}

// The kernel's counters around a run: -1 where one cannot be read.
struct counters {
  long long rcvbufErrors = -1;
  long long socketDrops = -1;
};

counters countersNow(int consolePort) {
  counters c;
  c.rcvbufErrors = rcvbufErrorsNow();
  long rx = 0;
  if (!consoleSocket(consolePort, &rx, &c.socketDrops)) c.socketDrops = -1;
  return c;
}

void report(const runState& s, const counters& before, const counters& after, int64_t elapsedUs) {
  const loadOptions& o = *s.o;
  loadResult r = s.tally->result();
  long long drops = before.socketDrops >= 0 && after.socketDrops >= 0
                        ? after.socketDrops - before.socketDrops
                        : -1;
  const char* mode = o.attach ? "attached" : o.stdinPipe ? "pipe" : "eof";
  printf("qzload: result label=%s stdin=%s rate=%g sent=%ld arrived=%ld lost=%ld reordered=%ld"
         " duplicates=%ld foreign=%ld send_errors=%ld median_us=%" PRId64 " p99_us=%" PRId64
         " worst_us=%" PRId64 " rcvbuf_errors_before=%lld rcvbuf_errors_after=%lld"
         " socket_drops=%lld peak_rx_queue=%ld last_send_ms=%.1f elapsed_ms=%" PRId64 "\n",
         o.label, mode, o.rate, r.sent, r.arrived, r.lost, r.reordered, r.duplicates, r.foreign,
         r.sendErrors, r.medianUs, r.p99Us, r.worstUs, before.rcvbufErrors, after.rcvbufErrors, drops,
         s.sawSocket ? s.peakRx : -1L, static_cast<double>(s.lastSendUs) / 1000.0,
         elapsedUs / 1000);
  char row[512];
  resultRow(row, sizeof row, o.label[0] ? o.label : "load", mode, r);
  printf("%s\n", row);
  fflush(stdout);
}

// Ports and folder for a console we start, and its program by a path that
// still holds once the console runs in its folder.
bool prepare(loadOptions* o) {
  std::error_code ec;
  std::filesystem::path console = std::filesystem::absolute(o->console, ec);
  if (!ec) strzcpy(o->console, console.c_str(), kLoadPathChars);
  if (!o->dir[0] && !makeScratch(o->dir)) {
    fprintf(stderr, "qzload: error cannot make a scratch folder\n");
    return false;
  }
  if (o->consolePort == 0) o->consolePort = freeUdpPort();
  if (o->consolePort <= 0) fprintf(stderr, "qzload: error no free port\n");
  return o->consolePort > 0;
}

int openServerSocket(loadOptions* o) {
  int h = trSocket(0);
  if (h < 0 || trBind(h, static_cast<unsigned>(o->serverPort), "127.0.0.1") != 0) {
    fprintf(stderr, "qzload: error cannot bind 127.0.0.1:%d\n", o->serverPort);
    if (h >= 0) trClosesocket(h);
    return -1;
  }
  o->serverPort = trSockPort(h);
  return h;
}

int measure(loadOptions* o, int sock) {
  consoleProc c;
  if (!o->attach && !startConsole(*o, &c)) {
    stopConsole(&c);
    return 3;
  }
  fprintf(stderr, "qzload: console=127.0.0.1:%d server=127.0.0.1:%d dir=%s pid=%d\n",
          o->consolePort, o->serverPort, o->dir, c.pid);
  char server[kAddrTextSize];
  char fileName[kAddrTextSize + 5];
  trf(server, sizeof server, "127.0.0.1:%d", o->serverPort);
  serverLogName(server, fileName, sizeof fileName);
  char logName[kLoadPathChars + sizeof fileName + 1];
  trf(logName, sizeof logName, "%s/%s", o->dir, fileName);
  fileFollower f;
  f.follow(logName);
  loadTally tally(o->count);
  runState s;
  s.o = o;
  s.sock = sock;
  trf(s.dest, sizeof s.dest, "127.0.0.1:%d", o->consolePort);
  s.tally = &tally;
  counters before = countersNow(o->consolePort);
  int64_t t0 = trNowUs();
  run(&s, &f, &c);
  counters after = countersNow(o->consolePort);
  report(s, before, after, trNowUs() - t0);
  stopConsole(&c);
  loadResult r = tally.result();
  return r.lost == 0 && r.reordered == 0 && r.duplicates == 0 ? 0 : 1;
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
  trIgnoreSigpipe();
  if (!o.attach && !prepare(&o)) return 3;
  trsock sock;
  sock.handle = openServerSocket(&o);
  if (!sock.valid()) return 3;
  return measure(&o, sock.handle);
}
