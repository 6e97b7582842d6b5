// Administrator input: the keyboard, one local TCP connection and local UDP
// datagrams feed one line buffer with simple editing; each finished line is
// run by processInputLine. Only peers whose address text begins with
// "127.0.0.1" are local, and a local peer must also belong to the console's
// user or to root (input/peer_owner.h) unless "localusers=any" is set.
#ifndef QZUCON_INPUT_ADMIN_INPUT_H_
#define QZUCON_INPUT_ADMIN_INPUT_H_

#include <cstdint>

#include "app/line.h"
#include "input/peer_owner.h"
#include "runtime/keyboard.h"

constexpr int kLineChars = 256;
constexpr int kKeyWaitMs = 50;
constexpr int kCharsPerCall = 4096;  // characters one processAdminInput call takes at most
constexpr int kDatagramsPerCall = 4096;  // local datagrams one look takes while refusing them

extern char g_input[kLineChars + 1];     // the line being assembled
extern int32_t g_ll;                     // characters in g_input
extern char g_udpinput[kLineChars + 1];  // unused text of the last local datagram
extern uint8_t g_stdinEnded;             // standard input is at its end: no longer watched
extern refusedPeers g_refusedPeers;      // local peers refused lately as another user's
extern uint8_t g_diagState[2];           // diagState of the socket diagnostics: UDP, TCP
// Where the last character fed came from: the source of the line it ends.
extern journalSource g_inputFrom;

// Program-start state of the globals above.
void resetInputGlobals();

// The console's own inputs in the pass's one wait; the rest of kMaxWaitInput
// is room for the caller's.
constexpr int kAdminWaits = 5;

// Descriptors the pass's one wait watches for the caller beside the
// console's own inputs (the control socket's), and what it found on them.
struct otherWaits {
  int n = 0;
  int fds[kMaxWaitInput - kAdminWaits];
  int ready[kMaxWaitInput - kAdminWaits] = {};
};

// Takes characters from the sources until none yields one or kCharsPerCall
// are taken; each finished line goes to processInputLine with sock, tick and
// mono (the pass's monotonic ms, which also bounds the refusal lines).
// Only the first look waits, at most kKeyWaitMs, and that wait also ends when
// anything is waiting on sock or a local input socket. A standard input that
// is no terminal is dropped from the waits once it reports its end; with
// others, it also ends when one of theirs is ready (others->ready says which).
void processAdminInput(int sock, uint32_t tick, uint32_t mono, otherWaits* others = nullptr);

// Edits one character (non-zero) into the line; runs the line when it ends
// (line feed, carriage return, or 256 characters).
void feedAdminChar(int sock, uint32_t tick, uint32_t mono, int c);

// True when an address text names a local peer.
bool isLocalPeer(const char* addrText);

#endif  // QZUCON_INPUT_ADMIN_INPUT_H_
