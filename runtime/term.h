// Waiting on a descriptor, single keys from standard input, sleeping and
// termination signals. The terminal mode is never changed.
#ifndef QZUCON_RUNTIME_TERM_H_
#define QZUCON_RUNTIME_TERM_H_

// Waits until fd is readable (mode 0) or writable (mode 1), at most
// timeoutMs. 1 ready, 0 timed out, -1 when the wait failed (also when
// interrupted, and for a descriptor outside 0..1023).
int trSelect(int fd, int mode, unsigned timeoutMs);
// One byte from standard input as a signed char widened to int, or 0 when none
// arrived within timeoutMs (and at once at end of input).
int trGetkey(int timeoutMs);
// Sleeps ms milliseconds; 0 returns at once.
void trSleep(unsigned ms);

// Calls handler (from signal context) on SIGINT and SIGTERM. 0 or -1.
int trOnTerminate(void (*handler)(int));
// Puts the default action back for SIGINT and SIGTERM, so that the next such
// signal ends the process at once. Safe from signal context.
void trDefaultTerminate();

#endif  // QZUCON_RUNTIME_TERM_H_
