// The console's own commands; every other line goes to the active server.
#ifndef QZUCON_INPUT_COMMANDS_H_
#define QZUCON_INPUT_COMMANDS_H_

#include <cstdint>

#include "protocol/server.h"

// Runs one finished line (at most 256 characters, without its line feed).
// The line is first written to the log file only, never echoed on screen.
// tick is the pass's tick (a command stores it in lastSend), mono its
// monotonic ms (trMonoMs), by which "qzuconstatus" tells how long ago.
void processInputLine(int sock, uint32_t tick, uint32_t mono, const char* line);

// The server "qzuconactive" chooses for arg: the first whose configured address
// equals it, else the first whose resolved ipPort equals it; null when none.
serverRec* findServer(const char* arg);

#endif  // QZUCON_INPUT_COMMANDS_H_
