// Thin IPv4 socket layer. Handles are plain ints, -1 meaning none; addresses
// are text "a.b.c.d:port". Each function is one or two system calls and
// returns the raw result; none of them logs or retries.
#ifndef QZUCON_RUNTIME_SOCK_H_
#define QZUCON_RUNTIME_SOCK_H_

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

// Longest address text: "255.255.255.255:65535" and its terminator.
constexpr int kAddrTextSize = 22;

int trSocket(int type);  // 0 = UDP, anything else = TCP; new handle or -1
// Binds to the low 16 bits of port on addr ("" = any). 0 on success, -1 on
// failure. No SO_REUSEADDR: on a UDP socket it would let any user bind the
// same port beside it and take its datagrams.
int trBind(int h, unsigned port, const char* addr);
// SO_REUSEADDR, for a TCP listener only (a restart may then bind while old
// connections linger in TIME_WAIT). Call before trBind. 0 or -1.
int trReuseAddr(int h);
int trNonblock(int h);  // 1 when O_NONBLOCK was set, 0 when refused
int trListen(int h, int backlog);
// Accepts one pending connection; peer receives 16 bytes. Handle or -1.
int trAcceptFrom(int h, sockaddr* peer);
// One read: >0 bytes, 0 when the peer closed the stream, -1 when nothing was read.
int trRecv(int h, char* buf, unsigned len);
// recvfrom; *fromLen is in/out (callers set 16). Datagram length or -1.
int trRecvfrom(int h, char* buf, unsigned len, sockaddr* from, int* fromLen);
// Takes up to n waiting datagrams in one call (recvmmsg), never waiting for
// one: the caller points each msgs[i].msg_hdr at a buffer and address room,
// and each msg_len gets that datagram's length. The number taken, or -1 when
// none was waiting or the call failed.
int trRecvBatch(int h, mmsghdr* msgs, unsigned n);
// Sends n prepared datagrams in one call (sendmmsg). The number sent, counted
// from the first, or -1 when not even the first went.
int trSendBatch(int h, mmsghdr* msgs, unsigned n);
// Sends to the destination text; bytes sent, -1 on failure, 0 (nothing sent)
// for a null or empty destination. The text is never modified.
int trSendto(int h, const char* data, unsigned len, const char* dest);
// connect on socket h to the address text dest ("a.b.c.d:port", as
// trDestAddr reads it): 0, or -1 (also for an empty destination).
int trConnect(int h, const char* dest);
// Writes "a.b.c.d:port" into out (kAddrTextSize bytes); empty when the
// address cannot be converted. Returns out.
char* trAddrstr(const sockaddr* addr, char* out);
void trClosesocket(int h);
// The local port a socket is bound to, in host order; -1 on failure.
int trSockPort(int h);
// getsockname: the socket's own address into *out. 0 or -1.
int trSockName(int h, sockaddr_in* out);
// Asks for a receive queue of bytes (the kernel may clamp it). 0 or -1.
int trRcvbuf(int h, int bytes);
// The kernel's count of datagrams it dropped on the socket since it was made
// (a full receive queue, a bad checksum), from SO_MEMINFO, into *drops. 0 or -1.
int trSockDrops(int h, uint32_t* drops);

// IP_RECVERR: the kernel queues the ICMP errors its datagrams meet on the
// socket's error queue (an unconnected UDP socket hears of none without it).
// While that queue holds one, a wait reports the socket ready and a receive
// fails once (ECONNREFUSED for a closed port): read the queue then. 0 or -1.
int trRecvErrors(int h);
// Takes one entry of the error queue, never waiting: the destination of the
// datagram that met the error into *dest, the ancillary data into control
// (controlSize bytes) and its length into *controlLen. The bytes of the
// datagram's copy (-1 when the queue is empty or the call failed).
int trReadErrQueue(int h, sockaddr_in* dest, unsigned char* control, int controlSize,
                   int* controlLen);
// Room for the ancillary data of one error queue entry.
constexpr int kErrControlSize = 128;

// What one error queue entry says (decodeSockError).
struct sockError {
  bool icmp;             // the error came with an ICMP message
  bool portUnreachable;  // ICMP destination unreachable, port unreachable
  int type;              // ICMP type and code, -1 when not icmp
  int code;
  int err;               // the errno it stands for
  sockaddr_in offender;  // who sent the ICMP message (zero when not given)
};
// Reads the IP_RECVERR entry from the ancillary data of trReadErrQueue
// (control aligned as a cmsghdr).
// False when it holds none (other ancillary data, or cut short). Pure.
bool decodeSockError(const unsigned char* control, int len, sockError* out);

// Where trSendto sends for a destination text: inet_addr of the text before the
// first ':' and the port after it (atol, low 16 bits; 0 without ':'). Returns 0
// for a null or empty text (no destination), else 1. Pure; no system call.
int trDestAddr(const char* dest, sockaddr_in* out);

// Owner of one socket handle; closes it when it dies.
class trsock {
 public:
  trsock() : handle(-1) {}
  ~trsock() { sClose(); }
  trsock(const trsock&) = delete;
  trsock& operator=(const trsock&) = delete;
  // Closes the handle if open; always leaves it -1. Safe to call repeatedly.
  void sClose();
  bool valid() const { return handle != -1; }

  int handle;
};

#endif  // QZUCON_RUNTIME_SOCK_H_
