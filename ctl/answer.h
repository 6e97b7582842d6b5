// What qzuconctl makes of the console's answer lines: which kind each is,
// taking lines safely out of whatever the socket sent, the exit status the
// session states earn, and when a send's wait for the servers' answers is
// over. Pure: no system calls, so table tests and the fuzzer drive them.
#ifndef QZUCON_CTL_ANSWER_H_
#define QZUCON_CTL_ANSWER_H_

// Exit statuses of qzuconctl.
constexpr int kCtlOk = 0;
constexpr int kCtlError = 1;        // usage, connection, or a request refused
constexpr int kCtlMismatch = 2;     // the console reports a password mismatch
constexpr int kCtlNoAnswer = 3;     // a server is in the console's no-answer state
constexpr int kCtlWaiting = 4;      // a server's session is not up yet
constexpr int kCtlUnconfirmed = 5;  // up, but nothing has shown its password right yet
constexpr int kCtlUnreachable = 6;  // a server's port is closed, or it answered nothing after a
                                    // silence
constexpr int kCtlEnded = 7;        // follow: the console ended
constexpr int kCtlRefused = 8;      // reload: the configuration was refused, nothing changed
constexpr int kCtlDenied = 9;       // the console's owner has not allowed this user the request
constexpr int kCtlNotSeen = 10;     // send --rolling --until: no such line within --timeout
constexpr int kCtlStopped = 11;     // send --rolling: stopped by a signal before every turn

// What one line from the console is (ctlproto/words.h has the words).
enum answerKind {
  kAnswerOk,       // "ok": the request is done
  kAnswerError,    // "error TEXT"
  kAnswerSent,     // "sent IPPORT STATE"
  kAnswerConsole,  // "console TEXT": a console message
  kAnswerDropped,  // "dropped N lines"
  kAnswerOther,    // a server's line "IPPORT ->TEXT", a status line, ...
};
// The kind of a line as takeLine gave it; anything it does not know is
// kAnswerOther, never an error.
answerKind answerKindOf(const char* line);

// Takes the first answer line out of buf (*len bytes): a line ended by
// '\n', or the whole buffer when it is full (bufSize bytes) without one.
// Copies it, without its '\n', cut to size - 1 characters and made harmless
// (tameLine, and a zero byte shown as '?'), into line; moves the rest of buf
// to its start and returns true. False, with buf untouched, when no line is
// complete yet.
bool takeLine(char* buf, int* len, int bufSize, char* line, int size);

// Makes a line that came from the socket harmless to print: every control
// byte but tab (C0, DEL) becomes '?', as the console itself writes them in
// its answers, so that whoever answers cannot drive the terminal (set its
// title, clear it, move the cursor). In place.
void tameLine(char* line);

// The exit status an "error TEXT" answer earns, TEXT being what follows
// "error ": kCtlDenied for a request the user is not allowed, else kCtlError.
int errorStatus(const char* text);

// The exit status a session state word earns (kCtlOk for "confirmed", ...;
// an unknown word counts as still waiting); and which of two statuses a run
// with both reports: the one that says most about what to fix.
int stateStatus(const char* state);
int worseStatus(int a, int b);

// When a send's wait for answers is over: once every addressed server has
// sent a line and then kept quiet for kCtlQuietMs (the caller also stops at
// -w). Times are the caller's milliseconds. A server address of more than
// kCtlAddrChars characters, or servers past kCtlWaitServers, cannot be
// tracked: the wait then runs to -w. About 20 KB: keep it off the stack.
constexpr long kCtlQuietMs = 300;
constexpr int kCtlWaitServers = 256;
constexpr int kCtlAddrChars = 63;
class answerWait {
 public:
  // A server the command went to: ipPort is the text up to the first blank
  // (the rest of a "sent" line, its state, is ignored). Again is no more.
  void add(const char* ipPort);
  // A line from the console at time now: when it is a followed line
  // "IPPORT ->TEXT" of a server added, that server has answered.
  void heard(const char* line, long now);
  // Whether that server has sent a line since the command went out.
  bool answered(const char* ipPort) const;
  // How long from now until the wait is over: 0 when it is, -1 while a
  // server has not answered yet, when none was added, or when some cannot
  // be tracked.
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

#endif  // QZUCON_CTL_ANSWER_H_
