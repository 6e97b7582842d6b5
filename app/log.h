// The one message writer. Every layer above the runtime reports through it.
#ifndef QZUCON_APP_LOG_H_
#define QZUCON_APP_LOG_H_

#include <cstdint>

#include "app/line.h"
#include "runtime/bfc.h"

constexpr int kLogFormatLimit = 2048;  // longer formats are copied literally
constexpr int kLogMessageChars = 4096; // longer messages are cut

// The start of the console's error messages: they are errors in the journal.
constexpr char kErrorMark[] = "ERROR";

// emit(l): the one way a line leaves the console. In this order:
//  1. a server line is matched against the alert rules, each match counted
//     (app/alerts.h); one that matched is a warning, named by its rules;
//  2. control clients following its server, or the console, get it
//     (app/control.h), unless l.quiet or g_noscreenlog;
//  3. with the journal on, it is one journal entry (app/journal.h), sent with
//     the pass's other entries before the screen and the files are written;
//  4. the screen gets l.text unchanged, unless l.quiet, g_noscreenlog or
//     standard output is the journal itself; the file g_logfn names (none
//     when empty) gets it behind a "[MM.DD.YYYY hh:mm:ss] " stamp of the
//     call's time, every byte below 32 or above 127 but CR and LF as 0xFA;
//  5. clients following alerts get it once per rule it matched.
// Outside a pass screen and file are written before emit returns; inside one
// (holdLog to releaseLog) they wait, in order. A file stays open between
// passes until its name changes (app/logfiles.h). A file that cannot be
// written is said on the screen (logfail), never returned. From holdStartup
// to releaseStartup the text is kept and goes out then as a console line.
// A l.journalOnly line is step 3 alone.
void emit(const line& l);
// The console's own message, printf-style, with its own "\n": at most
// kLogMessageChars bytes, a format longer than kLogFormatLimit taken as it
// is. Emitted as a console line, an error when it begins with kErrorMark.
void log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same, about server `about` (or none), with its priority and event.
void logAbout(const serverRec* about, int priority, journalEvent event, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
// A notice about server `about` for the journal alone (journalOnly).
void journalAbout(const serverRec* about, journalEvent event, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
// A command sent to server `about` (null: to the console) from source (uid
// for the control socket, else -1): in the files and the journal only.
void logCommand(const serverRec* about, journalSource source, long uid, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
// A record its maker filled (who asked, its source, event and priority),
// with its text formatted from fmt: a reload said for a control client, a
// member's request, a trigger's command.
void logRecord(const line& l, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// A line typed at source, or run by a control client's "do" (then from the
// control socket, as that client's user): as logCommand.
void logTyped(const serverRec* about, journalSource source, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
// Whether some sink takes a server line's own text (line::own): the journal
// or a follower. Without one, reception need not keep it.
bool ownTextWanted();

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

extern logfail g_logFailures;      // log files that could not be written lately
extern startlines g_startLines;    // the messages of start-up, until its log is known
extern uint64_t g_logWriteErrors;  // failed writes to log files

// The writer's state back to program start: nothing held, no file open.
void resetLog();

#endif  // QZUCON_APP_LOG_H_
