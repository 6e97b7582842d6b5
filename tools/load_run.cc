// qzload's console process, followed files and line flow.
#include "tools/load_run.h"

#include <cinttypes>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "protocol/peer.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/folderwatch.h"
#include "runtime/text.h"
#include "tools/standin.h"

namespace {

// For the console to announce itself: with ten thousand servers it first logs
// fifty thousand start-up lines.
constexpr int kStartWaitMs = 60000;
constexpr int kStopWaitMs = 5000;  // for it to end after SIGTERM

std::string inDir(const loadOptions& o, const char* name) {
  return std::string(o.dir) + "/" + name;
}

// Others first, on addresses where nothing answers, then ours (the senders'
// ports, or the one server port): --servers in all, or ours alone when more.
bool writeServerIni(const loadOptions& o, const std::vector<int>& senderPorts) {
  std::vector<int> ours = senderPorts;
  if (ours.empty()) ours.push_back(o.serverPort);
  FILE* f = fopen(inDir(o, "qzucon.ini").c_str(), "w");
  if (f == nullptr) return false;
  for (int i = 0; i < o.servers - static_cast<int>(ours.size()); i++) {
    fprintf(f, "server=127.%d.%d.%d:9\nlogin=other\n", 2 + i / 62500, i / 250 % 250, 1 + i % 250);
  }
  for (int port : ours) fprintf(f, "server=127.0.0.1:%d\nlogin=load\n", port);
  return fclose(f) == 0;
}

std::vector<std::string> consoleArgs(const loadOptions& o, const std::vector<std::string>& extra) {
  std::vector<std::string> a;
  if (o.strace[0]) a = {o.strace, "-f", "-c", "-o", inDir(o, "strace.txt")};
  a.push_back(o.console);
  a.push_back("myaddr=127.0.0.1:" + std::to_string(o.consolePort));
  if (o.servers <= 1 && o.senders <= 1) {
    a.push_back("server=127.0.0.1:" + std::to_string(o.serverPort));
    a.push_back("login=load");
  }
  if (o.metrics) a.push_back("metrics=qzucon.prom");  // in its own folder
  a.insert(a.end(), extra.begin(), extra.end());
  if (o.token[0]) a.push_back(o.token);
  return a;
}

int stdinPipes(int mode) { return mode == kStdinTty ? kTermIn : mode == kStdinPipe ? kPipeIn : 0; }

// True when process pid runs program (its first argument names it).
bool runs(int pid, const char* program) {
  char path[64], text[kLoadPathChars + 1];
  trf(path, sizeof path, "/proc/%d/cmdline", pid);
  return readText(path, text, sizeof text) && strcmp(text, program) == 0;
}

// The console strace started: the child of our child that runs it (strace
// forks short-lived children of its own at start); -1 while there is none.
int traceeOf(int pid, const char* program) {
  char path[64], text[256];
  trf(path, sizeof path, "/proc/%d/task/%d/children", pid, pid);
  if (!readText(path, text, sizeof text)) return -1;
  for (char* p = text; *p;) {
    char* end = nullptr;
    long child = strtol(p, &end, 10);
    if (end == p) break;
    if (child > 0 && runs(static_cast<int>(child), program)) return static_cast<int>(child);
    p = end;
  }
  return -1;
}

void findConsole(consoleProc* c) {
  if (c->console < 0 && c->pid > 0) c->console = traceeOf(c->pid, c->program.c_str());
}

// A new folder under the temporary directory; false when none could be made.
bool makeScratch(char* out) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  for (int i = 0; i < 100; i++) {
    char name[64];
    trf(name, sizeof name, "qzload.%" PRId64 ".%d", trMonoUs() % 1000000000, i);
    fs::path p = base / name;
    if (fs::create_directory(p, ec) && !ec) {
      strzcpy(out, p.c_str(), kLoadPathChars);
      return true;
    }
  }
  return false;
}

}  // namespace

bool readText(const char* path, char* out, int size) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  size_t n = fread(out, 1, static_cast<size_t>(size - 1), f);
  out[n] = 0;
  fclose(f);
  return true;
}

