// The one message writer. Every layer above the runtime reports through it.
#ifndef QZUCON_APP_LOG_H_
#define QZUCON_APP_LOG_H_

constexpr int kLogFormatLimit = 2048;  // longer formats are copied literally
constexpr int kLogMessageChars = 4096; // longer messages are cut

// printf-style; the message carries its own "\n". Echoes the message unchanged
// to standard output (unless g_noscreenlog), then appends it to the file named
// by g_logfn behind a "[MM.DD.YYYY hh:mm:ss] " stamp, with every byte below 32
// or above 127 other than CR and LF written as 0xFA. The file is opened, the
// entry written with one write and the file closed for each call, so a log
// renamed away is followed by a new file at once. When the entry cannot be
// written it is lost for the file without a report.
void log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The byte replacement log applies to its file copy, in place, over len bytes.
void makeLogSafe(char* text, int len);

#endif  // QZUCON_APP_LOG_H_
