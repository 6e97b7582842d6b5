// The three admin input sources and line assembly.
#include "input/admin_input.h"

#include <cstring>

#include "app/bounded.h"
#include "app/globals.h"
#include "app/log.h"
#include "input/commands.h"
#include "input/peer_owner.h"
#include "runtime/keyboard.h"
#include "runtime/sock.h"
#include "runtime/text.h"

char g_input[kLineChars + 1];
int32_t g_ll;
char g_udpinput[kLineChars + 1];
uint8_t g_stdinEnded;
journalSource g_inputFrom = kSourceKeyboard;
refusedPeers g_refusedPeers;
uint8_t g_diagState[2];

void resetInputGlobals() {
  g_input[0] = 0;
  g_ll = 0;
  g_udpinput[0] = 0;
  g_stdinEnded = 0;
  g_inputFrom = kSourceKeyboard;
  g_refusedPeers.reset();
  g_diagState[0] = g_diagState[1] = kDiagUntried;
}

bool isLocalPeer(const char* addrText) {
  static const char kLocal[] = "127.0.0.1";
  return strncmp(addrText, kLocal, sizeof kLocal - 1) == 0;
}

namespace {

// Admits a pending local connection when none is admitted. mono (monotonic
// ms) bounds the refusal lines, here and below.
void admitConnection(uint32_t mono) {
  sockaddr_in peer;
  g_TCPsockActive.handle = trAcceptFrom(g_TCPsock.handle, reinterpret_cast<sockaddr*>(&peer));
  if (!g_TCPsockActive.valid()) return;
  char text[kAddrTextSize];
  trAddrstr(reinterpret_cast<sockaddr*>(&peer), text);
  if (!isLocalPeer(text)) {
    g_TCPsockActive.sClose();
    logBounded(kTcpDenied, mono, text);
    return;
  }
  if (!admitLocalPeer(peer, g_TCPsockActive.handle, true, mono)) {
    g_TCPsockActive.sClose();
    return;
  }
  // An idle local client must never hold up the loop.
  trNonblock(g_TCPsockActive.handle);
  log("TCP Listen Socket Opened for local Admin Input\n");
}

int tcpChar(uint32_t mono) {
  if (!g_TCPsockActive.valid()) admitConnection(mono);
  if (!g_TCPsockActive.valid()) return 0;
  sockaddr_in other;
  int extra = trAcceptFrom(g_TCPsock.handle, reinterpret_cast<sockaddr*>(&other));
  if (extra != -1) {
    trClosesocket(extra);
    logBounded(kTcpBusy, mono);
  }
  char c = 0;
  int n = trRecv(g_TCPsockActive.handle, &c, 1);
  if (n > 0) return c == 13 ? 0 : static_cast<unsigned char>(c);
  if (n == 0) {
    g_TCPsockActive.sClose();
    log("TCP Listen Socket closed due to broken connection\n");
  }
  return 0;
}

// Reads datagrams until one is let in. Refused ones are dropped here, up to
// kDatagramsPerCall of them: a flood from strangers would otherwise cost a
// pass a datagram, and the owner's datagram behind it would wait until its
// sender had given up.
void receiveUdpText(uint32_t mono) {
  for (int i = 0; i < kDatagramsPerCall; i++) {
    sockaddr_in from;
    int fromLen = sizeof from;
    int n = trRecvfrom(g_UDPsock.handle, reinterpret_cast<char*>(g_pkt), kMaxDatagram,
                       reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) return;
    if (n == 0 || refusedLately(from, false, mono)) continue;
    char text[kAddrTextSize];
    trAddrstr(reinterpret_cast<sockaddr*>(&from), text);
    if (!isLocalPeer(text) || !admitLocalPeer(from, g_UDPsock.handle, false, mono)) continue;
    // The text ends at the first zero byte or at the datagram's end.
    int len = 0;
    while (len < n && len < kLineChars && g_pkt[len]) len++;
    memcpy(g_udpinput, g_pkt, len);
    g_udpinput[len] = 0;
    return;
  }
}

int udpChar(uint32_t mono) {
  if (g_udpinput[0]) {
    int c = static_cast<unsigned char>(g_udpinput[0]);
    memmove(g_udpinput, g_udpinput + 1, strlen(g_udpinput));
    return c == 13 ? 0 : c;
  }
  if (g_UDPsock.valid()) receiveUdpText(mono);
  return 0;
}

// One key when standard input has one waiting. A standard input that is no
// terminal stays at its end once there, so it is dropped: every wait would
// find it ready and the loop would spin. A terminal's Ctrl-D is no end.
int keyChar(bool waiting) {
  if (!waiting || g_stdinEnded) return 0;
  char c = 0;
  int n = trReadKey(&c);
  if (n == 1) return static_cast<unsigned char>(c);
  if (n == 0 && !trIsTerminal(trStdinFd())) g_stdinEnded = 1;
  return 0;
}

// What one wait found on standard input: true when a key is waiting. A
// standard input that is not open at all is dropped.
bool keyIn(int ready) {
  if (ready & kFdInvalid) g_stdinEnded = 1;
  return (ready & kFdReadable) != 0;
}

// A look at standard input alone, without waiting, through the pass's one wait.
bool keyWaiting() {
  if (g_stdinEnded) return false;
  int fd = trStdinFd();
  int ready = 0;
  return trWaitInput(&fd, 1, 0, &ready) > 0 && keyIn(ready);
}

// The one wait of a pass: it ends as soon as a key or anything on one of the
// console's sockets is waiting, so that what arrives is taken within the next
// pass. True when standard input is ready.
bool waitForInput(int sock, unsigned waitMs, otherWaits* others) {
  enum { kKeys, kServer, kListener, kLocalTcp, kLocalUdp, kSources };
  static_assert(kSources == kAdminWaits, "the room left for others");
  int fds[kMaxWaitInput] = {g_stdinEnded ? -1 : trStdinFd(), sock, g_TCPsock.handle,
                            g_TCPsockActive.handle, g_UDPsock.handle};
  int n = kSources;
  if (others) {
    memcpy(fds + kSources, others->fds, sizeof(int) * static_cast<size_t>(others->n));
    n += others->n;
  }
  int ready[kMaxWaitInput] = {};
  bool any = trWaitInput(fds, n, waitMs, ready) > 0;
  if (others) memcpy(others->ready, ready + kSources, sizeof(int) * static_cast<size_t>(others->n));
  return any && keyIn(ready[kKeys]);
}

int nextChar(bool keyReady, uint32_t mono) {
  int c = keyChar(keyReady);
  g_inputFrom = kSourceKeyboard;
  if (c == 0 && g_TCPsock.valid()) {
    c = tcpChar(mono);
    g_inputFrom = kSourceTcp;
  }
  if (c == 0) {
    c = udpChar(mono);
    g_inputFrom = kSourceUdp;
  }
  return c;
}

}  // namespace

void feedAdminChar(int sock, uint32_t tick, uint32_t mono, int c) {
  if (c == 13) c = 10;
  if (c == 8) {
    if (g_ll > 0) g_input[--g_ll] = 0;
  } else if (c != 10) {
    g_input[g_ll++] = static_cast<char>(c);
  }
  if (c == 10 || g_ll >= kLineChars) {
    g_input[g_ll] = 0;
    processInputLine(sock, tick, mono, g_input);
    g_ll = 0;
    g_input[0] = 0;
  }
}

void processAdminInput(int sock, uint32_t tick, uint32_t mono, otherWaits* others) {
  // Only the first look waits, and a call takes a bounded number of
  // characters: a script typing without pause must not hold up reception and
  // heartbeats. A partial line waits in g_input for the next call. Text left
  // from a local datagram is input already here: no reason to wait for more.
  bool keyReady = waitForInput(sock, g_udpinput[0] ? 0 : kKeyWaitMs, others);
  for (int taken = 0; taken < kCharsPerCall; taken++) {
    if (taken > 0) keyReady = keyWaiting();
    int c = nextChar(keyReady, mono);
    if (c == 0) return;
    feedAdminChar(sock, tick, mono, c);
  }
}
