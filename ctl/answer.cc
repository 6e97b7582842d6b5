// What qzuconctl makes of the console's answers: their kinds, the lines taken
// safely out of what the socket sent, and the exit status the session states
// earn.
#include "ctl/answer.h"

#include <cstring>

#include "ctlproto/words.h"
#include "runtime/text.h"

answerKind answerKindOf(const char* line) {
  if (strcmp(line, kAnsOk) == 0) return kAnswerOk;
  if (afterWord(line, kAnsError)) return kAnswerError;
  if (afterWord(line, kAnsSent)) return kAnswerSent;
  if (afterWord(line, kAnsConsole)) return kAnswerConsole;
  if (afterWord(line, kAnsDropped)) return kAnswerDropped;
  return kAnswerOther;
}

int errorStatus(const char* text) {
  size_t n = strlen(kErrDenied);
  return strncmp(text, kErrDenied, n) == 0 && text[n] == ':' ? kCtlDenied : kCtlError;
}

int stateStatus(const char* state) {
  if (strcmp(state, kStateConfirmed) == 0) return kCtlOk;
  if (strcmp(state, kStateUp) == 0) return kCtlUnconfirmed;
  if (strcmp(state, kStateMismatch) == 0) return kCtlMismatch;
  if (strcmp(state, kStateNoAnswer) == 0) return kCtlNoAnswer;
  if (strcmp(state, kStateUnreachable) == 0) return kCtlUnreachable;
  return kCtlWaiting;
}

int worseStatus(int a, int b) {
  // A wrong password says most about what to fix, then a server gone, then
  // silence, then a session still coming up, then one whose password is not
  // shown right yet.
  // Any other failure (a refused reload, an ended follow, ...) still beats
  // success: a run of several hosts must not report 0 for one that failed.
  static const int kOrder[] = {kCtlError,   kCtlMismatch,    kCtlUnreachable, kCtlNoAnswer,
                               kCtlWaiting, kCtlUnconfirmed};
  for (int s : kOrder) {
    if (a == s || b == s) return s;
  }
  return a == kCtlOk ? b : a;
}

void tameLine(char* line) {
  for (; *line; line++) {
    unsigned char b = static_cast<unsigned char>(*line);
    if ((b < 32 && b != '\t') || b == 127) *line = '?';
  }
}

bool takeLine(char* buf, int* len, int bufSize, char* line, int size) {
  char* nl = static_cast<char*>(memchr(buf, '\n', *len));
  if (!nl && *len < bufSize) return false;
  int take = nl ? static_cast<int>(nl - buf) : *len;
  int copy = take < size - 1 ? take : size - 1;
  memcpy(line, buf, copy);
  line[copy] = 0;
  // A zero byte would end the line early: it shows as the control it is.
  for (int i = 0; i < copy; i++) {
    if (line[i] == 0) line[i] = '?';
  }
  tameLine(line);
  int used = nl ? take + 1 : take;
  memmove(buf, buf + used, *len - used);
  *len -= used;
  return true;
}

int answerWait::find(const char* ipPort, int len) const {
  for (int i = 0; i < count_; i++) {
    if (static_cast<int>(strlen(servers_[i].ipPort)) == len &&
        strncmp(servers_[i].ipPort, ipPort, len) == 0) {
      return i;
    }
  }
  return -1;
}

void answerWait::add(const char* ipPort) {
  int len = static_cast<int>(strcspn(ipPort, " "));
  if (find(ipPort, len) >= 0) return;
  if (len > kCtlAddrChars || count_ == kCtlWaitServers) {
    overflow_ = true;
    return;
  }
  server& s = servers_[count_++];
  strzcpy(s.ipPort, ipPort, len);
  s.heard = false;
  s.last = 0;
}

void answerWait::heard(const char* line, long now) {
  const char* arrow = strstr(line, kAnsArrow);
  if (!arrow) return;
  int i = find(line, static_cast<int>(arrow - line));
  if (i < 0) return;
  servers_[i].heard = true;
  servers_[i].last = now;
}

bool answerWait::answered(const char* ipPort) const {
  int i = find(ipPort, static_cast<int>(strcspn(ipPort, " ")));
  return i >= 0 && servers_[i].heard;
}

long answerWait::left(long now) const {
  if (overflow_ || count_ == 0) return -1;
  long most = 0;
  for (int i = 0; i < count_; i++) {
    if (!servers_[i].heard) return -1;
    long quiet = servers_[i].last + kCtlQuietMs - now;
    if (quiet > most) most = quiet;
  }
  return most;
}
