// Who is on the other end of a local input socket. A local peer passes the
// address rule and then must belong to the console's own user or to root:
// the kernel's socket tables (/proc/net/tcp, udp and their IPv6 twins, where
// IPv4-mapped peers show) name the owner of the peer's socket. A socket the
// kernel no longer lists, or lists without an owner (an orphan: a client that
// has closed before the console read it; it shows as uid 0 with inode 0),
// cannot be verified and is refused. The parsing and the decision are pure,
// so that tables can test them; only lookupPeerOwner reads files.
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

// The peer socket looked for: its own address (local in its table line) and,
// for a TCP connection, the console's end (remote in that line). A UDP
// sender's socket may be bound to the wildcard address.
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

// Reads the kernel's tables for key into *owner (zeroed first). A table that
// cannot be read adds nothing.
void lookupPeerOwner(const sockKey& key, sockOwner* owner);

// Whether local input from peer (text: its address text) is let in under the
// localusers= setting. conn is the accepted TCP connection (its local end is
// the console's end of the pair), or -1 for a UDP datagram. Logs a refusal,
// bounded per second of tick (the pass's monotonic ms).
bool admitLocalPeer(const sockaddr_in& peer, int conn, const char* text, uint32_t tick);

#endif  // QZUCON_INPUT_PEER_OWNER_H_
