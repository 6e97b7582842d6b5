// The end-to-end harness. Processes and pipes go through support/proc.h,
// sockets, files and the clock through the runtime layer, like the loopback
// test clients that observe the console from outside.
#include "support/e2e_harness.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/keyboard.h"
#include "runtime/signals.h"
#include "runtime/sock.h"
#include "support/freeport.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPumpSliceMs = 100;  // longest single wait while polling

const char* consoleBin() {
  const char* env = getenv("QZUCON_BIN");
  return env != nullptr && env[0] ? env : QZUCON_DEFAULT_BIN;
}

void appendFrom(int* fd, std::string* text) {
  char buf[65536];
  int n = trFileRead(*fd, buf, sizeof buf);
  if (n > 0) {
    text->append(buf, static_cast<size_t>(n));
  } else {  // end of stream (or a broken one): nothing more will come
    trFileClose(*fd);
    *fd = -1;
  }
}

}  // namespace

int countOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
  return n;
}

void e2eTest::SetUp() {
  trIgnoreBrokenPipe();  // a console that died must fail a test, not kill it
  std::string tmpl = (fs::temp_directory_path() / "qze2e.XXXXXX").string();
  ASSERT_NE(nullptr, mkdtemp(tmpl.data()));
  dir_ = tmpl;
  consolePort_ = freePort(0);
  ASSERT_GT(consolePort_, 0);
}

