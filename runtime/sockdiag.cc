// Netlink socket diagnostics: the three calls of one lookup.
#include "runtime/sockdiag.h"

#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>

int trDiagOpen() { return socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG); }

int trDiagAsk(int h, const void* req, unsigned len) {
  sockaddr_nl kernel = {};
  kernel.nl_family = AF_NETLINK;
  return static_cast<int>(
      sendto(h, req, len, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel));
}

int trDiagReply(int h, void* buf, unsigned len) {
  return static_cast<int>(recv(h, buf, len, MSG_DONTWAIT));
}
