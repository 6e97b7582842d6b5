// qzstandin: the socket and the clock around the stand-in engine. It waits
// for datagrams until the next log line is due, hands every waiting datagram
// to the engine, and writes the engine's notes to standard error. It runs
// until it is killed.
#include <cstdio>

#include "protocol/keys.h"
#include "runtime/clock.h"
#include "runtime/keyboard.h"
#include "runtime/sock.h"
#include "runtime/text.h"
#include "support/proc.h"
#include "tools/standin.h"

namespace {

constexpr int kIdleWaitMs = 1000;

class socketIo : public standinIo {
 public:
  explicit socketIo(int h) : h_(h) {}
  void send(const char* dest, const unsigned char* data, int len) override {
    trSendto(h_, reinterpret_cast<const char*>(data), static_cast<unsigned>(len), dest);
  }
  void note(const char* line) override { fprintf(stderr, "qzstandin: %s\n", line); }

 private:
  int h_;
};

int openSocket(const standinOptions& o, char* self) {
  int h = trSocket(0);
  if (h < 0) {
    fprintf(stderr, "qzstandin: error socket\n");
    return -1;
  }
  if (trBind(h, static_cast<unsigned>(o.port), o.bind) != 0) {
    fprintf(stderr, "qzstandin: error bind addr=%s port=%d\n", o.bind, o.port);
    trClosesocket(h);
    return -1;
  }
  trNonblock(h);
  trf(self, kAddrChars + 1, "%s:%d", o.bind, trSockPort(h));
  return h;
}

void drain(int h, standin* engine) {
  unsigned char buf[kMaxDatagramSize + 1];
  for (;;) {
    sockaddr_in from;
    int fromLen = sizeof from;
    int n = trRecvfrom(h, reinterpret_cast<char*>(buf), kMaxDatagramSize,
                       reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) return;
    char text[kAddrTextSize];
    trAddrstr(reinterpret_cast<sockaddr*>(&from), text);
    engine->onPacket(buf, n, text, trMonoMsWide());
  }
}

}  // namespace

int main(int argc, char** argv) {
  standinOptions o;
  char err[300];
  int r = parseStandinArgs(argc, argv, &o, err, sizeof err);
  if (r > 0) {
    fputs(standinUsage(), stdout);
    return 0;
  }
  if (r < 0) {
    fputs(standinUsage(), stderr);
    fprintf(stderr, "qzstandin: error %s\n", err);
    return 2;
  }
  char self[kAddrChars + 1];
  int h = openSocket(o, self);
  if (h < 0) return 1;
  socketIo io(h);
  standin engine(o, self, &io,
                 static_cast<uint32_t>(trMonoMsWide()) ^ (uint32_t(trSockPort(h)) << 12));
  fprintf(stderr, "qzstandin: listening addr=%s seed=%u\n", self, keystreamSeedFor(o.password));
  for (;;) {
    int64_t wait = engine.tick(trMonoMsWide());
    int ready = 0;
    trWaitInput(&h, 1, wait < 0 || wait > kIdleWaitMs ? kIdleWaitMs : static_cast<int>(wait),
                   &ready);
    if (ready) drain(h, &engine);
  }
}
