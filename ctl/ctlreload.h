// qzuconctl reload: the console's answer lines to a reload, taken in one by
// one and written out as the line a person reads or as one JSON object.
// All but reloadCommand are pure.
#ifndef QZUCON_CTL_CTLRELOAD_H_
#define QZUCON_CTL_CTLRELOAD_H_

class ctlConn;

constexpr int kReloadKept = 4;     // settings named as kept until a restart, at most
constexpr int kReloadErrors = 32;  // errors kept, at most (the console sends no more)
constexpr int kReloadTextChars = 512;

// What the answer said so far.
struct reloadAnswer {
  bool reloaded = false;
  long added = 0, removed = 0, changed = 0, kept = 0;
  char restart[kReloadKept][32] = {};
  int restarts = 0;
  char errors[kReloadErrors][kReloadTextChars] = {};
  int errorCount = 0;
  char refused[kReloadTextChars] = "";  // the error line's text, once refused
};

// Takes one answer line ("reloaded ...", "restart ...", "invalid ...",
// "error ..."); false for a line that is none of them.
bool reloadTake(reloadAnswer* a, const char* line);

// The answer for a person into out (size bytes): "reloaded: 2 added, 1
// removed, 1 changed, 997 kept", and on a line of its own "kept until a
// restart: myaddr=, controlsocket=" when settings were; for a refusal
// "refused: TEXT" and one line per error. Lines end with '\n'.
void reloadText(const reloadAnswer& a, char* out, int size);
// The same as one JSON object and its '\n': {"reloaded":true,"added":2,
// "removed":1,"changed":1,"kept":997,"restart":["myaddr"]}, or
// {"reloaded":false,"error":"TEXT","errors":["...",...]}.
void reloadJson(const reloadAnswer& a, char* out, int size);

// Asks the console of c to reload and prints its answer (standard output;
// a refusal's lines to standard error unless json). kCtlOk, kCtlRefused, or
// kCtlError when the console went away or refused the request itself.
int reloadCommand(ctlConn* c, bool json);

#endif  // QZUCON_CTL_CTLRELOAD_H_
