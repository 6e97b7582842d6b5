// What qzuconctl makes of the console's answer lines before printing them:
// the parts of a line (whose it is, what kind, its text), the filters of
// "follow -e/-v", and the JSON form of "--json". Pure, so that table tests
// reach every case.
//
// JSON strings are valid UTF-8 whatever bytes a server sent: a well-formed
// UTF-8 sequence stays as it is, every other byte is U+FFFD (utf8Clean's
// rule, as in the journal); control characters are \u00XX, '"' and '\'
// escaped.
#ifndef QZUCON_CTL_CTLOUT_H_
#define QZUCON_CTL_CTLOUT_H_

#include <cstdint>

#include "fleet/pattern.h"
#include "fleet/tags.h"

constexpr int kCtlMaxPatterns = 16;  // of -e, and of -v
constexpr int kCtlMaxTags = kTagsPerServer;

// The parts of one answer line, as ctlJson writes them. Pointers are into
// the line split or constants: the line must outlive the parts. server and
// alert are cut to their arrays.
struct ctlParts {
  const char* kind = "";  // "server", "console", "sent", "status", "alert" or "other"
  char server[256] = "";  // IPPORT, empty when the line is about no server
  const char* text = "";  // the server's text (without "->"), a message, ...
  char state[16] = "";    // a sent line's session state
  char alert[kTagChars + 1] = "";
  const char* socket = "";  // list: the console's socket, own address and name
  const char* myaddr = "";
  const char* console = "";
};

// Splits line (as takeLine gave it) into out: "IPPORT ->TEXT", "console
// TEXT", "sent IPPORT STATE", "status IPPORT: TEXT", "alert NAME IPPORT
// ->TEXT"; anything else, "dropped" lines too, is kind "other" with the
// whole line as text. A status line's closing ", tags LIST" is cut off in
// place: the tags have a field of their own. Never fails.
void ctlSplit(char* line, ctlParts* out);

// -e and -v: a text passes when it matches one of keep (or keep is empty)
// and none of hide. Holds compiled expressions: it frees them when it goes,
// and is not to be copied.
struct ctlFilter {
  pattern keep[kCtlMaxPatterns];
  int keepCount = 0;
  pattern hide[kCtlMaxPatterns];
  int hideCount = 0;
  ~ctlFilter();
};
// Compiles the expressions into f (kCtlMaxPatterns of each at most; more
// are left out: the command line allows no more); false with the bad one
// and the engine's reason in err (errSize bytes), f then holding those
// compiled before it. Says nothing itself.
bool ctlFilterCompile(ctlFilter* f, const char* const* keep, int keepCount, const char* const* hide,
                      int hideCount, char* err, int errSize);
// Whether text passes f's expressions (see above).
bool ctlFilterPass(const ctlFilter& f, const char* text);

// The JSON object of parts p, with the server's tags (a list as the console
// keeps it) and the time in milliseconds since 1970, into out (size bytes;
// 6 times the line and 700 more always suffice): {"server","tags","time",
// "kind","text"} and, where they apply, "state", "alert", "socket",
// "myaddr" and "console" (list). A server-less
// line has "server":null. Returns the length, or -1 when out is too small.
int ctlJson(const ctlParts& p, const char* tags, int64_t timeMs, char* out, int size);

// A JSON string of bytes by the rule above, appended at out[*len] (size
// bytes in all). False, with out unchanged beyond *len, when it does not fit.
bool jsonString(const char* bytes, char* out, int size, int* len);

// "2026-12-11T02:35:16.123Z" for timeMs into out (25 bytes).
void isoTime(int64_t timeMs, char* out);

#endif  // QZUCON_CTL_CTLOUT_H_
