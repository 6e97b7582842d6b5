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
// it returns. Returns the pause before the next pass (pauseAfter).
unsigned runPass(uint32_t tick, uint32_t mono, bool first);

// The pause before the next pass, in ms, after one that took `taken`
// datagrams and stopped at its bound (full) or at an empty queue. Each pass
// pauses 1 ms, so that it finds work waiting rather than waking for every
// datagram; one that found many waiting pauses kBusyPauseMs, so that the
// next finds more and a pass's own cost (its wait, its look at every input)
// is shared by more lines; one cut short by its bound has work waiting
// already, and any pause would only cap the lines a second the console
// takes. A few lines a second still wake the console at once. Pure.
constexpr int kBusyPass = 16;
constexpr unsigned kBusyPauseMs = 4;
unsigned pauseAfter(int taken, bool full);

// Fills zero bytes 8..11 of g_HEADER from rand() seeded with seed.
void drawClientChallenge(uint32_t seed);

#endif  // QZUCON_APP_MAINLOOP_H_
