// What the console can tell about each server's link beyond showing its
// lines: whether it answers at all, whether its text unscrambles (a wrong
// password shows as noise, a right one as text that confirms the key), and
// the counts behind "qzuconstatus". The state
// is plain bytes inside each server record. Every time here is monotonic
// milliseconds (trMonoMs), never the tick: a clock set forward or back must
// not make a server look silent or fresh. The functions take that time as an
// argument so tests drive them with chosen numbers.
#ifndef QZUCON_PROTOCOL_HEALTH_H_
#define QZUCON_PROTOCOL_HEALTH_H_

#include <cstdint>

// A server that has sent nothing this long after our first packet to it is
// reported once.
constexpr int32_t kSilenceMs = 10000;

// A command to a server that had talked counts as unanswered once this much
// has passed without a datagram from it, and nothing came from it for
// kSilenceMs before: it then counts as unreachable.
constexpr uint32_t kCommandAnswerMs = 1000;

// While a server that had talked is silent or unreachable, heartbeats go to it
// every kProbeMs instead of every 30 s, so that a restarted server is heard
// within seconds; for kProbeWindowMs at most, then the usual heartbeat.
constexpr int32_t kProbeMs = 2000;
constexpr uint32_t kProbeWindowMs = 300000;
// A server that talks at a steady pace and stops is probed sooner than after
// kSilenceMs: once its silence is kProbeGaps times its usual gap between
// datagrams, kProbeSoonestMs at the soonest. A server that talks rarely keeps
// the usual heartbeat between its lines.
constexpr int32_t kProbeGaps = 3;
constexpr int32_t kProbeSoonestMs = 2500;

// The silence after which r's probes start: kProbeGaps times usualGap (the
// server's smoothed gap between datagrams, 0 when not known yet), within
// kProbeSoonestMs and kSilenceMs. Pure.
int32_t probeAfterMs(uint32_t usualGap);

// serverHealth::unreachable
enum { kReachable = 0, kUnreachPort = 1, kUnreachSilent = 2 };

// The password check looks at datagram bodies of at least kNoiseMinBytes
// bytes (shorter ones say too little) and judges the last kNoiseLines of them
// together.
constexpr int kNoiseMinBytes = 16;
constexpr int kNoiseLines = 3;

// What one unscrambled datagram body (the bytes behind the 8-byte header:
// text, its NUL and whatever follows) shows about the key it was unscrambled
// with.
struct lineTraits {
  uint16_t bytes;     // the whole body
  uint16_t text;      // the bytes before the NULs that end it
  uint16_t controls;  // C0 controls other than tab, LF, CR and ESC (NULs
                      // that do not end the body included); DEL
  uint16_t high;      // bytes with the high bit set
  uint8_t nulAstray;  // the body does not end with its text's NUL (NULs only after it)
};

// The last kNoiseLines judged bodies, oldest first.
struct noiseWindow {
  lineTraits line[kNoiseLines];
  uint8_t count;
};

struct serverHealth {
  uint32_t firstSend;  // monotonic ms of the first packet to the server
  uint32_t lastLine;   // monotonic ms of its last shown line
  // Counts as the metrics file publishes them: in 64 bits, as a busy server
  // would wrap 32 in weeks and a counter must never go down.
  uint64_t lines;       // lines shown
  uint64_t heartbeats;  // heartbeats sent
  uint64_t commands;    // command packets sent
  uint64_t bytes;       // bytes of the datagrams recognised as its own
  uint64_t challenges;  // new challenges taken over
  uint8_t sent;        // a packet has gone to it
  uint8_t heard;       // it has sent a datagram we recognised
  uint8_t challenged;  // it has sent a challenge
  uint8_t answered;    // a packet carrying its current challenge has gone out
  uint8_t mismatch;    // its text reported as noise since its last challenge
  uint8_t refused;     // its last challenge took the place of one we had answered, with no
                       // line in between, while its key was not confirmed (see noteChallenge)
  uint8_t lineOnAnswer;  // a line has come under the current challenge since it was answered
  uint8_t confirmed;   // its last judged text showed the key right (see keyEvidence)
  uint8_t silenceLogged;
  uint32_t lastHeard;      // monotonic ms of its last recognised datagram
  uint32_t usualGap;       // its smoothed gap in ms between datagrams (probeAfterMs)
  uint32_t commandSince;   // monotonic ms of the first command after that datagram
  uint32_t unreachableAt;  // monotonic ms it was found unreachable
  uint8_t commandWaiting;  // a command has gone to it since its last datagram
  // kUnreachPort: the kernel reported its port closed (an ICMP port
  // unreachable for a datagram to it); kUnreachSilent: a command to it went
  // unanswered after kSilenceMs of silence. Until its next datagram.
  uint8_t unreachable;
  noiseWindow noise;   // bodies since its first challenge
};

struct serverRec;

// The states a script may ask about (qzuconstatus shows them):
// r's text has been reported as noise since its last challenge, or r refused
// our proof (noteChallenge);
bool passwordMismatch(const serverRec* r);
// r was reported silent and has sent nothing recognisable since.
bool noAnswer(const serverRec* r);
// r's current challenge is answered and its text has shown the key right.
bool keyConfirmed(const serverRec* r);
// r's port was reported closed, or a command to it went unanswered, and it
// has sent nothing since.
bool unreachable(const serverRec* r);

// The traits of one body of len bytes. Pure.
lineTraits traitsOf(const unsigned char* body, int len);

