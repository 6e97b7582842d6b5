// A stream of administrator input through line assembly and the console
// commands. Command packets go to socket handle -1, so nothing is sent; files
// named by "qzuconwrite" and "qzuconlog" land in the scratch folder, as '/'
// and '\' never reach the commands.
//
// Three servers: two numeric ones and one configured by name, resolved here
// by hand (a fuzzer asks no name server) so that "qzuconactive" can also find
// a server by the address "qzuconlist" shows.
#include <cstring>

#include "app/config.h"
#include "app/globals.h"
#include "fuzz/harness.h"
#include "input/admin_input.h"
#include "runtime/text.h"

namespace {

serverSnapshot g_configured;

void addNamedServer() {
  parseInput("server=console-host:28102");
  parseInput("login=guest");
  parseInput("password=pass");
  commitPendingServer();
  serverRec* r = serverAt(flServer.nodes() - 1);
  strzcpy(r->ip, "127.0.0.1", 256);
  r->port = 28102;
  strzcpy(r->ipPort, "127.0.0.1:28102", 255);
}

void checkAfter() {
  g_configured.checkIdentity();
  // Between characters the line is not terminated; only its length is bounded.
  if (g_ll < 0 || g_ll >= kLineChars) fuzzFail("line length out of range");
  fuzzCheckText(g_logfn, sizeof g_logfn, kNameChars, "log file name too long");
  bool known = g_activeServer == nullptr;
  for (int i = 0; i < flServer.nodes(); i++) known = known || g_activeServer == serverAt(i);
  if (!known) fuzzFail("active server is not a configured record");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzInit(argc, argv);
  scratchInput scratch;
  fuzzCommandConsole();
  addNamedServer();
  g_configured.take();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  scratchInput scratch;
  fuzzCommandInput(g_configured);
  resetInputGlobals();

  std::string text = fuzzLocalText(data, size);
  for (char ch : text) {
    int c = static_cast<unsigned char>(ch);
    if (c != 0) feedAdminChar(-1, kFuzzTick, kFuzzTick, c);  // the sources never hand on a zero
  }
  checkAfter();
  return 0;
}
