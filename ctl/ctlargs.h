// qzuconctl's command line: the command, the console it is for and the
// options of the fleet (tags, filters, JSON). Pure: no system calls, so
// table tests reach every form.
#ifndef QZUCON_CTL_CTLARGS_H_
#define QZUCON_CTL_CTLARGS_H_

#include "ctl/ctlout.h"

constexpr int kCtlMaxLines = 64;    // LINE arguments of one call
constexpr int kCtlArgChars = 1023;  // a socket path, server or joined LINE
constexpr long kCtlUntilTimeoutMs = 120000;  // --timeout's default

enum ctlCommand {
  kCmdNone,
  kCmdSend,
  kCmdStatus,
  kCmdFollow,
  kCmdDo,
  kCmdExit,
  kCmdList,
  kCmdMetrics,
  kCmdTop,
  kCmdReload
};

// A command line read. Every text points into the argv it was read from.
struct ctlArgs {
  ctlCommand command = kCmdNone;
  long port = 0;                    // -p, 0 = not given
  const char* socket = nullptr;     // -S
  const char* hosts = nullptr;      // -H: the hosts to run on over ssh
  int hostsAt = 0;                  // argv index of -H (0: not given)
  const char* server = nullptr;     // -s
  bool all = false;                 // -a
  long waitMs = 2000;               // -w
  const char* lines[kCtlMaxLines];  // send's LINEs, or do's words
  int lineCount = 0;
  bool help = false;
  bool version = false;           // --version: print it and do nothing else
  const char* tags[kCtlMaxTags];  // -t: the servers with any of these tags
  int tagCount = 0;
  const char* keep[kCtlMaxPatterns];  // -e
  int keepCount = 0;
  const char* hide[kCtlMaxPatterns];  // -v
  int hideCount = 0;
  bool json = false;    // --json
  bool alerts = false;  // --alerts
  // send --rolling: one server at a time, --gap between them; with --until
  // a line of the server matching it is awaited for up to --timeout.
  bool rolling = false;
  long gapMs = 0;
  const char* until = nullptr;
  long timeoutMs = kCtlUntilTimeoutMs;
  bool keepGoing = false;  // --keep-going: a failed server does not end the run
};

// Reads argv[1..] into out; false with a reason in err (errSize bytes) on a
// usage error, which the caller prints with the usage. Options before the
// command are -p/-S (one of them) and -H HOSTS; send takes -s/-a/-t (one of them; -t
// again adds a tag), -w and --rolling, which needs one of -s/-a/-t and
// alone allows --gap, --until, --timeout and --keep-going; follow takes -s
// or -t, -e, -v and --alerts; status and top take -t; send, follow, status
// and list take --json; "--" ends the options. -h or --help anywhere before
// the command sets help, and --version version, and stops reading.
bool parseCtlArgs(int argc, const char* const* argv, ctlArgs* out, char* err, int errSize);

// The TARGET of a request for the -t tags, "@eu,us", into out (size bytes;
// cut to fit). "@" alone when there are none.
void tagTarget(const ctlArgs& a, char* out, int size);

#endif  // QZUCON_CTL_CTLARGS_H_
