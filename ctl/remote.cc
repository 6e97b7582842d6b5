// qzuconctl -H: one ssh child per host, their output read with one wait
// and written a line at a time with the host in front. A host's last
// stderr line is held back until the next one or its end: when ssh fails,
// that line is its reason and is printed once, as "HOST: cannot reach: ...".
#include "ctl/remote.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "ctl/answer.h"
#include "ctl/fleetout.h"
#include "runtime/files.h"
#include "runtime/keyboard.h"
#include "runtime/signals.h"
#include "runtime/spawn.h"
#include "runtime/text.h"

namespace {

struct stream {
  int fd;
  hostStream text;
};

struct hostRun {
  const sshHost* host;
  int pid;
  stream out, err;
  char held[kCtlLineSize];  // the last stderr line, not printed yet
  bool holding;
};

hostRun g_runs[kCtlMaxHosts];  // large: kept off the stack
char g_command[kRemoteCmdChars];
volatile sig_atomic_t g_remoteSignal = 0;
bool g_outputGone = false;  // standard output cannot be written any more

void onSignal(int sig) { g_remoteSignal = sig; }

void printLine(hostRun* r, bool isErr, const char* line, bool json) {
  if (isErr) {
    if (r->holding) fprintf(stderr, "%s: %s\n", r->host->shown, r->held);
    strzcpy(r->held, line, sizeof r->held - 1);
    r->holding = true;
    return;
  }
  static char withHost[kCtlLineSize + kHostNameChars + 64];
  if (json) {
    jsonWithHost(line, r->host->shown, withHost, sizeof withHost);
    line = withHost;
  }
  printf("%s: %s\n", r->host->shown, line);
  // follow's lines as they come, and in order with stderr's. A reader gone
  // (follow into head, say) ends the run, as it would end qzuconctl alone.
  if (fflush(stdout) != 0) g_outputGone = true;
}

// Reads what s has; its complete lines printed. At the stream's end a last
// line without its newline is printed too, and the stream closed.
void drain(hostRun* r, stream* s, bool json) {
  int n = trFileRead(s->fd, s->text.buf + s->text.len, streamRoom(s->text));
  bool ended = n <= 0;
  if (n > 0) streamAdd(&s->text, n);
  char line[kCtlLineSize];
  while (streamLine(&s->text, ended, line, sizeof line)) printLine(r, s == &r->err, line, json);
  if (ended) {
    trFileClose(s->fd);
    s->fd = -1;
    s->text.len = 0;
  }
}

// The host's end: its held line, what its exit status says, and the status.
int finish(hostRun* r) {
  int raw = 0;
  int code = r->pid > 0 && trWaitChild(r->pid, &raw, false) == r->pid ? trExitCode(raw) : -1;
  const char* name = r->host->shown;
  if (code == kSshFailed) {
    fprintf(stderr, "%s: cannot reach: %s\n", name, r->holding ? r->held : "ssh failed");
  } else {
    if (r->holding) fprintf(stderr, "%s: %s\n", name, r->held);
    if (code == kShellNotFound) fprintf(stderr, "%s: no qzuconctl on this host\n", name);
    if (code < 0) fprintf(stderr, "%s: ssh ended by a signal\n", name);
  }
  r->holding = false;
  return hostStatus(code);
}

void endChildren(int count) {
  for (int i = 0; i < count; i++) {
    hostRun& r = g_runs[i];
    if (r.pid <= 0) continue;
    trKillChild(r.pid, SIGTERM);
    int raw;
    trWaitChild(r.pid, &raw, false);
    r.pid = -1;
  }
}

}  // namespace

int runOnHosts(const ctlArgs& a, int argc, const char* const* argv, const sshHost* hosts,
               int count) {
  if (!remoteCommand(argc, argv, a.hostsAt, g_command, sizeof g_command)) {
    fprintf(stderr, "qzuconctl: the command line is too long to send to the hosts\n");
    return kCtlError;
  }
  trOnTerminate(onSignal);
  int worst = kCtlOk;
  for (int i = 0; i < count; i++) {
    hostRun& r = g_runs[i];
    r.host = &hosts[i];
    r.holding = false;
    r.out.text.len = r.err.text.len = 0;
    const char* args[kSshArgs];
    sshArgv(hosts[i], g_command, args);
    r.pid = trSpawn(args, &r.out.fd, &r.err.fd);
    if (r.pid < 0) {
      fprintf(stderr, "%s: cannot reach: ssh cannot be started: %s\n", r.host->shown,
              trErrorText(trLastError()));
      worst = worseStatus(worst, kCtlError);
    }
  }
  int fds[2 * kCtlMaxHosts];
  int ready[2 * kCtlMaxHosts];
  for (;;) {
    int open = 0;
    for (int i = 0; i < count; i++) {
      fds[2 * i] = g_runs[i].out.fd;
      fds[2 * i + 1] = g_runs[i].err.fd;
      open += (fds[2 * i] >= 0) + (fds[2 * i + 1] >= 0);
    }
    if (open == 0 || g_remoteSignal || g_outputGone) break;
    int got = trWaitInput(fds, 2 * count, 1000, ready);
    if (got < 0 && !trInterrupted()) {
      // A wait that fails for good would only fail again: the run ends.
      fprintf(stderr, "qzuconctl: cannot wait for the hosts: %s\n", trErrorText(trLastError()));
      endChildren(count);
      return kCtlError;
    }
    if (got <= 0) continue;
    for (int i = 0; i < 2 * count; i++) {
      hostRun* r = &g_runs[i / 2];
      if (ready[i]) drain(r, i % 2 ? &r->err : &r->out, a.json);
    }
  }
  if (g_remoteSignal) {
    endChildren(count);
    fflush(stdout);
    trDefaultTerminate();
    trRaise(g_remoteSignal);
    return kCtlStopped;  // only when the signal is ignored after all
  }
  if (g_outputGone) {
    endChildren(count);
    return kCtlError;
  }
  for (int i = 0; i < count; i++) {
    if (g_runs[i].pid > 0) worst = worseStatus(worst, finish(&g_runs[i]));
  }
  return worst;
}
