// Child processes for tests and tools, which the console itself never
// starts: spawn a program on pipes or a pseudo-terminal, wait for its end and
// signal it by pid. Reading, writing and closing descriptors, sockets, the
// clock, waiting for input, ignoring broken pipes and sleeping are the
// runtime layer's (runtime/files.h, sock.h, clock.h, keyboard.h, signals.h).
// Nothing here is linked into the console. Apart from procSpawn (pipes, fork
// and exec, with its own clean-up) each function is one or two system calls
// and returns the raw result; none of them logs or retries.
#ifndef QZUCON_SUPPORT_PROC_H_
#define QZUCON_SUPPORT_PROC_H_

#include <cstdint>

// Which standard streams of a spawned child get a pipe; the others are
// connected to /dev/null.
constexpr int kPipeIn = 1;
constexpr int kPipeOut = 2;
constexpr int kPipeErr = 4;
// Standard input on a new pseudo-terminal instead of a pipe: the child sees a
// terminal; io->in is the terminal's other (master) end.
constexpr int kTermIn = 8;

// The parent's ends of a child's pipes: in is written, out and err are read.
// -1 for a stream that went to /dev/null.
struct procIo {
  int in;
  int out;
  int err;
};

// Starts argv[0] (a path; no PATH search) with the null-terminated argv, in
// the working folder dir (null = the caller's), its standard streams on pipes
// (or a terminal) as pipes asks. The child gets the default SIGPIPE action and none of the
// caller's other pipes (all are close-on-exec). Returns the child's pid, or -1
// when the pipes, the fork, the folder or the exec failed; io is then all -1
// and nothing stays open.
int procSpawn(const char* const* argv, const char* dir, int pipes, procIo* io);

// A new pseudo-terminal in its default (line) mode: 0 with its master and
// slave ends, both close-on-exec, or -1.
int procOpenPty(int* master, int* slave);

// waitpid: the pid when the child has ended (its raw status in *status),
// 0 when noHang is set and it is still running, -1 on failure.
int procWait(int pid, int* status, int noHang);
// kill(pid, sig): 0 or -1. pid must be > 0; 0 and negative pids (process
// groups) are refused with -1 so a stray value can never signal a group.
int procKill(int pid, int sig);

// Decoding a procWait status. Pure.
bool procExited(int status);    // ended through exit()
int procExitCode(int status);   // its exit status (only when procExited)
bool procSignaled(int status);  // ended by a signal
int procSignal(int status);     // that signal (only when procSignaled)

#endif  // QZUCON_SUPPORT_PROC_H_