// ---- fileFollower ----

fileFollower::~fileFollower() {
  if (f_) fclose(f_);
}

namespace {

// The file through stdio, opened without access-time updates.
FILE* openFollowed(const char* path) {
  int fd = trOpenFollow(path);
  FILE* f = fd >= 0 ? fdopen(fd, "rb") : nullptr;
  if (fd >= 0 && f == nullptr) trFileClose(fd);
  return f;
}

}  // namespace

void fileFollower::follow(const std::string& path) {
  path_ = path;
  f_ = openFollowed(path.c_str());
  if (f_) fseek(f_, 0, SEEK_END);
}

void fileFollower::poll(std::string* out) {
  if (f_ == nullptr && (f_ = openFollowed(path_.c_str())) == nullptr) return;
  clearerr(f_);  // the writer may have appended since we met the end
  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f_)) > 0) out->append(buf, n);
}

void fileFollower::poll(lineSplit* out) {
  std::string text;
  poll(&text);
  out->add(text.data(), text.size());
}

// ---- The console ----

bool startConsole(const loadOptions& o, const std::vector<std::string>& extraTokens,
                  consoleProc* c) {
  if ((o.servers > 1 || o.senders > 1) && !writeServerIni(o, c->senderPorts)) {
    fprintf(stderr, "qzload: error cannot write %s/qzucon.ini\n", o.dir);
    return false;
  }
  std::vector<std::string> args = consoleArgs(o, extraTokens);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  c->mainLog.follow(inDir(o, "qzucon.log"));
  c->pid = procSpawn(argv.data(), o.dir, stdinPipes(o.stdinMode), &c->io);
  if (c->pid < 0) {
    fprintf(stderr, "qzload: error cannot start %s\n", argv[0]);
    return false;
  }
  c->program = o.console;
  if (!o.strace[0]) c->console = c->pid;
  if (waitMainLog(c, "**Console active", kStartWaitMs)) return true;
  fprintf(stderr, "qzload: error the console did not announce itself; see %s/qzucon.log\n", o.dir);
  return false;
}

bool waitMainLog(consoleProc* c, const char* needle, int timeoutMs) {
  for (int64_t end = trMonoMsWide() + timeoutMs;; trSleep(10)) {
    findConsole(c);
    c->mainLog.poll(&c->mainText);
    if (c->mainText.find(needle) != std::string::npos) return true;
    if (!consoleRunning(c) || trMonoMsWide() >= end) return false;
  }
}

bool consoleRunning(consoleProc* c) {
  int status = 0;
  if (c->pid < 0 || procWait(c->pid, &status, 1) != c->pid) return c->pid >= 0;
  c->pid = -1;
  return false;
}

double consoleCpuMs(const consoleProc& c) {
  if (c.console <= 0) return -1;
  char path[64], text[1024];
  trf(path, sizeof path, "/proc/%d/stat", c.console);
  long long ticks = readText(path, text, sizeof text) ? procCpuTicks(text) : -1;
  return ticks < 0 ? -1 : static_cast<double>(ticks) * 1000.0 / static_cast<double>(trClockTicks());
}

void stopConsole(consoleProc* c) {
  findConsole(c);
  if (c->pid > 0) {
    // The console itself: a strace around it would only let go of it.
    procKill(c->console > 0 ? c->console : c->pid, SIGTERM);
    int status = 0;
    int64_t end = trMonoMsWide() + kStopWaitMs;
    while (procWait(c->pid, &status, 1) == 0 && trMonoMsWide() < end) trSleep(10);
    if (procWait(c->pid, &status, 1) == 0) {
      if (c->console > 0 && c->console != c->pid) procKill(c->console, SIGKILL);
      procKill(c->pid, SIGKILL);
      procWait(c->pid, &status, 0);
    }
    c->pid = -1;
  }
  if (c->io.in >= 0) trFileClose(c->io.in);
  c->io.in = -1;
}

