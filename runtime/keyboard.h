// Waiting on descriptors and single keys from standard input. The terminal
// mode is never changed, so keys arrive a line at a time in the usual line
// mode.
#ifndef QZUCON_RUNTIME_KEYBOARD_H_
#define QZUCON_RUNTIME_KEYBOARD_H_

// Waits until fd is readable (mode 0) or writable (mode 1), at most
// timeoutMs. 1 ready, 0 timed out, -1 when the wait failed (also when
// interrupted, and for a descriptor outside 0..1023). For one socket;
// standard input is waited on with trWaitInput only.
int trSelect(int fd, int mode, unsigned timeoutMs);

// The descriptor of standard input.
int trStdinFd();
// One read of one byte from standard input: 1 with the byte in *c, 0 at end
// of input, -1 when nothing was read. Blocks when nothing is waiting.
int trReadKey(char* c);
// 1 when fd is a terminal, else 0.
int trIsTerminal(int fd);

// What trWaitInput reports for one descriptor: bits of its ready[] entry.
constexpr int kFdReadable = 1;  // a read will not block: data, end of stream or an error
constexpr int kFdInvalid = 2;   // not an open descriptor
constexpr int kMaxWaitInput = 40;  // the console's five inputs and its control socket's 33

// Waits at most timeoutMs until any of the n descriptors (n <= kMaxWaitInput)
// is readable; negative ones are skipped. Returns the number of ready
// descriptors, 0 when the time ran out, -1 when the wait failed (also when a
// signal cut it short). ready[i] gets the kFd bits of fds[i], 0 when not ready.
int trWaitInput(const int* fds, int n, unsigned timeoutMs, int* ready);

#endif  // QZUCON_RUNTIME_KEYBOARD_H_
