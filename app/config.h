// The configuration language: one token per command-line argument or file
// line, read by parseInput and written back by writeini.
#ifndef QZUCON_APP_CONFIG_H_
#define QZUCON_APP_CONFIG_H_

#include <cstdint>

#include "app/journal.h"

struct serverRec;
class flexar;
class alertset;

// Where a token came from, for the line that names one refused: the command
// line (file null), or a line of a configuration file.
struct tokenFrom {
  const char* file;
  int line;
};
constexpr tokenFrom kCommandLine = {nullptr, 0};

// The errors a reading of the configuration found, each naming its file and
// line ("site.ini line 7: Bad alert ..."), in the order found; past
// kConfigErrorsMax only counted.
constexpr int kConfigErrorsMax = 32;
constexpr int kConfigErrorChars = 512;
struct configErrors {
  int count = 0;
  char text[kConfigErrorsMax][kConfigErrorChars];
};
// Adds one error; the text is formatted, without "ERROR: " and line end.
void configError(configErrors* e, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Where the tokens go: the running configuration (start-up, and the tests
// that configure a console token by token) or a whole configuration read
// apart from it (a reload, qzucon --check). The texts hold kNameChars + 1
// bytes, name kConsoleNameChars + 1.
struct ctlAccess;
class triggerset;

struct configTarget {
  char* inifn;
  char* logfn;
  char* myaddr;
  char* consoleName;
  char* ctlsocket;
  char* metricsPath;
  uint32_t* tcpPort;
  uint32_t* udpPort;
  uint8_t* localusers;
  journalMode* journal;
  uint8_t* debug;
  serverRec* pending;  // the server= being read, until the next one or the end
  flexar* servers;     // serverRec records in order
  alertset* alerts;
  ctlAccess* access;  // controlgroup= and allow=
  triggerset* triggers;  // on= and oncooldown=
  // Null: each error is logged as found, and the token left out (start-up).
  // Else errors are collected here, and qzuconwrite tokens write nothing.
  configErrors* errors;
};
// The running configuration: the globals.
configTarget liveConfig();

// Handles one token (leading blanks and tabs skipped; empty or ';' = comment).
// Keywords match by prefix without regard to case; an unknown token, or a
// value a keyword does not take, prints the usage text and then logs the
// line that names the token and where it came from. A value holding a line
// feed or carriage return is refused with a line of its own: written back by
// qzuconwrite it would be a second token. The token is not modified.
void parseToken(const char* token, tokenFrom from);
// parseToken for a token of the command line.
void parseInput(const char* token);
// parseToken into target.
void parseTokenInto(const configTarget& target, const char* token, tokenFrom from);

// Reads the configuration file name into target, line by line; returns 0, or
// the error that kept it from being read. A missing file is no error unless
// named (the user named it with ini=, or a reload expects it); a folder is
// never a file (opening one works, reading it does not).
// *found (when given) tells whether the file was there and read.
int readConfigFile(const configTarget& target, const char* name, bool named, bool* found = nullptr);

enum tokenFault { kTokenUnknown, kTokenBadValue, kTokenLineBreak };
// The line (with its "\n", at most size bytes with the terminator) that names
// a refused token and where it came from. The token is shown with its blanks
// skipped, at most kTokenShown characters, control characters as '?'; the
// value after the first '=' is left out except for a bad value (a mistyped
// keyword may carry a password, and the line goes to the log file).
constexpr int kTokenShown = 64;
void tokenFaultLine(char* out, int size, tokenFault fault, const char* token, tokenFrom from);

// The configuration's keywords, in the order they are tried: configWordAt(i)
// for 0 <= i < configWordCount(), with the '=' or blank that ends the word.
int configWordCount();
const char* configWordAt(int i);

// The console's name into out (kConsoleNameChars + 1 bytes): given ("name=")
// when not empty; else the base name of ini without its extension, when a
// file was named with "ini=" (ini null otherwise); else the port of myaddr,
// the console's own address. Pure.
void consoleNameFor(const char* given, const char* ini, const char* myaddr, char* out);

// Appends the pending record g_tempServer to flServer when its address is not
// empty (its header taken from g_HEADER), then clears it either way.
void commitPendingServer();
// The same for target's pending record and list.
void commitPendingInto(const configTarget& target);

// Writes the configuration to name (leading spaces skipped; "" means
// "qzucon.ini") through a temporary file in the same folder, flushed to disk
// and renamed over the name: a failure leaves the old file as it was, and a
// symbolic link at the name is replaced, not followed. A new file is readable
// by its owner only, since it holds passwords; a replaced file's permissions
// are kept. Logs the outcome.
void writeini(const char* name);

// The usage text, to standard output only (held in order with the log's
// lines while start-up holds them, app/log.h).
void showHelp();
// The usage text followed by a line for every configuration word it does not
// name, taken from the word table, and the two options: qzucon --help.
void showFullHelp();

// Skips blanks and tabs at the start of src, then copies at most limit
// characters and a terminator into dst (limit + 1 bytes). Returns dst.
char* mystrzcpy(char* dst, const char* src, int limit);

// Whether a folder entry is the temporary file of a write of the file named
// base: "BASE." and six letters or digits, as a write makes it.
bool iniLeftoverName(const char* entry, const char* base);

#endif  // QZUCON_APP_CONFIG_H_
