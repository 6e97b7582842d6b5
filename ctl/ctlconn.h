// qzuconctl's side of the control socket: finding the running consoles of
// this user, connecting, and request and answer lines with deadlines.
// Reports its failures on standard error itself, as "qzuconctl: ...".
#ifndef QZUCON_CTL_CTLCONN_H_
#define QZUCON_CTL_CTLCONN_H_

#include "ctlproto/ctlpath.h"

constexpr int kCtlFoundMax = 32;      // consoles listed at most
constexpr int kCtlReplyChars = 8192;  // a request line, and answer bytes read ahead

// The sockets findConsoles found, kCtlFoundMax at most; more are left out.
struct ctlFound {
  int count = 0;
  char paths[kCtlFoundMax][kCtlPathSize];
};

// The sockets in this user's private folders (ctlproto/ctlpath.h, in their
// order) that a console answers on, appended to out. Folders that are not
// private are skipped with a warning on stderr; a missing one is no error.
void findConsoles(ctlFound* out);

// Where console port's socket is: the first private folder holding it, into
// path (kCtlPathSize bytes). False (said on stderr) when none does; a folder
// that is not private is never used. Whether a console answers there is
// left to the connection.
bool portSocket(long port, char* path);

// One connection to a console; closes it when it goes. Requests and answers
// are lines; answers are read ahead into a buffer of kCtlReplyChars.
class ctlConn {
 public:
  ctlConn() {}
  ~ctlConn();
  ctlConn(const ctlConn&) = delete;
  ctlConn& operator=(const ctlConn&) = delete;

  // Connects to the socket at path; false, with a line on stderr unless
  // quiet, when it cannot. False too, said even when quiet, when the kernel
  // says the peer is neither this user nor root: then nothing has been sent.
  // Root may talk to any user's console at a path it named itself (named:
  // given with -S).
  bool open(const char* path, bool quiet = false, bool named = false);
  // Sends one request line (its '\n' added; cut to kCtlReplyChars - 2
  // characters), waiting until all of it is written; false when the console
  // is gone. Says nothing itself.
  bool request(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // The next answer line, without its '\n', cut to size - 1 characters and
  // made harmless to print (takeLine), into line: 1, or 0 when waitMs passed
  // first (negative = no limit), or -1 when the console closed the
  // connection. Says nothing itself.
  int readLine(char* line, int size, long waitMs);
  // The socket, for a wait on several; -1 when not connected.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  char buf_[kCtlReplyChars];
  int len_ = 0;
};

#endif  // QZUCON_CTL_CTLCONN_H_
