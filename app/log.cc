// The log writer: screen echo and time-stamped append to the current log file,
// a pass's messages written together, and the reports of log files that
// cannot be written.
#include "app/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/alerts.h"
#include "app/control.h"
#include "app/globals.h"
#include "app/journal.h"
#include "app/logbatch.h"
#include "app/triggers.h"
#include "app/logfiles.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/text.h"

logfail g_logFailures;
startlines g_startLines;
logfiles g_logFiles;
uint64_t g_logWriteErrors;

namespace {

logbatch g_logBatch;  // the messages of the pass, until written

// Through stdio, as every other screen text: a pass's text that fits the
// stream's buffer goes out with one write at the flush, and nothing is held.
void toScreen(const char* text, int len) {
  fwrite(text, 1, static_cast<size_t>(len), stdout);
  fflush(stdout);
}

void toScreen(const char* text) { toScreen(text, static_cast<int>(strlen(text))); }

// Appends a file's entries of the batch with one writev when the file takes
// them whole. A short write (a full disk, a size limit) is continued where it
// stopped, so the entries before it stay written once and none is repeated.
// 0 when all were written, else the system's error code, or -1 when a write
// took nothing without an error.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// A fuzz target logs millions of entries, and opening the file for each pass
// was most of its time: the entries, made as for the file, go nowhere.
int appendEntries(const char*, uint32_t, iovec*, int, int64_t) { return 0; }
#else
int appendEntries(const char* name, uint32_t hash, iovec* iov, int n, int64_t now) {
  bool kept = false;
  int fd = g_logFiles.open(name, hash, now, &kept);
  if (fd < 0) return trLastError();
  int err = 0;
  while (n > 0 && err == 0) {
    int w = trFileWritev(fd, iov, n);
    if (w <= 0) {
      err = w < 0 ? trLastError() : -1;
    } else {
      int whole = skipWritten(iov, n, static_cast<size_t>(w));
      iov += whole;
      n -= whole;
    }
  }
  if (kept) {
    // The next write opens whatever is at the name then: the failure may
    // have been this descriptor's alone (a file replaced, a disk remounted).
    if (err != 0) g_logFiles.drop(name);
    return err;
  }
  // A file system may report a failed write only at close.
  if (trFileClose(fd) != 0 && err == 0) err = trLastError();
  return err;
}
#endif

void reportFile(const char* name, int err, int64_t now) {
  char line[kFileNameChars + 160];
  if (err != 0) g_logWriteErrors++;
  switch (g_logFailures.note(name, err == 0, now)) {
    case kLogSayFailed:
      trf(line, sizeof line,
          "**Cannot write log file %s: %s (further failures for it are not reported for %d s)\n",
          name, err > 0 ? trErrorText(err) : "the entry was cut short", kLogQuietSecs);
      break;
    case kLogSayWritten:
      trf(line, sizeof line, "**Log file %s is written again\n", name);
      break;
    default:
      return;
  }
  toScreen(line);
}

// Writes out what the batch holds: the journal's entries, the screen with one write, then each file
// with one writev (opened and closed around it unless it is kept open), in
// the order the files first got an entry. A file that fails is reported after
// the screen text.
void writeBatch() {
  sendJournal();  // never waits: first, so the journal's copy is not held up by a slow disk
  logbatch& b = g_logBatch;
  if (b.empty()) return;
  toScreen(b.screen(), b.screenLen());
  if (b.files() == 0) {
    b.clear();
    return;
  }
  time_t now = trTime();
  g_logFiles.refresh(now);  // a file renamed since the last pass is not written to
  iovec iov[kBatchEntries];
  for (int f = 0; f < b.files(); f++) {
    int n = b.pieces(f, iov);
    int err = appendEntries(b.fileName(f), b.fileHash(f), iov, n, now);
    reportFile(b.fileName(f), err, now);
  }
  b.clear();
}

// The "[MM.DD.YYYY hh:mm:ss] " of secs, formatted once a second.
const char* stampFor(time_t secs) {
  const char* kept = g_logBatch.stampOf(secs);
  if (kept) return kept;
  struct tm t;
  trLocalTime(secs, &t);
  char stamp[kStampChars + 1];
  trf(stamp, sizeof stamp, "[%02u.%02u.%04u %02u:%02u:%02u] ", unsigned(t.tm_mon + 1),
      unsigned(t.tm_mday), unsigned(t.tm_year + 1900), unsigned(t.tm_hour), unsigned(t.tm_min),
      unsigned(t.tm_sec));
  g_logBatch.keepStamp(secs, stamp);
  return g_logBatch.stampOf(secs);
}

// The file copy of a message: its stamp, then the text made safe. Returns
// the length; out holds kStampChars + kLogMessageChars + 1 bytes.
int fileEntry(const char* msg, int len, char* out) {
  const char* stamp = stampFor(trTime());
  int stampLen = static_cast<int>(strlen(stamp));  // kStampChars at most
  memcpy(out, stamp, static_cast<size_t>(stampLen));
  memcpy(out + stampLen, msg, static_cast<size_t>(len));
  makeLogSafe(out + stampLen, len);
  out[stampLen + len] = 0;
  return stampLen + len;
}

void takeLine(const line& l);
line consoleLine(const char* msg, int len);

// Writes out the messages held at start-up, in order, as log writes them now.
void writeStartLines() {
  startlines& h = g_startLines;
  bool held = h.held;
  h.held = false;
  for (int i = 0; i < h.count; i++) {
    if (h.screenOnly[i]) {
      toScreen(h.text + h.off[i]);
    } else {
      const char* text = h.text + h.off[i];
      takeLine(consoleLine(text, static_cast<int>(strlen(text))));
    }
  }
  h.count = h.bytes = 0;
  h.held = held;
}

// A message or usage text at start-up, kept in order; when the list is full
// what it holds goes out first, before the log file and the journal are known.
static_assert(kLogMessageChars < kStartBytes, "an empty list takes any message");
void holdStartLine(const char* text, int len, bool screenOnly) {
  startlines& h = g_startLines;
  if (h.add(text, len, screenOnly)) return;
  for (int i = 0; i < h.count; i++) h.spilled += h.screenOnly[i] ? 0 : 1;
  writeStartLines();
  h.add(text, len, screenOnly);
}

// A console message as log makes it: an error when it says so.
line consoleLine(const char* msg, int len) {
  line l;
  l.text = msg;
  l.len = len;
  if (strncmp(msg, kErrorMark, sizeof kErrorMark - 1) == 0) l.priority = kPrioError;
  return l;
}

// Every line enters the pass here, in the order of arrival: the console's
// own and each server's alike (with g_logfn naming the server's file).
void takeLine(const line& l) {
  bool quiet = l.quiet || g_noscreenlog;
  if (g_startLines.held && !quiet) {
    holdStartLine(l.text, l.len, false);  // goes out as a console line
    return;
  }
  char name[kFileNameChars + 1] = "";
  char entry[kStampChars + kLogMessageChars + 1];
  int entryLen = 0;
  if (g_logfn[0]) {  // no log file yet during configuration
    strzcpy(name, g_logfn, kFileNameChars);
    fixFileName(name);
    entryLen = fileEntry(l.text, l.len, entry);
  }
  journalTake(l);
  const char* screen = quiet || g_journal.screenIsJournal ? nullptr : l.text;
  if (!g_logBatch.add(name, entry, entryLen, screen, l.len)) {
    writeBatch();  // full: what it holds goes first, in order
    g_logBatch.add(name, entry, entryLen, screen, l.len);
  }
  if (!g_logBatch.held()) writeBatch();
}

// Formats a message into msg (kLogMessageChars + 1 bytes); its length.
int formatMessage(char* msg, const char* fmt, va_list ap) {
  if (strlen(fmt) > static_cast<size_t>(kLogFormatLimit)) {
    strzcpy(msg, fmt, kLogMessageChars);
  } else {
    // vtrf cuts a message longer than the buffer instead of overflowing it.
    vtrf(msg, kLogMessageChars + 1, fmt, ap);
  }
  return static_cast<int>(strlen(msg));
}

}  // namespace

