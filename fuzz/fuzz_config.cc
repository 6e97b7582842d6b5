// Configuration tokens and files, read the way start-up reads them: a few
// command-line tokens, then the file "qzucon.ini" line by line through
// bfc::rdln, then the resolution of every server that needs no name lookup.
//
// Input: the whole input is the file; when it holds NUL bytes, each piece a
// NUL ends (the first four) is also passed first as a command-line token.
// '/' and '\' become '_' so that every file named stays in the scratch
// folder. Afterwards the configuration is written with writeini and read
// back, and must come back the same.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/alerts.h"
#include "app/config.h"
#include "app/globals.h"
#include "app/startup.h"
#include "fuzz/harness.h"
#include "runtime/bfc.h"
#include "runtime/text.h"

namespace {

constexpr int kIniLine = 1024;
constexpr size_t kMaxTokens = 4;

void readFile(const char* name) {
  bfc ini("rb", "%s", name);
  char line[kIniLine];
  while (ini.rdln(line, kIniLine, 1)) parseInput(line);
}

void writeFile(const char* name, const std::string& bytes) {
  FILE* f = fopen(name, "wb");
  if (!f) fuzzFail("cannot write the scratch configuration file");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

std::vector<std::string> commandLineTokens(const std::string& text) {
  std::vector<std::string> tokens;
  size_t start = 0;
  for (size_t nul;
       tokens.size() < kMaxTokens && (nul = text.find('\0', start)) != std::string::npos;
       start = nul + 1) {
    tokens.push_back(text.substr(start, nul - start));
  }
  return tokens;
}

// What the line "key=value" of writeini's file gives when read back:
// "qzuconlog" trims blanks and tabs again. No value holds a line break: the
// parser refuses a token with one.
std::string readBack(const char* value, bool trimmed) {
  std::string s = value;
  if (strpbrk(value, "\r\n")) fuzzFail("a value holds a line break");
  if (trimmed) {
    size_t first = s.find_first_not_of(" \t");
    s = first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") - first + 1);
  }
  return s;
}

// What writeini is meant to preserve.
struct savedConfig {
  std::string logfn, myaddr, metrics;
  uint32_t tcp, udp;
  uint8_t localusers;
  std::vector<std::string> servers;  // address, login, password, tags of each
  std::vector<std::string> alerts;   // name:expression of each

  // asWritten: as the file written from the globals will read back.
  void take(bool asWritten) {
    auto value = [asWritten](const char* v, bool trimmed = false) {
      return asWritten ? readBack(v, trimmed) : std::string(v);
    };
    logfn = value(g_logfn, true);
    myaddr = value(g_myaddr);
    metrics = value(g_metricsPath);
    tcp = g_TCPlistenport;
    udp = g_UDPlistenport;
    localusers = g_localusers;
    servers.clear();
    for (int i = 0; i < flServer.nodes(); i++) {
      const serverRec* s = serverAt(i);
      servers.push_back(value(s->address) + '\n' + value(s->login) + '\n' + value(s->password) +
                        '\n' + s->tags);
    }
    alerts.clear();
    for (int i = 0; i < g_alerts.count(); i++) {
      alerts.push_back(std::string(g_alerts.name(i)) + ':' + value(g_alerts.source(i)));
    }
  }
  void print(const char* title) const {
    fprintf(stderr, "%s: log=[%s] myaddr=[%s] tcp=%u udp=%u localusers=%u\n", title,
            logfn.c_str(), myaddr.c_str(), tcp, udp, unsigned(localusers));
    for (const std::string& s : servers) fprintf(stderr, "  server [%s]\n", s.c_str());
    for (const std::string& a : alerts) fprintf(stderr, "  alert [%s]\n", a.c_str());
  }
  bool operator==(const savedConfig& o) const {
    return logfn == o.logfn && myaddr == o.myaddr && metrics == o.metrics && tcp == o.tcp &&
           udp == o.udp && localusers == o.localusers && servers == o.servers &&
           alerts == o.alerts;
  }
};

// Every committed record within its limits, carrying the template header.
void checkRecords() {
  unsigned char header[kHeaderSize] = {0xFF, 0xFF, 0xFF, 0xFF, 'Q', 'Z', '_', 'U'};
  for (int i = 0; i < flServer.nodes(); i++) {
    const serverRec* s = serverAt(i);
    fuzzCheckText(s->address, sizeof s->address, kNameChars, "address too long");
    fuzzCheckText(s->login, sizeof s->login, kServerLoginChars, "login too long");
    fuzzCheckText(s->password, sizeof s->password, kServerPasswordChars, "password too long");
    if (!s->address[0]) fuzzFail("a server without address was committed");
    if (memcmp(s->header, header, kHeaderSize) != 0) fuzzFail("record header is not the template");
    if (s->rseed != kDefaultSeed) fuzzFail("record does not start from the default seed");
  }
  fuzzCheckText(g_logfn, sizeof g_logfn, kNameChars, "log file name too long");
  fuzzCheckText(g_myaddr, sizeof g_myaddr, kNameChars, "own address too long");
  fuzzCheckText(g_inifn, sizeof g_inifn, kNameChars, "configuration file name too long");
}

// writeini's file read back into fresh globals gives the same configuration,
// whatever the tokens held: one with a line break in its value was refused.
void checkRoundTrip() {
  savedConfig before;
  before.take(true);
  writeini("roundtrip.ini");
  fuzzResetGlobals();
  readFile("roundtrip.ini");
  commitPendingServer();
  savedConfig after;
  after.take(false);
  if (!(before == after)) {
    before.print("written");
    after.print("read back");
    fuzzFail("configuration changed through writeini and back");
  }
}

void resolveLocal() {
  for (int i = 0; i < flServer.nodes(); i++) {
    serverRec* s = serverAt(i);
    if (fuzzResolvesLocally(s->address)) resolveServer(s);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzInit(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  scratchInput scratch;
  fuzzResetGlobals();  // also empties flServer, which every "server=" grows
  std::string text = fuzzLocalText(data, size);
  writeFile("qzucon.ini", text);

  std::vector<std::string> tokens = commandLineTokens(text);
  for (const std::string& t : tokens) parseInput(t.c_str());
  commitPendingServer();
  readFile("qzucon.ini");
  commitPendingServer();

  checkRecords();
  resolveLocal();
  checkRoundTrip();
  return 0;
}
