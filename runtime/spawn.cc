// Spawning a child. Between fork and exec the child makes only
// async-signal-safe calls; an exec failure comes back through a
// close-on-exec pipe, so trSpawn itself reports it.
#include "runtime/spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace {

void closeIfOpen(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

[[noreturn]] void runChild(const char* const* argv, int out, int err, int report) {
  struct sigaction sa = {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int in = open("/dev/null", O_RDONLY);
  if (in >= 0 && dup2(in, 0) == 0 && dup2(out, 1) == 1 && dup2(err, 2) == 2) {
    execvp(argv[0], const_cast<char* const*>(argv));
  }
  int e = errno;
  ssize_t ignored = write(report, &e, sizeof e);
  (void)ignored;
  _exit(127);
}

}  // namespace

int trSpawn(const char* const* argv, int* out, int* err) {
  *out = *err = -1;
  int o[2] = {-1, -1}, e[2] = {-1, -1}, report[2] = {-1, -1};
  bool ok = pipe2(o, O_CLOEXEC) == 0 && pipe2(e, O_CLOEXEC) == 0 && pipe2(report, O_CLOEXEC) == 0;
  int pid = ok ? fork() : -1;
  if (pid == 0) runChild(argv, o[1], e[1], report[1]);
  closeIfOpen(&o[1]);
  closeIfOpen(&e[1]);
  closeIfOpen(&report[1]);
  if (pid > 0) {
    int code = 0;
    ssize_t n;
    do {
      n = read(report[0], &code, sizeof code);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      int status;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      pid = -1;
      errno = code;  // the exec's reason, for the caller's message
    }
  }
  closeIfOpen(&report[0]);
  if (pid < 0) {
    closeIfOpen(&o[0]);
    closeIfOpen(&e[0]);
    return -1;
  }
  *out = o[0];
  *err = e[0];
  return pid;
}

int trWaitChild(int pid, int* status, bool noHang) {
  return waitpid(pid, status, noHang ? WNOHANG : 0);
}

int trKillChild(int pid, int sig) { return pid > 0 ? kill(pid, sig) : -1; }

int trExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int trRaise(int sig) { return raise(sig); }
