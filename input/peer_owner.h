// Who is on the other end of a local input socket. A local peer passes the
// address rule and then must belong to the console's own user or to root.
// The kernel names the owner of the peer's socket: asked about that one
// socket through its socket diagnostics (netlink), or, where those are
// refused, in its socket tables (/proc/net/tcp, udp and their IPv6 twins,
// where IPv4-mapped peers show), which cost a read of every socket on the
// host. A socket the kernel no longer knows, or knows without an owner (an
// orphan: a client that has closed before the console read it; it shows as
// uid 0 with inode 0), cannot be verified and is refused. A peer refused as
// another user's is remembered for a fifth of a second, so that a flood from
// one port costs five lookups a second while the owner who binds a port a
// stranger just left waits no longer than that. A UDP address and port may be bound by several sockets
// (SO_REUSEADDR), and the kernel's exact lookup names one of them: there
// every socket bound there is asked for, and the sender counts as the
// owner's only when they all are. Building the question, parsing both kinds of answer and
// the decision are pure, so that tables can test them; only lookupPeerOwner
// talks to the kernel.
#ifndef QZUCON_INPUT_PEER_OWNER_H_
#define QZUCON_INPUT_PEER_OWNER_H_

#include <netinet/in.h>

#include <cstdint>

// One line of a socket table. Addresses as the kernel prints them: the
// address in network byte order (comparable with sin_addr.s_addr), the port
// in host order. An IPv6 line's address is reduced to its IPv4 form when it
// is IPv4-mapped or the wildcard; v4 is false for any other IPv6 address.
struct sockEntry {
  uint32_t localIp, remoteIp;
  uint16_t localPort, remotePort;
  bool v4;
  uint32_t uid;
  unsigned long inode;
};

// The peer socket looked for: its own address (local in its table line) and
// the console's end: of the connection for TCP (remote in that line), the
// input socket's address for UDP. A UDP sender's socket may be bound to the
// wildcard address.
struct sockKey {
  uint32_t ip;
  uint16_t port;
  bool tcp;
  uint32_t remoteIp;
  uint16_t remotePort;
};

// What the tables say about the key: how many lines matched, the first
// match's uid and inode, and whether the matches disagree about the owner.
struct sockOwner {
  int matches;
  uint32_t uid;
  unsigned long inode;
  bool mixed;
};

enum peerVerdict { kPeerAccepted, kPeerOtherUser, kPeerUnverified };

// Parses one table line ("  12: 0100007F:1F90 0100007F:D431 01 ... uid
// timeout inode ..."). False for the heading and anything malformed.
bool parseSockLine(const char* line, sockEntry* out);
// Adds every line of text (lines ended by '\n'; the text ends with a
// complete line) that matches key to *owner.
void scanSockTable(const char* text, const sockKey& key, sockOwner* owner);
// The rule: an orphan or no match (or matches that disagree) cannot be
// verified; the console's own user and root are accepted; anyone else is
// another user.
peerVerdict judgeOwner(const sockOwner& owner, uint32_t myUid);

// What the socket diagnostics said about one socket.
enum diagAnswer {
  kDiagFound,     // the socket, with its owner
  kDiagNoSocket,  // no such socket (also all a kernel without them for the protocol says)
  kDiagRefused,   // no usable answer: netlink refused, an error, a reply cut short
};
// Whether the diagnostics of a protocol have proved themselves: only a
// socket they do find tells a kernel that has them from one that has none.
enum diagState { kDiagUntried, kDiagWorks, kDiagUnavailable };
constexpr int kDiagRequestSize = 72;  // a netlink header and an inet_diag_req_v2

// Writes the request for key's socket, numbered seq, into req (at least
// kDiagRequestSize bytes); returns its length.
int diagRequest(const sockKey& key, uint32_t seq, void* req);
constexpr int kDiagDumpSize = 92;  // with a filter on the local port
// Writes the request for every UDP socket of family (AF_INET or AF_INET6)
// bound to key's port, numbered seq, into req (at least kDiagDumpSize
// bytes); returns its length.
int diagDumpRequest(const sockKey& key, int family, uint32_t seq, void* req);
// Reads one part (len bytes) of the kernel's reply to dump request seq: each
// socket bound to key's address (or the wildcard) is added to *owner as a
// table line would be. 1 once the reply has ended, 0 while more is to come,
// -1 on an error.
int parseDiagDump(const void* reply, int len, uint32_t seq, const sockKey& key,
                         sockOwner* owner);
// Reads the kernel's reply (len bytes) to request seq. kDiagFound sets
// *owner to that one socket's uid and inode; messages of another number
// are skipped.
diagAnswer parseDiagReply(const void* reply, int len, uint32_t seq, sockOwner* owner);

// The kernel's word on key's socket into *owner (zeroed first): one
// diagnostics lookup, or the tables where the diagnostics are unavailable
// (g_diagState, learnt on first use). A table that cannot be read adds
// nothing.
void lookupPeerOwner(const sockKey& key, sockOwner* owner);

// Peers refused lately as another user's, each for a second. A full set
// gives up its oldest entry, so more ports than there are entries only cost
// more lookups.
struct refusedPeers {
  static constexpr int kSets = 4096, kWays = 4;
  struct entry {
    uint32_t ip, until;
    uint16_t port;
    bool tcp, used;
  };
  entry slot[kSets][kWays];

  bool has(const sockKey& key, uint32_t tick) const;
  void add(const sockKey& key, uint32_t tick);
  void reset();
};

// True when peer was refused as another user's within the last second of tick (monotonic ms); the
// refusal is then logged again (bounded). No system call, and no address text
// unless a line is logged: a flood from a refused port is cheap.
bool refusedLately(const sockaddr_in& peer, bool tcp, uint32_t tick);

// Whether local input from peer is let in under the localusers= setting.
// self is the console's end: the accepted connection for TCP, the input
// socket for UDP. Logs a refusal, bounded per second of tick (the pass's monotonic ms).
bool admitLocalPeer(const sockaddr_in& peer, int self, bool tcp, uint32_t tick);

#endif  // QZUCON_INPUT_PEER_OWNER_H_
