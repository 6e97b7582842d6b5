// The one message writer. Every layer above the runtime reports through it.
#ifndef QZUCON_APP_LOG_H_
#define QZUCON_APP_LOG_H_

#include <cstdint>

#include "runtime/bfc.h"

constexpr int kLogFormatLimit = 2048;  // longer formats are copied literally
constexpr int kLogMessageChars = 4096; // longer messages are cut

// printf-style; the message carries its own "\n". Echoes the message unchanged
// to standard output (unless g_noscreenlog), then appends it to the file named
// by g_logfn behind a "[MM.DD.YYYY hh:mm:ss] " stamp of the time of the call,
// with every byte below 32 or above 127 other than CR and LF written as 0xFA.
// Outside a pass both are written before log returns. Inside one (holdLog to
// releaseLog) they wait for writeLog or releaseLog, in the order taken. A file
// gets its entries with one write per pass and stays open between passes
// until its name changes (app/logfiles.h), so a log renamed away is followed
// by a new file at once. When a file
// cannot be written, the screen says so (see logfail); an empty g_logfn is no
// file. With the journal on, each message is also one journal entry
// (app/journal.h), sent with the pass's other entries before the screen and
// the files are written; the screen copy is left out when standard output is
// the journal itself.
void log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// What log does with the message it formatted, for a message made by hand
// (at most kLogMessageChars): a server's line, where a format would cost
// more than the rest of the line's own work.
void logText(const char* msg);

// The messages of a pass: from holdLog on, log holds them; writeLog writes
// what is held (the screen with one write, then each file that got entries
// with one writev) and releaseLog does the same and
// ends the holding. A pass that holds more than the batch takes (app/
// logbatch.h) has the batch written early; nothing is held past releaseLog.
void holdLog();
void writeLog();
void releaseLog();

// Start-up: the log file's name and whether the journal is on are known only
// once the configuration is read, yet reading it has things to say (a bad
// token, tag or alert). From holdStartup on, every message log takes, and
// the usage text, is kept in order instead of written; releaseStartup
// writes them out as log writes then (screen, the file g_logfn names, the
// journal), each once, and ends the holding. More than the list holds are
// written out early, the screen in order, and counted in one line at the
// release.
void holdStartup();
void releaseStartup();
// Text for the screen alone (the usage text): written at once, or kept in
// order with the messages while start-up holds them.
void logScreenOnly(const char* text);

constexpr int kStartLines = 512;       // messages held at start-up
constexpr int kStartBytes = 64 << 10;  // their bytes

// The messages held at start-up, in order, within the bounds above.
struct startlines {
  bool held = false;
  int spilled = 0;  // messages written out early, before the log file was known
  int count = 0, bytes = 0;
  int off[kStartLines];
  bool screenOnly[kStartLines];
  char text[kStartBytes];

  // False, with nothing kept, when text (len bytes) does not fit. Pure.
  bool add(const char* t, int len, bool screen);
  // Program-start state: not holding, nothing held.
  void reset();
};

// The byte replacement log applies to its file copy, in place, over len bytes.
void makeLogSafe(char* text, int len);

constexpr int kLogQuietSecs = 5;   // between two reports of one file failing
constexpr int kLogFailFiles = 16;  // failing files remembered at once

// What the screen is to hear about a log file after one write to it.
enum logNote { kLogSayNothing, kLogSayFailed, kLogSayWritten };

// The log files that could not be written lately, so that a full disk shows
// on the screen without a line for every message it costs: a file's failure
// is reported when it starts and then at most every kLogQuietSecs while it
// lasts, and the first good write after it is reported once. Pure: the time
// comes in as seconds. Beyond kLogFailFiles failing files the one reported
// longest ago is forgotten.
class logfail {
 public:
  logfail() { reset(); }
  logNote note(const char* name, bool written, int64_t now);
  void reset();

 private:
  struct entry {
    char name[kFileNameChars + 1];
    int64_t reported;  // when its failure was last reported
    bool used;
  };
  entry* find(const char* name);
  entry* slot();  // a free entry, else the one reported longest ago

  entry files_[kLogFailFiles];
  int used_;
};

#endif  // QZUCON_APP_LOG_H_
