// qzstandin: a stand-in for the service module of a remote server, the peer
// the console talks to over UDP. It exists so the console can be run and
// tested on machines without such a server. This file holds the pure wire
// functions (reading a console packet, building a server datagram) and the
// peer's behaviour as a socket-free engine; standin_main.cc owns the socket.
//
// Where the console's side of the protocol says nothing about the server, the
// choices here are ours: when to challenge, what to do with commands, what to
// log. They are listed in the program's --help text.
#ifndef QZUCON_TOOLS_STANDIN_H_
#define QZUCON_TOOLS_STANDIN_H_

#include <cstdint>

#include "protocol/peer.h"

// What a peer shares with the console comes from protocol/peer.h and
// protocol/keys.h (default seed, key derivation), the code a real server
// module would implement the same way. The packet layout and limits below
// are the stand-in's own reading of the wire, kept apart from the console's
// constants so that a slip in either shows up as a failed exchange.
constexpr uint32_t kStandinDefaultSeed = kDefaultSeed;  // keystream before any challenge
constexpr int kConsoleHeaderSize = 32;
constexpr int kServerHeaderSize = 8;  // client challenge, server challenge
constexpr int kMaxDatagramSize = 1500;
constexpr int kAddrChars = 256;   // console address in the prefix
constexpr int kLoginChars = 32;
constexpr int kPasswordChars = 64;

// Results of parseConsolePacket: a kind, or a reason for rejecting it.
constexpr int kPacketHeartbeat = 0;
constexpr int kPacketCommand = 1;
constexpr int kPacketShort = -1;   // shorter than header, ";;" and a NUL
constexpr int kPacketMagic = -2;   // not FF FF FF FF "QZ_U"
constexpr int kPacketPrefix = -3;  // no "<addr>;<login>;" or a field too long
constexpr int kPacketNoText = -4;  // nothing after the prefix, not even a NUL

struct consolePacket {
  unsigned char clientChallenge[4];  // header bytes 8..11
  unsigned char serverChallenge[4];  // header bytes 12..15
  unsigned char digest[16];          // header bytes 16..31
  char consoleAddr[kAddrChars + 1];
  char login[kLoginChars + 1];
  // Unscrambled command text up to its NUL (or the packet's end); empty for
  // a heartbeat and for an empty command.
  char command[kMaxDatagramSize + 1];
};

// The seed a console scrambles with: the default until it has taken a
// challenge (header challenge all zero), afterwards its password's seed. The
// console derives that from its own password, so a console with another
// password is read as noise - and fails the proof check as well.
uint32_t consoleSeed(const unsigned char serverChallenge[4], const char* password);

// Reads one console packet of n bytes. Returns a kPacket* value; out is
// filled only for heartbeats and commands. A tail of one plain 0x00 is a
// heartbeat; an empty command whose scrambled NUL happens to be 0x00 under
// the seed cannot be told from one and is taken as a heartbeat.
int parseConsolePacket(const unsigned char* pkt, int n, const char* password, consolePacket* out);

// True when the packet answers challenge `issued` with the proof our
// password gives.
bool proofValid(const consolePacket& p, const unsigned char issued[4], const char* password);

// Builds a server datagram into out (size bytes): the two challenges, then
// text and its NUL scrambled with seed. The text is cut to fit. Returns the
// length, or -1 when size cannot hold the header and a NUL.
int buildServerDatagram(const unsigned char clientChallenge[4],
                        const unsigned char serverChallenge[4], uint32_t seed, const char* text,
                        unsigned char* out, int size);

// Copies text for a one-line note: bytes outside 0x20..0x7E become '?', at
// most size-1 of them, then a NUL.
void printableCopy(char* out, int size, const char* text);

// ---- Options ----

struct standinOptions {
  int port;                         // 0 = any free port (reported)
  char bind[kAddrChars + 1];        // local address, default 127.0.0.1
  char password[kPasswordChars + 1];
  char login[kLoginChars + 1];      // empty = any login is served
  int intervalMs;                   // between log lines; 0 = no log lines
  long count;                       // lines per console, 0 = no limit
  bool quiet;                       // drop the per-line and heartbeat notes
  // The log lines' text instead of "qzstandin ADDR line N"; "" = that. The
  // datagram cuts a longer one.
  char text[kMaxDatagramSize];
};

// Parses the command line (argv[1..]). Returns 0 to run, 1 when --help was
// asked, -1 on a bad option (a reason is written to err, errSize bytes).
int parseStandinArgs(int argc, const char* const* argv, standinOptions* o, char* err, int errSize);

// The usage text, with the behaviour choices spelled out.
const char* standinUsage();

// ---- The peer's behaviour ----

// What the engine does to the outside world.
class standinIo {
 public:
  virtual ~standinIo() {}
  // Sends one datagram to the address text dest ("a.b.c.d:port").
  virtual void send(const char* dest, const unsigned char* data, int len) = 0;
  // One event line, "<event> key=value ...", without a line end.
  virtual void note(const char* line) = 0;
};

constexpr int kMaxConsoles = 32;
// An unproven console is challenged again at most this often, so a console
// with a wrong password or a challenge still in flight causes no storm.
constexpr int kRechallengeMs = 1000;

struct consoleSlot {
  bool used;
  bool proven;
  char addr[kAddrChars + 1];    // as the console names itself: the table key
  char login[kLoginChars + 1];
  char reply[kAddrChars + 1];   // where datagrams to it go
  unsigned char clientChallenge[4];
  unsigned char issued[4];      // our last challenge to it
  int64_t challengedAt;
  int64_t nextLineAt;
  long lines;                   // log lines sent so far
};

class standin {
 public:
  // self is our own address text, named in the log lines. randomSeed starts
  // the challenge generator (any value; 0 is replaced).
  standin(const standinOptions& o, const char* self, standinIo* io, uint32_t randomSeed);

  // One datagram from source address text `from`, at time now (ms).
  void onPacket(const unsigned char* pkt, int n, const char* from, int64_t now);
  // Sends the log lines that are due. Returns the ms until the next one is
  // due, or -1 when none is pending.
  int64_t tick(int64_t now);

  const consoleSlot* find(const char* addr) const;

 private:
  consoleSlot* lookup(const char* addr);
  consoleSlot* admit(const consolePacket& p, const char* from, int64_t now);
  void challenge(consoleSlot* c, const char* reason, int64_t now);
  void checkProof(consoleSlot* c, const consolePacket& p, int64_t now);
  void onCommand(consoleSlot* c, const consolePacket& p);
  void sendLine(consoleSlot* c, const unsigned char* challenge, uint32_t seed, const char* text);
  void notef(bool routine, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  uint32_t nextRandom();

  standinOptions opt_;
  char self_[kAddrChars + 1];
  standinIo* io_;
  uint32_t rnd_;
  uint32_t seed_;  // keystreamSeedFor(password), computed once
  consoleSlot slots_[kMaxConsoles];
  consolePacket packet_;  // the packet in hand; too big for the stack's taste
};

#endif  // QZUCON_TOOLS_STANDIN_H_
