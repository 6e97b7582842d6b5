// The configuration language: one token per command-line argument or file
// line, read by parseInput and written back by writeini.
#ifndef QZUCON_APP_CONFIG_H_
#define QZUCON_APP_CONFIG_H_

// Where a token came from, for the line that names one refused: the command
// line (file null), or a line of a configuration file.
struct tokenFrom {
  const char* file;
  int line;
};
constexpr tokenFrom kCommandLine = {nullptr, 0};

// Handles one token (leading blanks and tabs skipped; empty or ';' = comment).
// Keywords match by prefix without regard to case; an unknown token, or a
// value a keyword does not take, prints the usage text and then logs the
// line that names the token and where it came from. A value holding a line
// feed or carriage return is refused with a line of its own: written back by
// qzuconwrite it would be a second token. The token is not modified.
void parseToken(const char* token, tokenFrom from);
// parseToken for a token of the command line.
void parseInput(const char* token);

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
