// Scratch folder, globals and invariant checks for the fuzz targets.
#include "fuzz/harness.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/config.h"
#include "app/globals.h"
#include "app/startup.h"
#include "runtime/text.h"

namespace fs = std::filesystem;

namespace {

std::string g_home;     // libFuzzer's working folder
std::string g_scratch;  // the console's

ssize_t dropWrite(void*, const char*, size_t size) { return static_cast<ssize_t>(size); }

void removeScratch() {
  std::error_code ec;
  fs::current_path(g_home, ec);
  fs::remove_all(g_scratch, ec);
}

void enter(const std::string& dir) {
  std::error_code ec;
  fs::current_path(dir, ec);
  if (ec) fuzzFail("cannot change the working folder");
}

bool hasArtifactFlag(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    if (strncmp(argv[i], "-artifact_prefix=", 17) == 0 ||
        strncmp(argv[i], "-exact_artifact_path=", 21) == 0) {
      return true;
    }
  }
  return false;
}

void addArtifactFlag(int* argc, char*** argv) {
  static std::string flag = "-artifact_prefix=" + g_home + "/";
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc);
  args.push_back(flag.data());
  args.push_back(nullptr);
  *argc = static_cast<int>(args.size()) - 1;
  *argv = args.data();
}

}  // namespace

void fuzzFail(const char* what) {
  fprintf(stderr, "fuzz invariant broken: %s\n", what);
  if (!g_scratch.empty()) removeScratch();  // abort runs no atexit handler
  abort();
}

void fuzzInit(int* argc, char*** argv) {
  if (!freopen("/dev/null", "w", stdout)) fuzzFail("cannot send standard output to /dev/null");
  // The log writer flushes every message to the screen; a stream that drops
  // it saves a system call per message.
  FILE* drop = fopencookie(nullptr, "w", {nullptr, dropWrite, nullptr, nullptr});
  if (!drop) fuzzFail("cannot make the screen stream");
  stdout = drop;
  std::error_code ec;
  g_home = fs::current_path(ec).string();
  std::string tmpl = fs::absolute(fs::temp_directory_path(ec) / "qzfuzz.XXXXXX", ec).string();
  if (ec || g_home.empty() || mkdtemp(tmpl.data()) == nullptr) {
    fuzzFail("cannot make a scratch folder");
  }
  g_scratch = tmpl;
  atexit(removeScratch);
  if (!hasArtifactFlag(*argc, *argv)) addArtifactFlag(argc, argv);
}

scratchInput::scratchInput() { enter(g_scratch); }

scratchInput::~scratchInput() {
  std::error_code ec;
  for (fs::directory_iterator it(g_scratch, ec), end; !ec && it != end; it.increment(ec)) {
    // The entry's type comes with it: a file costs one unlink, not a failed
    // open as a folder first.
    std::error_code ignored;
    if (it->is_directory(ignored)) {
      fs::remove_all(it->path(), ignored);
    } else {
      fs::remove(it->path(), ignored);
    }
  }
  enter(g_home);
}

void fuzzResetGlobals() {
  resetProgramState();
  strzcpy(g_logfn, kFuzzLog, kNameChars);
}

bool fuzzResolvesLocally(const char* address) {
  const char* colon = strchr(address, ':');
  if (!colon) return true;
  std::string host(address, colon - address);
  // The test trGetip makes before it falls back to a lookup.
  return inet_addr(host.c_str()) != INADDR_NONE;
}

serverRec* fuzzAddServer(const char* address, const char* login, const char* password) {
  if (!fuzzResolvesLocally(address)) fuzzFail("server host is not numeric");
  parseInput((std::string("server=") + address).c_str());
  parseInput((std::string("login=") + login).c_str());
  parseInput((std::string("password=") + password).c_str());
  commitPendingServer();
  serverRec* r = serverAt(flServer.nodes() - 1);
  if (!r || !resolveServer(r)) fuzzFail("server did not configure");
  return r;
}

void fuzzTwoServers() {
  fuzzAddServer("127.0.0.1:28100", "admin", "secret");
  fuzzAddServer("127.1:28101", "ops", "hunter2");
}

void fuzzCommandConsole() {
  fuzzResetGlobals();
  parseInput("myaddr=127.0.0.1:24350");
  fuzzTwoServers();
}

void fuzzCommandInput(const serverSnapshot& configured) {
  configured.restore();
  strzcpy(g_logfn, kFuzzLog, kNameChars);
  g_debug = 0;
  g_exit = 0;
  g_server = g_activeServer = nullptr;
}

std::string fuzzLocalText(const uint8_t* data, size_t size) {
  std::string s(reinterpret_cast<const char*>(data), size);
  for (char& c : s) {
    if (c == '/' || c == '\\') c = '_';
  }
  return s;
}

void fuzzCheckText(const char* text, size_t bufferSize, size_t limit, const char* what) {
  const void* end = memchr(text, 0, bufferSize);
  if (!end || static_cast<size_t>(static_cast<const char*>(end) - text) > limit) fuzzFail(what);
}

void serverSnapshot::take() {
  recs_.clear();
  for (int i = 0; i < flServer.nodes(); i++) recs_.push_back(*serverAt(i));
}

void serverSnapshot::restore() const {
  if (flServer.nodes() != size()) fuzzFail("server list changed size");
  for (int i = 0; i < size(); i++) *serverAt(i) = recs_[i];
}

bool serverSnapshot::changed(int i) const {
  return memcmp(serverAt(i), &recs_[i], sizeof(serverRec)) != 0;
}

void serverSnapshot::checkIdentity() const {
  if (flServer.nodes() != size()) fuzzFail("server list changed size");
  for (int i = 0; i < size(); i++) {
    const serverRec& now = *serverAt(i);
    const serverRec& was = recs_[i];
    if (strcmp(now.address, was.address) != 0 || strcmp(now.login, was.login) != 0 ||
        strcmp(now.password, was.password) != 0 || strcmp(now.ip, was.ip) != 0 ||
        strcmp(now.ipPort, was.ipPort) != 0 || now.port != was.port ||
        memcmp(now.header, was.header, kServerChallengeOffset) != 0) {
      fuzzFail("a server record lost its configured identity");
    }
  }
}
