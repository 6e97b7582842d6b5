// The log writer: screen echo and time-stamped append to the current log file.
#include "app/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/globals.h"
#include "runtime/bfc.h"
#include "runtime/clock.h"
#include "runtime/file.h"
#include "runtime/text.h"

namespace {

constexpr int kStampChars = 22;  // "[MM.DD.YYYY hh:mm:ss] "

void toScreen(const char* text) {
  fputs(text, stdout);
  fflush(stdout);  // one write per message: nothing is held back
}

// Appends one entry to the file with one write.
void appendEntry(const char* name, const char* entry, int len) {
  int fd = trOpenAppend(name);
  if (fd < 0) return;
  trFdWrite(fd, entry, static_cast<unsigned>(len));
  trFdClose(fd);
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
  appendEntry(name, entry, len);
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
  if (!g_noscreenlog) toScreen(msg);
  toFile(msg);
}
