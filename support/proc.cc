// Child processes and descriptors. procSpawn forks and execs; between the two
// the child uses only async-signal-safe calls, because the caller (a test
// runner) may have other threads. An exec failure is reported back through a
// close-on-exec pipe, so the caller learns it from procSpawn itself.
#include "support/proc.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "runtime/spawn.h"

namespace {

void closeIfOpen(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

void closePair(int p[2]) {
  closeIfOpen(&p[0]);
  closeIfOpen(&p[1]);
}

// Child side: makes fd the descriptor target, open across exec. dup2 onto
// itself would keep the close-on-exec flag, hence the special case.
bool moveTo(int fd, int target) {
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
  return dup2(fd, target) == target;
}

// Child side: the pipe end for one stream, or /dev/null when not piped.
bool connectStream(int pipeEnd, int target, int nullMode) {
  if (pipeEnd >= 0) return moveTo(pipeEnd, target);
  int fd = open("/dev/null", nullMode | O_CLOEXEC);
  return fd >= 0 && moveTo(fd, target);
}

[[noreturn]] void runChild(const char* const* argv, const char* dir, int in, int out, int err,
                           int report) {
  struct sigaction sa = {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  bool ok = (dir == nullptr || chdir(dir) == 0) && connectStream(in, 0, O_RDONLY) &&
            connectStream(out, 1, O_WRONLY) && connectStream(err, 2, O_WRONLY);
  if (ok) execv(argv[0], const_cast<char* const*>(argv));
  int e = errno;
  ssize_t ignored = write(report, &e, sizeof e);
  (void)ignored;
  _exit(127);
}

bool openPipe(int p[2], bool wanted) {
  p[0] = p[1] = -1;
  return !wanted || pipe2(p, O_CLOEXEC) == 0;
}

// Standard input's pair: the child reads p[0], the parent writes p[1].
bool openInput(int p[2], int pipes) {
  if (!(pipes & kTermIn)) return openPipe(p, pipes & kPipeIn);
  p[0] = p[1] = -1;
  return procOpenPty(&p[1], &p[0]) == 0;
}

// Parent side, after the fork: 1 when the child reported a failed exec.
bool childFailed(int report) {
  int e = 0;
  ssize_t n;
  do {
    n = read(report, &e, sizeof e);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

}  // namespace

int procSpawn(const char* const* argv, const char* dir, int pipes, procIo* io) {
  io->in = io->out = io->err = -1;
  if (argv == nullptr || argv[0] == nullptr) return -1;
  int in[2], out[2], err[2], report[2];
  bool ok = openInput(in, pipes) && openPipe(out, pipes & kPipeOut) &&
            openPipe(err, pipes & kPipeErr) && openPipe(report, true);
  int pid = ok ? fork() : -1;
  if (pid == 0) runChild(argv, dir, in[0], out[1], err[1], report[1]);
  closeIfOpen(&in[0]);
  closeIfOpen(&out[1]);
  closeIfOpen(&err[1]);
  closeIfOpen(&report[1]);
  if (pid > 0 && childFailed(report[0])) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
  }
  closeIfOpen(&report[0]);
  if (pid < 0) {
    closePair(in);
    closePair(out);
    closePair(err);
    return -1;
  }
  io->in = in[1];
  io->out = out[0];
  io->err = err[0];
  return pid;
}

int procOpenPty(int* master, int* slave) {
  if (openpty(master, slave, nullptr, nullptr, nullptr) != 0) return -1;
  fcntl(*master, F_SETFD, FD_CLOEXEC);
  fcntl(*slave, F_SETFD, FD_CLOEXEC);
  return 0;
}

// Waiting for and signalling a child are the runtime layer's, which
// qzuconctl's ssh children use too.
int procWait(int pid, int* status, int noHang) { return trWaitChild(pid, status, noHang != 0); }

int procKill(int pid, int sig) { return trKillChild(pid, sig); }

bool procExited(int status) { return WIFEXITED(status); }
int procExitCode(int status) { return WEXITSTATUS(status); }
bool procSignaled(int status) { return WIFSIGNALED(status); }
int procSignal(int status) { return WTERMSIG(status); }
