// The configuration language: one token per command-line argument or file
// line, read by parseInput and written back by writeini.
#ifndef QZUCON_APP_CONFIG_H_
#define QZUCON_APP_CONFIG_H_

// Handles one token (leading blanks and tabs skipped; empty or ';' = comment).
// Keywords match by prefix without regard to case; an unknown token prints the
// usage text. The token is not modified.
void parseInput(const char* token);

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

// The usage text, to standard output only.
void showHelp();

// Skips blanks and tabs at the start of src, then copies at most limit
// characters and a terminator into dst (limit + 1 bytes). Returns dst.
char* mystrzcpy(char* dst, const char* src, int limit);

// Whether a folder entry is the temporary file of a write of the file named
// base: "BASE." and six letters or digits, as a write makes it.
bool iniLeftoverName(const char* entry, const char* base);

#endif  // QZUCON_APP_CONFIG_H_