// True when these n bodies together look unscrambled with a wrong key. Noise
// has traits that no text has at once: about one byte in nine a control
// (counted in lineTraits), about half with the high bit, and the NUL the
// server ends its text with not at the body's end. Text in a code page or
// GBK has the high bits but no controls; engine colour bytes have controls
// but no high bits; a server's text always ends with its NUL. So this needs
// all three, over the n bodies (n >= 1): the NUL astray in two of three, the
// high bits between a sixth and five sixths, and a control at least. The
// keystream starts afresh in every body, so short bodies show much the same
// bytes of it again; the bounds are that wide for this. Pure.
bool looksScrambled(const lineTraits* lines, int n);

// Adds a body to w when it is long enough to judge; true when looksScrambled
// holds for the full window, or for that body alone: one body with all three
// traits is noise whatever the others are, and the window is for the short
// bodies that alone say too little.
bool judgeBody(noiseWindow* w, const unsigned char* body, int len);

// How strongly one body shows that its key is right, in bits: about how
// unlikely a wrong key is to yield traits as text-like. A wrong key makes
// every byte as good as random, so the NUL that ends the text, and none
// before it, comes with odds of 1 in 256 (8 bits); n text bytes without a
// stray control with (227/256)^n; without a high bit with 2^-n. Bytes of
// random text are spread over all three classes, so the odds of two traits
// together are no larger than their product and the bits add. Pure.
double keyEvidence(const lineTraits& t);

// The bits a single body needs to confirm its key: a wrong key yields that
// about once in 2^17 bodies (there are seven ways to reach it). Common
// server lines reach it alone: 11 ASCII characters and the NUL, or 70 bytes
// of UTF-8 or a code page with the NUL.
constexpr double kConfirmBits = 20;

// After a packet to r has left (a heartbeat when heartbeat is set).
void noteSent(serverRec* r, uint32_t mono, bool heartbeat);
// When r has sent a new challenge. A server that takes our proof goes on
// under its challenge; one that answers the proof with a new challenge, before
// any line, has refused it: logged as a password mismatch unless the key is
// confirmed (the keystream depends on the password only, so confirmed text
// shows the password right whatever the proof met). This tells a wrong
// password whose text a server leaves looking like text: about one in 256,
// when the wrong key turns the last byte of a greeting into the NUL.
void noteChallenge(serverRec* r);
// When r's login or password changed while the console runs: what its
// session had shown (challenge, answer, confirmed key, mismatch, the bodies
// judged) is forgotten; its counts stay.
void forgetSession(serverRec* r);
// When a datagram of `bytes` bytes from r has been recognised at monotonic
// time mono; logs "**First answer from ..." when its silence had been
// reported or it was unreachable before it ever answered, "**Answer again
// from ..." (bounded) when it was unreachable after it had.
void noteHeard(serverRec* r, int bytes, uint32_t mono);
// When the kernel reports a datagram to r met an ICMP port unreachable, sent
// by offender (address text): marks r unreachable and logs that (bounded)
// unless it already was. Whoever can forge that ICMP could as well make r
// look silent; what it causes lasts until r's next datagram, and its lines are
// bounded per second.
void notePortUnreachable(serverRec* r, uint32_t mono, const char* offender);
// Whether heartbeats go to r every kProbeMs at mono: it had talked, and is
// unreachable or has been silent probeAfterMs, for less than kProbeWindowMs.
bool probing(const serverRec* r, uint32_t mono);
// How long from mono until probing could start for r (its silence reaching
// probeAfterMs); the largest value when it cannot, or already does.
uint32_t probeIn(const serverRec* r, uint32_t mono);
// When the body of a datagram from r (len bytes behind the header, just
// unscrambled, before anything is made printable) is about to be shown at
// monotonic time mono; logs the password mismatch once per challenge, and
// marks the key confirmed when the body reaches kConfirmBits (until a body
// looks scrambled). The keystream depends on the password only, so the
// bodies of earlier challenges count as well.
void noteLine(serverRec* r, uint32_t mono, const unsigned char* body, int len);
// Logs once when r has been silent for kSilenceMs since the first packet;
// marks r unreachable, and logs that, when a command to it has gone unanswered
// (kCommandAnswerMs) after kSilenceMs without a datagram.
void checkSilence(serverRec* r, uint32_t mono);
// How long from mono until checkSilence could have something to say about r:
// 0 when now, the largest value when never (nothing sent, or heard, or said).
uint32_t silenceCheckIn(const serverRec* r, uint32_t mono);

// The state of r's link as a script needs it, from the same facts as the
// status line: kLinkUnreachable, kLinkMismatch, kLinkNoAnswer, kLinkConfirmed (its current
// challenge has been answered and its text shows the key right), kLinkUp
// (answered, the key not shown right yet) or kLinkWaiting (nothing of that
// yet).
enum linkStateKind {
  kLinkWaiting,
  kLinkUp,
  kLinkMismatch,
  kLinkNoAnswer,
  kLinkConfirmed,
  kLinkUnreachable
};
linkStateKind linkState(const serverRec* r);

// Whether r counts as up at mono for those who watch a fleet: its session is
// up (linkState) and a line has come from it within the last kSilenceMs, so
// a server that stops shows as down within seconds, not only before its
// first answer.
bool serverUp(const serverRec* r, uint32_t mono);

// The "qzuconstatus" line for r at mono, with its "\n", into out (size bytes).
void statusLine(const serverRec* r, uint32_t mono, char* out, int size);

#endif  // QZUCON_PROTOCOL_HEALTH_H_
