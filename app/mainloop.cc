// The console main loop: sockets, announcement, passes, exit notices.
#include "app/mainloop.h"

#include <cstdlib>
#include <cstring>

#include "app/bounded.h"
#include "app/control.h"
#include "app/ctltop.h"
#include "app/globals.h"
#include "app/journal.h"
#include "app/log.h"
#include "app/logfiles.h"
#include "app/metrics.h"
#include "input/admin_input.h"
#include "protocol/outbound.h"
#include "protocol/reception.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/signals.h"
#include "runtime/sock.h"
#include "runtime/text.h"

namespace {

// A busy server outruns the kernel's default queue between two passes, and a
// burst on the local UDP input must not crowd out the owner's datagram.
constexpr int kRcvbuf = 4 << 20;

void onTerminate(int) {
  g_exit = 1;
  trDefaultTerminate();  // a second signal ends the program at once
}

// Opens one optional local input socket, on loopback only: nobody elsewhere
// has any business with it. It stays invalid when that fails, and the
// operator is told why (most often another program holds the port). Only the
// listener reuses its address, for a restart while old connections linger.
void openLocal(trsock* s, int type, uint32_t port) {
  s->handle = trSocket(type);
  if (s->valid() && type != 0) trReuseAddr(s->handle);
  int failed = !s->valid() || trBind(s->handle, port, "127.0.0.1") != 0 ||
               (type != 0 && trListen(s->handle, 3) != 0);
  if (failed) {
    int err = trLastError();
    s->sClose();
    log("ERROR: Unable to open local %s input on port %lu: %s\n", type != 0 ? "TCP" : "UDP",
        static_cast<unsigned long>(port & 0xFFFF), trErrorText(err));
    return;
  }
  trNonblock(s->handle);
  if (type == 0) trRcvbuf(s->handle, kRcvbuf);
}

bool openServerSocket() {
  g_sock.handle = trSocket(0);
  if (!g_sock.valid()) {
    log("ERROR: Unable to open new socket\n");
    return false;
  }
  unsigned long port = atoul(strchr(g_myaddr, ':') + 1) & 0xFFFF;
  if (trBind(g_sock.handle, static_cast<unsigned>(port), "") != 0) {
    log("ERROR: Unable to bind to UDP port %lu\n", port);
    return false;
  }
  trNonblock(g_sock.handle);
  trRcvbuf(g_sock.handle, kRcvbuf);
  // The kernel's word that a server's port is closed. Linux has had it for
  // good; were it refused, the silence of a command's answer still tells.
  trRecvErrors(g_sock.handle);
  return true;
}

void announce() {
  const unsigned char* c = g_HEADER + 8;
  logAbout(nullptr, kPrioNotice, kEventStarted,
           "**Console active. Client Challenge = %02x%02x%02x%02x\n", c[0], c[1], c[2], c[3]);
  log("**Press [Enter] to initiate challenge. \"qzuconexit\" exits.\n");
  if (g_TCPsock.valid()) {
    log("Listening for localhost TCP plaintext input on port %ld.\n", long(g_TCPlistenport));
  }
  if (g_UDPsock.valid()) {
    log("Listening for localhost UDP plaintext input on port %ld.\n", long(g_UDPlistenport));
  }
}

}  // namespace

void drawClientChallenge(uint32_t seed) {
  srand(seed);
  for (int i = 8; i < 12; i++) {
    while (g_HEADER[i] == 0) g_HEADER[i] = static_cast<unsigned char>(rand() & 0xFF);
  }
}

unsigned pauseAfter(int taken, bool full, uint32_t sinceMs) {
  if (full) return 0;
  if (taken < kBusyPass) return 1;
  uint64_t aim = uint64_t{sinceMs} * kPassAim / static_cast<unsigned>(taken);
  return aim < 1 ? 1 : aim > kBusyPauseMs ? kBusyPauseMs : static_cast<unsigned>(aim);
}

unsigned runPass(uint32_t tick, uint32_t mono, bool first, uint32_t sinceMs) {
  holdLog();
  if (first) armHeartbeats(tick);
  flushBoundedLines(mono);
  reportJournalDrops(mono, false);
  bool full = false;
  int taken = processServerLogging(g_sock.handle, tick, mono, &full);
  // Out before admin input may wait for a key: a line never waits for that.
  writeLog();
  controlPass(g_sock.handle, tick, mono);
  otherWaits ctl;  // the control socket's clients wake the pass's one wait too
  ctl.n = controlWaitFds(ctl.fds, kMaxWaitInput - kAdminWaits);
  processAdminInput(g_sock.handle, tick, mono, &ctl);
  controlNoteWait(ctl.ready, ctl.n);
  checkHeartbeat(g_sock.handle, tick, mono);
  metricsPass(mono);
  topPass(mono);
  releaseLog();
  return pauseAfter(taken, full, sinceMs);
}

bool qzucon() {
  trOnTerminate(onTerminate);
  drawClientChallenge(GetTickCount());
  g_logFiles.setRoom(logFilesRoom(trRaiseFileLimit()));
  if (!openServerSocket()) return false;
  if (g_TCPlistenport) openLocal(&g_TCPsock, 1, g_TCPlistenport);
  if (g_UDPlistenport) openLocal(&g_UDPsock, 0, g_UDPlistenport);
  controlOpen(atoul(strchr(g_myaddr, ':') + 1) & 0xFFFF);
  metricsNoteStart();
  announce();
  journalRunning();
  unsigned pause = 1;
  uint32_t last = trMonoMs();
  for (bool first = true; !g_exit; first = false) {
    if (pause > 0) trSleep(pause);
    uint32_t mono = trMonoMs();
    pause = runPass(GetTickCount(), mono, first, mono - last);
    last = mono;
  }
  reportJournalDrops(trMonoMs(), true);
  sendExitNotices(g_sock.handle, trMonoMs());
  journalEnding(flServer.nodes());
  metricsExit(trMonoMs());
  trSleep(1000);
  // Last: a client waiting for the end sees its connection close only once
  // the exit notices are out.
  controlClose();
  return true;
}
