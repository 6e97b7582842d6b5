// The server record, the wire layout of the packet header, and the protocol
// layer's globals: the header template, the one packet buffer and the two
// record pointers. Behaviour lives in reception.cc and outbound.cc.
#ifndef QZUCON_PROTOCOL_SERVER_H_
#define QZUCON_PROTOCOL_SERVER_H_

#include <cstdint>

#include "fleet/tags.h"
#include "limits/limit.h"
#include "limits/linekinds.h"
#include "protocol/health.h"
#include "protocol/peer.h"
#include "protocol/srvindex.h"

// Header layout: every packet to a server opens with these 32 bytes.
constexpr int kMagicOffset = 0;            // FF FF FF FF "QZ_U"
constexpr int kClientChallengeOffset = 8;  // 4 raw bytes
constexpr int kServerChallengeOffset = 12; // 4 raw bytes
constexpr int kAuthDigestOffset = 16;      // 16 bytes
constexpr int kHeaderSize = 32;
constexpr int kChallengeSize = 4;
constexpr int kDigestSize = 16;

// A server's datagram opens with the console's challenge it answers and its
// own challenge, then the scrambled text.
constexpr int kInClientChallengeOffset = 0;
constexpr int kInServerChallengeOffset = 4;
constexpr int kInTextOffset = 8;

constexpr int kPktSize = 1501;      // one datagram of 1500 bytes and a zero
constexpr int kMaxDatagram = 1500;
constexpr int kTextAreaSize = 600;  // outbound text behind the header

// The longest login and password a server takes (configuration refuses more).
constexpr int kServerLoginChars = 32;
constexpr int kServerPasswordChars = 64;

// One configured server, held by value in flServer. Plain bytes: no pointers.
struct serverRec {
  char login[kServerLoginChars + 1];
  char password[kServerPasswordChars + 1];
  char address[257];  // as configured: host ':' port
  char ip[257];       // host part as dotted IPv4, empty when unresolvable
  uint32_t port;      // the full number after the first ':'
  char ipPort[256];   // "%s:%lu" of ip and port: where packets go
  uint32_t lastSend;  // tick of the last packet sent; 0 = no heartbeats
  unsigned char header[kHeaderSize];
  // Keystream seed of this server's traffic. Each server keeps its own, so a
  // challenge from one server never garbles another's lines.
  uint32_t rseed;
  serverHealth health;  // what qzuconstatus and the link diagnostics report
  // Whoever can send from this server's address can make the lines of the
  // kinds about a server; they are bounded per second and server
  // (app/bounded.h), by lineSlot of their kind.
  lineLimit lineLimits[kServerLineKinds];
  // A changed challenge is answered by a heartbeat at most once a second, so
  // that forged challenges cannot make the console flood the server.
  uint32_t lastAnswer;  // monotonic ms of the last answer
  uint8_t answerState;  // kNoAnswerYet, kAnswered or kAnswerWaiting (outbound.h)
  // "tag=": the server's groups, names joined by commas (fleet/tags.h).
  char tags[kTagListChars + 1];
};

extern unsigned char g_HEADER[kHeaderSize];
extern unsigned char g_pkt[kPktSize];
extern serverRec* g_server;        // cursor of every loop over flServer
extern serverRec* g_activeServer;  // receives the administrator's commands
extern char g_temp[257];           // source text of the last server datagram
extern srvindex g_senders;         // flServer by sender address, for reception

// What the last heartbeat walk over flServer found: from tick `from` on, no
// heartbeat falls due for `ms` ms - measured as the unsigned distance from
// `from`, so a clock set back walks again - and from monotonic `monoFrom` on
// no answer or silence report for `monoMs` ms, while the list holds `servers`
// records. Any other change of a lastSend clears `known`.
struct heartbeatQuiet {
  bool known;
  uint32_t from;
  uint32_t ms;
  uint32_t monoFrom;
  uint32_t monoMs;
  int servers;
};
extern heartbeatQuiet g_hbQuiet;

// Program-start state of the globals above.
void resetProtocolGlobals();

// Writes the magic into g_HEADER, all else zero.
void initHeaderTemplate();

#endif  // QZUCON_PROTOCOL_SERVER_H_
