// The one way tests and tools find a free port: a socket bound to port 0, the
// kernel's choice read back, the socket closed again. The port is free when
// asked; another program may take it before the caller binds it, so callers
// bind soon after.
#ifndef QZUCON_SUPPORT_FREEPORT_H_
#define QZUCON_SUPPORT_FREEPORT_H_

// A port the kernel hands out to a socket of type (0 = UDP, anything else =
// TCP) bound to the address addr ("" = every address): the port, or -1 when
// no socket could be made or bound. Does not log.
int freePort(int type, const char* addr);

#endif  // QZUCON_SUPPORT_FREEPORT_H_
