// The log writer: screen echo and time-stamped append to the current log file.
#include "app/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/globals.h"
#include "runtime/bfc.h"
#include "runtime/clock.h"
#include "runtime/text.h"

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
    fputs(msg, stdout);
    fflush(stdout);
  }
  struct tm now;
  trLocalNow(&now);
  makeLogSafe(msg, static_cast<int>(strlen(msg)));
  bfc file("ab", "%s", g_logfn);
  file.wrtf("[%02u.%02u.%04u %02u:%02u:%02u] %s", unsigned(now.tm_mon + 1), unsigned(now.tm_mday),
            unsigned(now.tm_year + 1900), unsigned(now.tm_hour), unsigned(now.tm_min),
            unsigned(now.tm_sec), msg);
}
