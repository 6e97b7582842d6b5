// What tests and tools need beyond the runtime layer: spawn a program on
// pipes or a pseudo-terminal, connect a socket, wait for the child's end,
// signal it by pid, and the one monotonic clock that tests and tools time
// things with. Reading, writing and closing descriptors, waiting for input,
// ignoring broken pipes and sleeping are the runtime layer's (runtime/files.h,
// keyboard.h, signals.h, clock.h). Nothing here is linked into the console.
// Apart from trSpawn (pipes, fork and exec, with its own clean-up) each
// function is one or two system calls and returns the raw result; none of
// them logs or retries.
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
struct trProcIo {
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
int trSpawn(const char* const* argv, const char* dir, int pipes, trProcIo* io);

// A new pseudo-terminal in its default (line) mode: 0 with its master and
// slave ends, both close-on-exec, or -1.
int trOpenPty(int* master, int* slave);

// connect on socket h to the address text dest ("a.b.c.d:port"): 0 or -1.
int trConnect(int h, const char* dest);

// waitpid: the pid when the child has ended (its raw status in *status),
// 0 when noHang is set and it is still running, -1 on failure.
int trWaitpid(int pid, int* status, int noHang);
// kill(pid, sig): 0 or -1. pid must be > 0; 0 and negative pids (process
// groups) are refused with -1 so a stray value can never signal a group.
int trKill(int pid, int sig);

// Watches the files in folder dir for writes (inotify, not blocking): the
// descriptor to read events from with trFileRead, or -1.
int trWatchWrites(const char* dir);
// Opens path for reading without updating its access time when this process
// may (it owns the file): a follower reading a file after every write would
// otherwise make the file system journal each read. Descriptor or -1.
int trOpenFollow(const char* path);

// Microseconds and milliseconds of one clock that never jumps (not the wall
// clock, and not the console's tick).
int64_t trNowUs();
inline int64_t trNowMs() { return trNowUs() / 1000; }

// Clock ticks a second, the unit of the CPU times in /proc/<pid>/stat.
long trClockTicks();

// Decoding a trWaitpid status. Pure.
bool procExited(int status);    // ended through exit()
int procExitCode(int status);   // its exit status (only when procExited)
bool procSignaled(int status);  // ended by a signal
int procSignal(int status);     // that signal (only when procSignaled)

#endif  // QZUCON_SUPPORT_PROC_H_
