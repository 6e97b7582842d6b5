// Waiting on a descriptor and single keys from standard input. The terminal
// mode is never changed, so keys arrive a line at a time in the usual line
// mode.
#ifndef QZUCON_RUNTIME_KEYBOARD_H_
#define QZUCON_RUNTIME_KEYBOARD_H_

// Waits until fd is readable (mode 0) or writable (mode 1), at most
// timeoutMs. 1 ready, 0 timed out, -1 when the wait failed (also when
// interrupted, and for a descriptor outside 0..1023).
int trSelect(int fd, int mode, unsigned timeoutMs);
// One byte from standard input as a signed char widened to int, or 0 when none
// arrived within timeoutMs (and at once at end of input).
int trGetkey(int timeoutMs);

#endif  // QZUCON_RUNTIME_KEYBOARD_H_