void e2eTest::TearDown() {
  // Newest first: the console, started after its servers, so that they
  // still receive its exit notice.
  for (auto p = procs_.rbegin(); p != procs_.rend(); ++p) stop(p->get());
  for (auto& p : procs_) {
    int* fds[] = {&p->io.in, &p->io.out, &p->io.err};
    for (int* fd : fds) {
      if (*fd >= 0) trFileClose(*fd);
      *fd = -1;
    }
  }
  if (HasFailure()) {
    fprintf(stderr, "scratch folder kept: %s\n%s", dir_.c_str(), dump().c_str());
    return;
  }
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

runProc* e2eTest::spawn(const std::string& name, const std::vector<std::string>& argv,
                        int pipes) {
  std::vector<const char*> args;
  for (const std::string& a : argv) args.push_back(a.c_str());
  args.push_back(nullptr);
  std::unique_ptr<runProc> p(new runProc);
  p->name = name;
  p->pid = procSpawn(args.data(), dir_.c_str(), pipes, &p->io);
  if (p->pid < 0) return nullptr;
  procs_.push_back(std::move(p));
  return procs_.back().get();
}

runProc* e2eTest::startStandin(const std::string& password, const std::vector<std::string>& extra) {
  std::vector<std::string> argv = {QZSTANDIN_BIN, "--port", "0", "--password", password};
  argv.insert(argv.end(), extra.begin(), extra.end());
  for (int tries = 0; tries < 5; tries++) {
    runProc* p = spawn("qzstandin#" + std::to_string(procs_.size()), argv, kPipeOut | kPipeErr);
    // The seed follows the port on the same line, so the port is complete.
    if (p == nullptr || !waitFor(p, " seed=", kStderr) || portOf(p) <= 0) return nullptr;
    // The kernel may hand out again a port reserved for the console.
    if (std::find(reserved_.begin(), reserved_.end(), portOf(p)) == reserved_.end()) return p;
    stop(p);
  }
  return nullptr;
}

int e2eTest::portOf(const runProc* standin) {
  const std::string key = "listening addr=127.0.0.1:";
  size_t at = standin->err.find(key);
  return at == std::string::npos ? -1 : atoi(standin->err.c_str() + at + key.size());
}

runProc* e2eTest::startConsole(const std::vector<std::string>& tokens) {
  std::vector<std::string> argv = {consoleBin()};
  argv.insert(argv.end(), tokens.begin(), tokens.end());
  // The control socket goes into the scratch folder unless the test places
  // it: tests running side by side must not find each other's consoles.
  bool placed = std::any_of(tokens.begin(), tokens.end(),
                            [](const std::string& t) { return t.rfind("controlsocket=", 0) == 0; });
  if (!placed) argv.push_back("controlsocket=" + dir_ + "/qzucon.sock");
  return spawn("qzucon", argv, kPipeIn | kPipeOut | kPipeErr);
}

std::string e2eTest::addr(const runProc* standin) {
  return "127.0.0.1:" + std::to_string(portOf(standin));
}

runProc* e2eTest::startConsoleGreeted(const std::vector<std::string>& tokens,
                                      const std::vector<runProc*>& standins) {
  runProc* console = startConsole(tokens);
  if (console == nullptr) return nullptr;
  for (runProc* s : standins) {
    if (!waitFor(console, "->qzstandin " + addr(s) + " welcome")) return nullptr;
  }
  return console;
}

runProc* e2eTest::startConsoleVia(const std::string& script,
                                  const std::vector<std::string>& tokens) {
  std::vector<std::string> argv = {"/bin/sh", "-c", script, consoleBin()};
  argv.insert(argv.end(), tokens.begin(), tokens.end());
  return spawn("qzucon", argv, kPipeIn | kPipeOut | kPipeErr);
}

runProc* e2eTest::startCtl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {QZUCONCTL_BIN};
  if (!ctlUser_.empty()) {
    std::vector<std::string> as = {"/usr/bin/setpriv", "--reuid", ctlUser_, "--regid", ctlUser_};
    if (ctlGroups_.empty()) {
      as.push_back("--init-groups");
    } else {
      as.insert(as.end(), {"--groups", ctlGroups_});
    }
    as.push_back("--reset-env");
    argv.insert(argv.begin(), as.begin(), as.end());
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return spawn("qzuconctl#" + std::to_string(procs_.size()), argv, kPipeOut | kPipeErr);
}

int e2eTest::runCtl(const std::vector<std::string>& args, runProc** proc) {
  runProc* p = startCtl(args);
  if (proc) *proc = p;
  if (p == nullptr || !waitExit(p)) return -1;
  return procExited(p->status) ? procExitCode(p->status) : -1;
}

std::vector<std::string> e2eTest::consoleTokens(const std::vector<runProc*>& standins,
                                                const std::vector<std::string>& passwords) const {
  std::vector<std::string> t = {"myaddr=127.0.0.1:" + std::to_string(consolePort_)};
  for (size_t i = 0; i < standins.size(); i++) {
    t.push_back("server=127.0.0.1:" + std::to_string(portOf(standins[i])));
    t.push_back("login=admin");
    t.push_back("password=" + passwords[i]);
  }
  return t;
}

void e2eTest::pump(int timeoutMs) {
  std::vector<int*> fds;
  std::vector<std::string*> texts;
  for (auto& p : procs_) {
    if (p->io.out >= 0) fds.push_back(&p->io.out), texts.push_back(&p->out);
    if (p->io.err >= 0) fds.push_back(&p->io.err), texts.push_back(&p->err);
  }
  std::vector<int> handles, ready(fds.size() + 1, 0);
  for (int* fd : fds) handles.push_back(*fd);
  int n = static_cast<int>(handles.size());
  if (trWaitInput(handles.data(), n, timeoutMs, ready.data()) > 0) {
    for (size_t i = 0; i < fds.size(); i++) {
      if (ready[i]) appendFrom(fds[i], texts[i]);
    }
  }
  for (auto& p : procs_) {
    if (!p->ended && procWait(p->pid, &p->status, 1) == p->pid) p->ended = true;
  }
}

bool e2eTest::waitFor(runProc* p, const std::string& needle, streamId s, int times, int timeoutMs) {
  const std::string& text = s == kStdout ? p->out : p->err;
  int64_t deadline = trMonoMsWide() + timeoutMs;
  for (;;) {
    if (countOf(text, needle) >= times) return true;
    int64_t left = deadline - trMonoMsWide();
    if (left <= 0 || drained(p)) return false;
    pump(static_cast<int>(left < kPumpSliceMs ? left : kPumpSliceMs));
  }
}

bool e2eTest::waitExit(runProc* p, int timeoutMs) {
  int64_t deadline = trMonoMsWide() + timeoutMs;
  while (!drained(p)) {
    int64_t left = deadline - trMonoMsWide();
    if (left <= 0) return false;
    pump(static_cast<int>(left < kPumpSliceMs ? left : kPumpSliceMs));
  }
  return true;
}

bool e2eTest::waitForFile(const std::string& name, const std::string& needle, int timeoutMs) {
  int64_t deadline = trMonoMsWide() + timeoutMs;
  while (readFile(name).find(needle) == std::string::npos) {
    if (trMonoMsWide() >= deadline) return false;
    pump(kPumpSliceMs);
  }
  return true;
}

bool e2eTest::type(runProc* p, const std::string& text) {
  if (p->io.in < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    int n = trFileWrite(p->io.in, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void e2eTest::endInput(runProc* p) {
  if (p->io.in >= 0) trFileClose(p->io.in);
  p->io.in = -1;
}

void e2eTest::closeOutput(runProc* p) {
  if (p->io.out >= 0) trFileClose(p->io.out);
  p->io.out = -1;
}

void e2eTest::stop(runProc* p, int graceMs) {
  if (p->ended) return;
  procKill(p->pid, SIGTERM);
  if (waitExit(p, graceMs)) return;
  procKill(p->pid, SIGKILL);
  if (procWait(p->pid, &p->status, 0) == p->pid) p->ended = true;
}

std::string e2eTest::readFile(const std::string& name) const {
  std::ifstream in(dir_ + "/" + name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool e2eTest::writeFile(const std::string& name, const std::string& text) const {
  std::ofstream out(dir_ + "/" + name, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

std::string e2eTest::dump() const {
  std::string s;
  for (const auto& p : procs_) {
    s += "==== " + p->name + " (pid " + std::to_string(p->pid) + ") stdout:\n" + p->out;
    s += "==== " + p->name + " stderr:\n" + p->err;
  }
  return s;
}

int e2eTest::freePort(int type) {
  for (int tries = 0; tries < 20; tries++) {
    int port = ::freePort(type, "");
    if (port < 0) return -1;
    if (std::find(reserved_.begin(), reserved_.end(), port) != reserved_.end()) continue;
    reserved_.push_back(port);
    return port;
  }
  return -1;
}

int e2eTest::tcpConnect(const char* bindIp, int port) {
  int h = trSocket(1);
  if (h < 0) return -1;
  if (trBind(h, 0, bindIp) != 0 ||
      trConnect(h, ("127.0.0.1:" + std::to_string(port)).c_str()) != 0) {
    trClosesocket(h);
    return -1;
  }
  return h;
}

bool e2eTest::udpSend(const char* bindIp, int port, const std::string& text) {
  senders_.emplace_back(new trsock);
  trsock& s = *senders_.back();
  s.handle = trSocket(0);
  if (!s.valid() || trBind(s.handle, 0, bindIp) != 0) return false;
  std::string dest = "127.0.0.1:" + std::to_string(port);
  return trSendto(s.handle, text.data(), static_cast<unsigned>(text.size()), dest.c_str()) ==
         static_cast<int>(text.size());
}
