// Child processes of qzuconctl (its ssh children for -H; the console itself
// starts none): spawn a program found on PATH with its output on pipes, wait
// for its end and signal it by pid. Each call returns the raw result and
// never logs.
#ifndef QZUCON_RUNTIME_SPAWN_H_
#define QZUCON_RUNTIME_SPAWN_H_

// Starts argv[0], looked up on PATH, with the null-terminated argv given to
// it as it is (no shell ever reads it): standard input from /dev/null,
// standard output and error on pipes whose reading ends come back in *out
// and *err (close-on-exec, so no other child inherits them). The child gets
// the default SIGPIPE and SIGINT/SIGTERM/SIGHUP actions. Returns the pid, or
// -1 when the pipes, the fork or the exec failed (nothing then stays open;
// the failure's errno is kept, the exec's too).
int trSpawn(const char* const* argv, int* out, int* err);

// waitpid: the pid when the child has ended (its raw status in *status), 0
// when noHang is set and it is still running, -1 on failure.
int trWaitChild(int pid, int* status, bool noHang);
// kill(pid, sig): 0 or -1. A pid <= 0 (a process group, or every process)
// is refused with -1, so a stray value never signals more than one process.
int trKillChild(int pid, int sig);
// A raw status decoded: the exit status, or -1 when the child ended by a
// signal.
int trExitCode(int status);
// Sends sig to this process (raise): 0 or -1.
int trRaise(int sig);

#endif  // QZUCON_RUNTIME_SPAWN_H_
