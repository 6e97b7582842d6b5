// qzuconctl's pure parts: reading its command line, telling the console's
// answer lines apart, and the exit status a "send" earns. No system calls,
// so table tests can drive them.
#ifndef QZUCON_CTL_CTLCORE_H_
#define QZUCON_CTL_CTLCORE_H_

#include "ctl/ctlout.h"

// Exit statuses.
constexpr int kCtlOk = 0;
constexpr int kCtlError = 1;     // usage, connection, or a request refused
constexpr int kCtlMismatch = 2;  // the console reports a password mismatch
constexpr int kCtlNoAnswer = 3;  // a server is in the console's no-answer state
constexpr int kCtlWaiting = 4;   // a server's session is not up yet
constexpr int kCtlUnconfirmed = 5;  // up, but nothing has shown its password right yet

constexpr int kCtlMaxLines = 64;    // LINE arguments of one call
constexpr int kCtlArgChars = 1023;  // a socket path, server or joined LINE

enum ctlCommand {
  kCmdNone,
  kCmdSend,
  kCmdStatus,
  kCmdFollow,
  kCmdDo,
  kCmdExit,
  kCmdList,
  kCmdMetrics
};

struct ctlArgs {
  ctlCommand command = kCmdNone;
  long port = 0;                    // -p, 0 = not given
  const char* socket = nullptr;     // -S
  const char* server = nullptr;     // -s
  bool all = false;                 // -a
  long waitMs = 2000;               // -w
  const char* lines[kCtlMaxLines];  // send's LINEs, or do's words
  int lineCount = 0;
  bool help = false;
  const char* tags[kCtlMaxTags];  // -t: the servers with any of these tags
  int tagCount = 0;
  const char* keep[kCtlMaxPatterns];  // -e
  int keepCount = 0;
  const char* hide[kCtlMaxPatterns];  // -v
  int hideCount = 0;
  bool json = false;    // --json
  bool alerts = false;  // --alerts
};

// Reads argv[1..]; false with a reason in err (errSize bytes) on a usage
// error. Options before the command are -p/-S (one of them); send takes
// -s/-a/-t (one of them; -t again adds a tag) and -w; follow takes -s or -t,
// -e, -v and --alerts; status takes -t; send, follow, status and list take
// --json; "--" ends the options.
bool parseCtlArgs(int argc, const char* const* argv, ctlArgs* out, char* err, int errSize);

// What one line from the console is.
enum ctlLineKind {
  kLineOk,       // "ok": the request is done
  kLineError,    // "error TEXT"
  kLineSent,     // "sent IPPORT STATE"
  kLineConsole,  // "console TEXT": a console message
  kLineDropped,  // "dropped N lines"
  kLineOther,    // a server's line "IPPORT ->TEXT", a status line, ...
};
ctlLineKind ctlKind(const char* line);

// Takes the first answer line out of buf (*len bytes): a line ended by
// '\n', or the whole buffer when it is full (bufSize bytes) without one.
// Copies it, without its '\n', cut to size - 1 characters and made harmless
// (tameLine), into line; returns true. False when no line is complete yet.
bool takeLine(char* buf, int* len, int bufSize, char* line, int size);

// Makes a line that came from the socket harmless to print: every control
// byte but tab (C0, DEL) becomes '?', as the console itself writes them in
// its answers, so that whoever answers cannot drive the terminal (set its
// title, clear it, move the cursor). In place.
void tameLine(char* line);

// The TARGET of a request for the -t tags: "@eu,us" into out (size bytes).
void tagTarget(const ctlArgs& a, char* out, int size);

// The exit status for a session state word ("confirmed", "up", "waiting",
// "mismatch", "noanswer"); and which of two statuses a run with both reports.
int stateStatus(const char* state);
int worseStatus(int a, int b);

// When a send's wait for answers is over: once every addressed server has
// sent a line and then kept quiet for kCtlQuietMs (the caller also stops at
// -w). Times are the caller's milliseconds. A server address of more than
// kCtlAddrChars characters, or servers past kCtlWaitServers, cannot be
// tracked: the wait then runs to -w.
constexpr long kCtlQuietMs = 300;
constexpr int kCtlWaitServers = 256;
constexpr int kCtlAddrChars = 63;
class answerWait {
 public:
  // A server the command went to: ipPort is the text up to the first blank.
  void add(const char* ipPort);
  // A line "IPPORT ->TEXT" from the console at time now.
  void heard(const char* line, long now);
  // Whether that server has sent a line since the command went out.
  bool answered(const char* ipPort) const;
  // How long from now until the wait is over: 0 when it is, -1 while a
  // server has not answered yet.
  long left(long now) const;

 private:
  int find(const char* ipPort, int len) const;
  struct server {
    char ipPort[kCtlAddrChars + 1];
    bool heard;
    long last;
  };
  server servers_[kCtlWaitServers];
  int count_ = 0;
  bool overflow_ = false;  // some server is not tracked
};

#endif  // QZUCON_CTL_CTLCORE_H_
