// The console main loop.
#ifndef QZUCON_APP_MAINLOOP_H_
#define QZUCON_APP_MAINLOOP_H_

#include <cstdint>

// Draws the client challenge, opens the sockets, announces itself, runs passes
// until g_exit is set (by "qzuconexit", Ctrl-C, SIGTERM or SIGHUP), then sends every
// server its exit notice and pauses one second. Logs its own failures.
// False when the server socket could not be opened or bound (nothing ran).
bool qzucon();

// One pass of the loop with the given tick (heartbeat periods, packets) and
// monotonic ms (every other measure of elapsed time); first marks the first
// pass. Its messages are written together (see holdLog), all of them before
// it returns.
void runPass(uint32_t tick, uint32_t mono, bool first);

// Fills zero bytes 8..11 of g_HEADER from rand() seeded with seed.
void drawClientChallenge(uint32_t seed);

#endif  // QZUCON_APP_MAINLOOP_H_
