// What the console can tell about each server's link beyond showing its
// lines: whether it answers at all, whether its text unscrambles (a wrong
// password shows as noise), and the counts behind "qzuconstatus". The state
// is plain bytes inside each server record; the functions take the tick so
// tests drive them with chosen numbers.
#ifndef QZUCON_PROTOCOL_HEALTH_H_
#define QZUCON_PROTOCOL_HEALTH_H_

#include <cstdint>

// A server that has sent nothing this long after our first packet to it is
// reported once.
constexpr int32_t kSilenceMs = 10000;
// Texts shorter than this say too little to call them noise.
constexpr int kNoiseMinBytes = 8;

struct serverHealth {
  uint32_t firstSend;  // tick of the first packet to the server
  uint32_t lastLine;   // tick of its last shown line
  uint32_t lines;      // lines shown
  uint32_t heartbeats; // heartbeats sent
  uint8_t sent;        // a packet has gone to it
  uint8_t heard;       // it has sent a datagram we recognised
  uint8_t challenged;  // it has sent a challenge
  uint8_t answered;    // a packet carrying its current challenge has gone out
  uint8_t mismatch;    // its text under the current challenge is noise
  uint8_t silenceLogged;
};

struct serverRec;

// True when a text of at least kNoiseMinBytes bytes has more than a quarter
// of its characters that are neither printable ASCII, tab, CR, LF, nor a
// well-formed UTF-8 sequence. Text unscrambled with the wrong key has about
// three in five such bytes; a server's own lines almost none, even with a
// stray byte of another code page in a player's name. Pure.
bool looksScrambled(const unsigned char* text, int len);

// After a packet to r has left (a heartbeat when heartbeat is set).
void noteSent(serverRec* r, uint32_t tick, bool heartbeat);
// When r has sent a new challenge.
void noteChallenge(serverRec* r);
// When a datagram from r has been recognised; logs "**First answer from ..."
// when its silence had been reported.
void noteHeard(serverRec* r);
// When a text of len bytes from r is about to be shown (still as received
// after unscrambling); logs the password mismatch once per challenge.
void noteLine(serverRec* r, uint32_t tick, const unsigned char* text, int len);
// Logs once when r has been silent for kSilenceMs since the first packet.
void checkSilence(serverRec* r, uint32_t tick);
// How long from tick until checkSilence could have something to say about r:
// 0 when now, the largest value when never (nothing sent, or heard, or said).
uint32_t silenceCheckIn(const serverRec* r, uint32_t tick);

// The state of r's link as a script needs it, from the same facts as the
// status line: kLinkMismatch, kLinkNoAnswer, kLinkUp (its current challenge
// has been answered) or kLinkWaiting (nothing of that yet).
enum linkStateKind { kLinkWaiting, kLinkUp, kLinkMismatch, kLinkNoAnswer };
linkStateKind linkState(const serverRec* r);

// The "qzuconstatus" line for r, with its "\n", into out (size bytes).
void statusLine(const serverRec* r, uint32_t tick, char* out, int size);

#endif  // QZUCON_PROTOCOL_HEALTH_H_
