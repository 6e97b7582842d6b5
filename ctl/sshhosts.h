// qzuconctl -H: the hosts of the list, the command line each host's own
// qzuconctl runs, the ssh command that carries it, and what becomes of the
// lines and exit statuses that come back. Pure: no system calls, so table
// tests reach every form; remote.* runs it.
#ifndef QZUCON_CTL_SSHHOSTS_H_
#define QZUCON_CTL_SSHHOSTS_H_

#include "ctl/ctlargs.h"

constexpr int kCtlMaxHosts = 16;     // two descriptors each in one wait of at most 40
constexpr int kHostNameChars = 253;  // a DNS name's longest
constexpr int kHostUserChars = 32;
constexpr int kRemoteCmdChars = 65536;  // the command line sent to a host's shell

// One host of the list, "[ssh://][USER@]HOST[:PORT]" (or "[ssh://][USER@][V6]:PORT").
struct sshHost {
  char shown[kHostUserChars + kHostNameChars + 16];  // as written, without "ssh://"
  char user[kHostUserChars + 1];                     // empty: ssh's own choice
  char name[kHostNameChars + 1];
  char port[6];  // empty: ssh's own choice
};

// Reads the comma-separated list into hosts (at most max); the count, or
// -1 with the reason in err. A name or user is letters, digits, '.', '-' and
// '_' (an address in brackets hex digits, '.' and ':'), never beginning with
// '-': nothing in it can mean anything to a shell or to ssh's options.
int parseHosts(const char* list, sshHost* hosts, int max, char* err, int errSize);

// The hosts of -H, or of QZUCON_HOST (env, null when unset) when -H is not
// given: the count (0 when neither names any), or -1 with a usage error in
// err (a bad list, or top, which shows one console).
int hostsOfArgs(const ctlArgs& a, const char* env, sshHost* hosts, int max, char* err, int errSize);

// arg quoted for a POSIX shell, into out (size bytes): in single quotes, an
// embedded one as '\''. False when it does not fit.
bool shellQuote(const char* arg, char* out, int size);

// The command line a host runs: "env QZUCON_HOST= qzuconctl" and
// argv[1..argc), each quoted,
// leaving out argv[skip] and argv[skip + 1] (-H and its list; skip 0 leaves
// out nothing). False when it does not fit in size bytes.
bool remoteCommand(int argc, const char* const* argv, int skip, char* out, int size);

// The argv of the ssh that runs cmd on h: never a password prompt, no
// terminal, the host after "--". Pointers into h and cmd; null-terminated,
// at most kSshArgs entries with the null.
constexpr int kSshArgs = 16;
void sshArgv(const sshHost& h, const char* cmd, const char** argv);

// A --json answer line with "host":"NAME" as the first member of its object,
// into out (size bytes, cut to fit); a line that is no object is copied.
void jsonWithHost(const char* line, const char* name, char* out, int size);

// One output stream of a host's ssh, taken apart into lines. ssh ends its
// own messages with "\r\n": the '\r' goes (it would show as '?').
struct hostStream {
  char buf[8192];
  int len = 0;
};
// Room left for the next read, at s->buf + s->len.
inline int streamRoom(const hostStream& s) { return static_cast<int>(sizeof s.buf) - s.len; }
// Takes n bytes just read in at s->buf + s->len.
void streamAdd(hostStream* s, int n);
// The next line into line (size bytes; made harmless as takeLine does):
// a complete one, a full buffer's worth, or once the stream has ended
// (ended) the last one cut off without its line break. False when none.
bool streamLine(hostStream* s, bool ended, char* line, int size);

// What a host's ssh exit status earns: qzuconctl's own statuses as they are;
// ssh's own failure (255: the host not reached), a missing qzuconctl (127) or
// an end by a signal (-1) are kCtlError.
constexpr int kSshFailed = 255;
constexpr int kShellNotFound = 127;
int hostStatus(int exitCode);

#endif  // QZUCON_CTL_SSHHOSTS_H_
