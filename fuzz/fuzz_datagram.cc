// One inbound server datagram through recognition, challenge handling,
// unscrambling and display, against two servers with different passwords:
// A configured as 127.0.0.1:28100 (recognised by its address text) and B as
// 127.1:28101 (recognised only by where its packets go).
//
// Input: byte 0 chooses the source (bits 0-1: A, B, an unknown port on
// B's host, an unknown host), debug output (bit 2) and the tick (bit 3: 31000,
// where markHeartbeatDue must step around 0, else 100000). The rest is the
// datagram, at most 1500 bytes. Every input starts from the configured state.
#include <arpa/inet.h>

#include <cstring>

#include "app/globals.h"
#include "crypto/mt.h"
#include "fuzz/harness.h"
#include "protocol/reception.h"

namespace {

serverSnapshot g_configured;

sockaddr_in source(int choice) {
  static const char* const kIps[] = {"127.0.0.1", "127.0.0.1", "127.0.0.1", "192.0.2.7"};
  static const int kPorts[] = {28100, 28101, 28102, 28100};
  sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr(kIps[choice]);
  a.sin_port = htons(static_cast<uint16_t>(kPorts[choice]));
  return a;
}

// Only the record the source belongs to may change, and the log file name
// borrowed for the server's own log must be given back.
void checkAfter(int choice) {
  g_configured.checkIdentity();
  for (int i = 0; i < g_configured.size(); i++) {
    if (i != choice && g_configured.changed(i)) fuzzFail("a datagram changed another server");
  }
  if (strcmp(g_logfn, kFuzzLog) != 0) fuzzFail("log file name not restored");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzInit(argc, argv);
  scratchInput scratch;
  fuzzResetGlobals();
  fuzzTwoServers();
  g_configured.take();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;  // reception never hands on an empty datagram
  scratchInput scratch;
  int choice = data[0] & 3;
  uint32_t tick = (data[0] & 8) ? 31000 : 100000;
  int n = static_cast<int>(size - 1 < kMaxDatagram ? size - 1 : kMaxDatagram);

  g_configured.restore();
  g_debug = (data[0] & 4) ? 1 : 0;
  g_server = g_activeServer = nullptr;
  resetGenerator();
  // Leftovers of a longer datagram, as the buffer holds in a running console.
  memset(g_pkt, 'J', sizeof g_pkt);
  memcpy(g_pkt, data + 1, n);

  handleServerDatagram(source(choice), n, tick, tick);
  checkAfter(choice);
  return 0;
}