void holdLog() { g_logBatch.setHeld(true); }

void holdStartup() { g_startLines.held = true; }

void releaseStartup() {
  startlines& h = g_startLines;
  if (!h.held) return;
  writeStartLines();
  h.held = false;
  if (h.spilled > 0) {
    log("**%d start-up messages went out before the log file and the journal were known\n",
        h.spilled);
  }
  h.spilled = 0;
}

void logScreenOnly(const char* text) {
  if (g_startLines.held) {
    holdStartLine(text, static_cast<int>(strlen(text)), true);
  } else {
    toScreen(text);
  }
}

bool startlines::add(const char* t, int len, bool screen) {
  if (count == kStartLines || len + 1 > kStartBytes - bytes) return false;
  off[count] = bytes;
  screenOnly[count++] = screen;
  memcpy(text + bytes, t, static_cast<size_t>(len));
  text[bytes + len] = 0;
  bytes += len + 1;
  return true;
}

void startlines::reset() {
  held = false;
  spilled = count = bytes = 0;
}

void writeLog() { writeBatch(); }

void releaseLog() {
  writeBatch();
  g_logBatch.setHeld(false);
}

void makeLogSafe(char* text, int len) {
  for (int i = 0; i < len; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != 13 && c != 10 && (c < 32 || c >= 128)) text[i] = static_cast<char>(250);
  }
}