bool idleWhileRunning(consoleProc* c, int ms) {
  for (int64_t end = trMonoMsWide() + ms; trMonoMsWide() < end; trSleep(10)) {
    if (!consoleRunning(c)) return false;
  }
  return true;
}

// ---- Set-up ----

bool prepare(loadOptions* o) {
  std::error_code ec;
  std::filesystem::path console = std::filesystem::absolute(o->console, ec);
  if (!ec) strzcpy(o->console, console.c_str(), kLoadPathChars);
  if (!o->dir[0] && !makeScratch(o->dir)) {
    fprintf(stderr, "qzload: error cannot make a scratch folder\n");
    return false;
  }
  if (o->consolePort == 0) o->consolePort = freePort(0, "127.0.0.1");
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

// ---- The line flow ----

runState::runState(const loadOptions* opts, int socket, loadTally* t)
    : o(opts), sock(socket), tally(t), startUs(trMonoUs()) {
  trf(dest, sizeof dest, "127.0.0.1:%d", o->consolePort);
}

namespace {

// Lines sent with one call: at 200,000 a second a call per line would cost
// the tool more than the console it measures.
constexpr int kSendBatch = 64;

struct sendBatch {
  unsigned char pkt[kSendBatch][128];
  iovec iov[kSendBatch];
  mmsghdr msgs[kSendBatch];
  long seq[kSendBatch];
  int sock[kSendBatch];
  int n = 0;
};

int socketOf(const runState& s, long seq) {
  return s.socks.empty() ? s.sock : s.socks[static_cast<size_t>(seq - 1) % s.socks.size()];
}

// A server's datagram of text as the tool sends them all: zero challenges,
// the default seed. Its length.
int loadDatagram(const char* text, unsigned char* out, int size) {
  static const unsigned char kZero[4] = {0, 0, 0, 0};
  return buildServerDatagram(kZero, kZero, kStandinDefaultSeed, text, out, size);
}

void addLine(runState* s, sendBatch* b, long seq, int64_t us, sockaddr_in* to) {
  char text[64];
  loadText(text, sizeof text, seq, us);
  int i = b->n++;
  int len = loadDatagram(text, b->pkt[i], 128);
  b->iov[i].iov_base = b->pkt[i];
  b->iov[i].iov_len = static_cast<size_t>(len);
  memset(&b->msgs[i], 0, sizeof b->msgs[i]);
  b->msgs[i].msg_hdr.msg_iov = &b->iov[i];
  b->msgs[i].msg_hdr.msg_iovlen = 1;
  b->msgs[i].msg_hdr.msg_name = to;
  b->msgs[i].msg_hdr.msg_namelen = sizeof *to;
  b->seq[i] = seq;
  b->sock[i] = socketOf(*s, seq);
}

// Each run of lines for one socket goes with one call; a line not sent is
// counted as a send error.
void sendBatchNow(runState* s, sendBatch* b, int64_t us) {
  for (int from = 0; from < b->n;) {
    int to = from + 1;
    while (to < b->n && b->sock[to] == b->sock[from]) to++;
    int sent = trSendBatch(b->sock[from], b->msgs + from, static_cast<unsigned>(to - from));
    for (int i = from; i < to; i++) {
      if (i - from < sent) {
        s->tally->sent(b->seq[i], us);
      } else {
        s->tally->sendFailed(b->seq[i]);
      }
    }
    from = to;
  }
  b->n = 0;
  s->lastSendUs = us;
}

}  // namespace

void sendDue(runState* s) {
  const loadOptions& o = *s->o;
  static sendBatch b;
  sockaddr_in to;
  trDestAddr(s->dest, &to);
  int64_t elapsed = trMonoUs() - s->startUs;
  int64_t us = elapsed;  // the send time of the lines in the batch
  while (s->next <= o.count &&
         (o.rate <= 0 || static_cast<double>(s->next - 1) * 1e6 / o.rate <= elapsed)) {
    // Each batch's lines carry the time just before it goes: a burst takes
    // a while to send, and its later lines must not look older than they are.
    if (b.n == 0) us = trMonoUs() - s->startUs;
    addLine(s, &b, s->next++, us, &to);
    if (b.n == kSendBatch) sendBatchNow(s, &b, us);
  }
  if (b.n > 0) sendBatchNow(s, &b, us);
}

namespace {

std::string serverFileName(int port) {
  char server[kAddrTextSize];
  char fileName[kAddrTextSize + 5];
  trf(server, sizeof server, "127.0.0.1:%d", port);
  serverLogName(server, fileName, sizeof fileName);
  return fileName;
}

void takeLines(runState* s, lineSplit* lines, int64_t us) {
  std::string line;
  while (lines->take(&line)) {
    long seq = 0;
    int64_t named = 0;
    if (!parseLoadLine(line.c_str(), &seq, &named)) continue;
    s->tally->seen(seq, named, us);
    s->arrivals.push_back(us);
  }
}

}  // namespace

void readArrivals(runState* s, fileFollower* f) {
  f->poll(&s->lines);
  takeLines(s, &s->lines, trMonoUs() - s->startUs);
}

void followServerFile(const loadOptions& o, fileFollower* f) {
  followServerFile(o, o.serverPort, f);
}

void followServerFile(const loadOptions& o, int port, fileFollower* f) {
  f->follow(inDir(o, serverFileName(port).c_str()));
}

namespace {

// A write watch on folder dir: its descriptor, or -1.
int watchWrites(const char* dir) {
  int fd = trFolderWatchOpen();
  if (fd >= 0 && trFolderWatchWrites(fd, dir) < 0) {
    trFileClose(fd);
    return -1;
  }
  return fd;
}

}  // namespace

senderFiles::~senderFiles() {
  if (watch >= 0) trFileClose(watch);
}

bool senderFiles::follow(const loadOptions& o, const std::vector<int>& ports) {
  if (!o.poll) watch = watchWrites(o.dir);
  files = std::vector<fileFollower>(ports.size());
  lines = std::vector<lineSplit>(ports.size());
  for (size_t i = 0; i < ports.size(); i++) {
    byName[serverFileName(ports[i])] = i;
    followServerFile(o, ports[i], &files[i]);
  }
  return o.poll || watch >= 0;
}

void readArrivals(runState* s, senderFiles* f) {
  if (f->watch < 0) return;  // --poll: the sweeps read them
  static char events[64 << 10];
  std::vector<std::string> changed;
  for (int n; (n = trFolderWatchRead(f->watch, events, sizeof events)) > 0;) {
    const char* name;
    for (int at = 0; nextFolderWrite(events, n, &at, &name);) changed.push_back(name);
  }
  int64_t us = trMonoUs() - s->startUs;
  for (const std::string& name : changed) {
    auto it = f->byName.find(name);
    if (it == f->byName.end()) continue;
    f->files[it->second].poll(&f->lines[it->second]);
    takeLines(s, &f->lines[it->second], us);
  }
}

void readAllArrivals(runState* s, senderFiles* f) {
  int64_t us = trMonoUs() - s->startUs;
  for (size_t i = 0; i < f->files.size(); i++) {
    f->files[i].poll(&f->lines[i]);
    takeLines(s, &f->lines[i], us);
  }
}

bool warmUp(runState* s, const std::vector<int>& ports, int waitMs) {
  unsigned char pkt[128];
  int len = loadDatagram("warm-up\n", pkt, sizeof pkt);
  for (int sock : s->socks) trSendto(sock, reinterpret_cast<const char*>(pkt), len, s->dest);
  size_t ready = 0;
  for (int64_t end = trMonoMsWide() + waitMs; ready < ports.size() && trMonoMsWide() < end;) {
    std::string name = inDir(*s->o, serverFileName(ports[ready]).c_str());
    unsigned owner = 0;
    if (trFileMode(name.c_str(), &owner) >= 0) {
      ready++;
    } else {
      trSleepUs(kStepUs);
    }
  }
  return ready == ports.size();
}
