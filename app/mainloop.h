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
// pass, and sinceMs is the time since the previous pass began. Its messages
// are written together (see holdLog), all of them before it returns. Returns
// the pause before the next pass (pauseAfter).
unsigned runPass(uint32_t tick, uint32_t mono, bool first, uint32_t sinceMs);

// The pause before the next pass, in ms, after one that took `taken`
// datagrams sinceMs after the pass before it began, and stopped at its bound
// (full) or at an empty queue. A pass pauses 1 ms, so that it finds work
// waiting rather than waking for every datagram, and a few lines a second
// still wake the console at once. Under load it pauses for as long as
// kPassAim datagrams take to arrive at the rate it just saw, up to
// kBusyPauseMs, so that a pass's own cost (its wait, its look at every
// input) is shared by more lines while a line still waits only a few ms. A
// pass cut short by its bound has work waiting: no pause. Pure.
constexpr int kBusyPass = 16;         // datagrams that make a pass busy
constexpr int kPassAim = 128;         // half the bound of a pass
constexpr unsigned kBusyPauseMs = 4;
unsigned pauseAfter(int taken, bool full, uint32_t sinceMs);

// Fills zero bytes 8..11 of g_HEADER from rand() seeded with seed.
void drawClientChallenge(uint32_t seed);

#endif  // QZUCON_APP_MAINLOOP_H_
