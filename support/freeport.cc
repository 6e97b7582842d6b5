// Free ports through the runtime's sockets; the socket is closed on return.
#include "support/freeport.h"

#include "runtime/sock.h"

int freePort(int type, const char* addr) {
  trsock s;
  s.handle = trSocket(type);
  if (!s.valid() || trBind(s.handle, 0, addr) != 0) return -1;
  return trSockPort(s.handle);
}
