// Host-name resolution to dotted IPv4 text.
#ifndef QZUCON_RUNTIME_HOST_H_
#define QZUCON_RUNTIME_HOST_H_

// Writes the dotted IPv4 text for name into dst (16 bytes at least, and room
// for name itself). Numeric forms inet_addr accepts are copied unchanged.
// name and dst may be the same buffer. Returns 1, or 0 with dst empty when the
// name cannot be resolved.
int trGetip(const char* name, char* dst);

// Network start-up hook; nothing to do on this platform. Returns 1.
int trNetinit();

#endif  // QZUCON_RUNTIME_HOST_H_
