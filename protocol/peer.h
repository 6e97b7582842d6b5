// What the console and a server (or a tool playing one) both know of the
// protocol beyond its packets' layout: the keystream seed before any
// challenge and the name of a server's own log file. No globals: the tools
// link this without the console's state. Key derivation lives beside it in
// keys.h.
#ifndef QZUCON_PROTOCOL_PEER_H_
#define QZUCON_PROTOCOL_PEER_H_

#include <cstdint>

// Every keystream starts from this seed until a server's challenge replaces
// that server's own seed.
constexpr uint32_t kDefaultSeed = 36250418;

// "192.0.2.10:28100" -> "192_0_2_10_28100.log" into out (out holds size
// bytes, size >= 5; a longer address is cut before ".log").
void serverLogName(const char* ipPort, char* out, int size);

#endif  // QZUCON_PROTOCOL_PEER_H_
