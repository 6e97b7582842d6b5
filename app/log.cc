// The log writer: screen echo and time-stamped append to the current log file,
// and the reports of log files that cannot be written.
#include "app/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/globals.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace {

constexpr int kStampChars = 22;  // "[MM.DD.YYYY hh:mm:ss] "

void toScreen(const char* text) {
  fputs(text, stdout);
  fflush(stdout);  // one write per message: nothing is held back
}

// Appends one entry to the file with one write. 0 when it was written whole,
// else the system's error code, or -1 when only part of it was written.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// A fuzz target logs millions of entries, and opening the file for each was
// most of its time: the entry, made as for the file, goes nowhere.
int appendEntry(const char*, const char*, int) { return 0; }
#else
int appendEntry(const char* name, const char* entry, int len) {
  int fd = trOpenAppend(name);
  if (fd < 0) return trLastError();
  int n = trFileWrite(fd, entry, static_cast<unsigned>(len));
  int err = n < 0 ? trLastError() : n < len ? -1 : 0;
  // A file system may report a failed write only at close.
  if (trFileClose(fd) != 0 && err == 0) err = trLastError();
  return err;
}
#endif

void reportFile(const char* name, int err, int64_t now) {
  char line[kFileNameChars + 160];
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

void toFile(char* msg) {
  if (!g_logfn[0]) return;  // no log file yet (during configuration)
  time_t secs = trTime();
  struct tm now;
  trLocalTime(secs, &now);
  makeLogSafe(msg, static_cast<int>(strlen(msg)));
  char entry[kStampChars + kLogMessageChars + 1];
  int len = trf(entry, sizeof entry, "[%02u.%02u.%04u %02u:%02u:%02u] %s", unsigned(now.tm_mon + 1),
                unsigned(now.tm_mday), unsigned(now.tm_year + 1900), unsigned(now.tm_hour),
                unsigned(now.tm_min), unsigned(now.tm_sec), msg);
  if (len > static_cast<int>(sizeof entry) - 1) len = static_cast<int>(sizeof entry) - 1;
  char name[kFileNameChars + 1];
  strzcpy(name, g_logfn, kFileNameChars);
  fixFileName(name);
  reportFile(name, appendEntry(name, entry, len), secs);
}

}  // namespace

void makeLogSafe(char* text, int len) {
  for (int i = 0; i < len; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != 13 && c != 10 && (c < 32 || c >= 128)) text[i] = static_cast<char>(250);
  }
}

void log(const char* fmt, ...) {
  char msg[kLogMessageChars + 1];
  if (strlen(fmt) <= static_cast<size_t>(kLogFormatLimit)) {
    va_list ap;
    va_start(ap, fmt);
    // vtrf cuts a message longer than the buffer instead of overflowing it.
    vtrf(msg, sizeof msg, fmt, ap);
    va_end(ap);
  } else {
    strzcpy(msg, fmt, kLogMessageChars);
  }
  if (!g_noscreenlog) {
    toScreen(msg);
    controlPublish(g_lineFrom, msg);  // what the screen shows, followers get
  }
  toFile(msg);
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