void emit(const line& in) {
  line l = in;
  const char* names[kAlertsMax];
  int hits[kAlertsMax];
  if (l.kind == kJournalServer && g_alerts.count() > 0) {
    // Matched before any sink sees the line: the journal names the rules.
    l.alertCount = g_alerts.match(serverIndexOf(l.server), l.body ? l.body : l.text, names, hits);
    l.alerts = names;
    l.alertHits = hits;
    if (l.alertCount > 0) l.priority = kPrioWarning;
  }
  if (l.journalOnly) {
    journalTake(l);
    return;
  }
  if (!l.quiet && !g_noscreenlog) controlPublish(l);  // what the screen shows, followers get
  takeLine(l);
  if (l.alertCount > 0) {
    controlPublishAlerts(l);
    // Sent once the line is done (app/triggered.h): noted here.
    if (g_triggers.count() > 0) {
      g_triggers.note(g_alerts, l.alertHits, l.alertCount, serverIndexOf(l.server),
                      l.body ? l.body : l.text);
    }
  }
}

void log(const char* fmt, ...) {
  char msg[kLogMessageChars + 1];
  va_list ap;
  va_start(ap, fmt);
  int len = formatMessage(msg, fmt, ap);
  va_end(ap);
  emit(consoleLine(msg, len));
}

namespace {

// Emits l with its text formatted from fmt and ap.
void emitFormatted(line l, const char* fmt, va_list ap) {
  char msg[kLogMessageChars + 1];
  l.len = formatMessage(msg, fmt, ap);
  l.text = msg;
  emit(l);
}

void emitCommand(const serverRec* about, journalSource source, long uid, const char* fmt,
                 va_list ap) {
  line l;
  l.server = about;
  l.kind = kJournalCommand;
  l.source = source;
  l.uid = uid;
  l.quiet = true;
  emitFormatted(l, fmt, ap);
}

void emitAbout(const serverRec* about, int priority, journalEvent event, bool journalOnly,
               const char* fmt, va_list ap) {
  line l;
  l.server = about;
  l.priority = priority;
  l.event = event;
  l.journalOnly = journalOnly;
  emitFormatted(l, fmt, ap);
}

}  // namespace

void logAbout(const serverRec* about, int priority, journalEvent event, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emitAbout(about, priority, event, false, fmt, ap);
  va_end(ap);
}

void journalAbout(const serverRec* about, journalEvent event, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emitAbout(about, kPrioNotice, event, true, fmt, ap);
  va_end(ap);
}

void logRecord(const line& l, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emitFormatted(l, fmt, ap);
  va_end(ap);
}

void logCommand(const serverRec* about, journalSource source, long uid, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emitCommand(about, source, uid, fmt, ap);
  va_end(ap);
}

void logTyped(const serverRec* about, journalSource source, const char* fmt, ...) {
  const ctlClient* doer = g_ctl.doer;
  va_list ap;
  va_start(ap, fmt);
  emitCommand(about, doer ? kSourceControl : source, doer ? static_cast<long>(doer->uid) : -1, fmt,
              ap);
  va_end(ap);
}

bool ownTextWanted() { return journalOn() || g_ctl.following; }

void resetLog() {
  g_logFailures.reset();
  g_logBatch.reset();
  g_startLines.reset();
  g_logFiles.reset();
  g_logWriteErrors = 0;
}

// ---- logfail ----

void logfail::reset() {
  memset(files_, 0, sizeof files_);
  used_ = 0;
}

logfail::entry* logfail::find(const char* name) {
  for (entry& e : files_) {
    if (e.used && strcmp(e.name, name) == 0) return &e;
  }
  return nullptr;
}

logfail::entry* logfail::slot() {
  entry* oldest = &files_[0];
  for (entry& e : files_) {
    if (!e.used) return &e;
    if (e.reported < oldest->reported) oldest = &e;
  }
  used_--;  // forgotten, to be used again at once
  return oldest;
}

logNote logfail::note(const char* name, bool written, int64_t now) {
  if (written && used_ == 0) return kLogSayNothing;  // the usual case, at once
  entry* e = find(name);
  if (written) {
    if (e == nullptr) return kLogSayNothing;
    e->used = false;
    used_--;
    return kLogSayWritten;
  }
  if (e == nullptr) {
    e = slot();
    strzcpy(e->name, name, kFileNameChars);
    e->used = true;
    used_++;
  } else if (now >= e->reported && now - e->reported < kLogQuietSecs) {
    return kLogSayNothing;  // a clock set back counts as time gone by
  }
  e->reported = now;
  return kLogSayFailed;
}
