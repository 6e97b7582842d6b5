// Bounded text helpers. Every function here keeps its writes inside the
// destination and leaves it NUL-terminated; texts that do not fit are cut,
// never rejected. Nothing here logs or keeps state.
#ifndef QZUCON_RUNTIME_TEXT_H_
#define QZUCON_RUNTIME_TEXT_H_

#include <cstdarg>
#include <cstdint>

// Formats into buf, which holds size bytes (size >= 1); buf[size-1] is always
// NUL afterwards. Returns the length of the complete formatted text, which
// exceeds size-1 when the text was cut.
int trf(char* buf, int size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int vtrf(char* buf, int size, const char* fmt, va_list ap);

// Appends formatted text to the NUL-terminated str living in a buffer of size
// bytes. The whole string never exceeds size-2 characters. Returns the current
// length when nothing could be appended, else the full length of the appended
// formatted text.
int traf(char* str, int size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// Copies at most n characters of src and a terminator: dst needs n+1 bytes
// (or strlen(src)+1 when smaller). n < 0 writes nothing. Returns dst.
char* strzcpy(char* dst, const char* src, int n);

// Removes every character of set from both ends of s, in place. Returns s, or
// a constant empty text when s is null.
char* strim(char* s, const char* set);

// True when text begins with word, ignoring the case of ASCII letters.
bool startsWithNoCase(const char* text, const char* word);
// The rest of text behind word when text begins with it (as startsWithNoCase
// decides), else null: a keyword's value without counting its letters.
const char* skipWordNoCase(const char* text, const char* word);

// Reads decimal digits from the start of text, modulo 2^32; '-' characters
// are skipped, anything else ends the scan. No blanks, no sign: "+5" is 0.
uint32_t atoul(const char* text);

// Writes the decimal digits of v at out (at most 20 bytes, no terminator) and
// returns the end: the appender of the paths that run for every datagram or
// every metrics line, which never format through printf.
char* putDecimal(char* out, uint64_t v);

// FNV-1a of a NUL-terminated text: the key of the name and address indexes.
uint32_t textHash(const char* text);

// UTF-8 as the journal and JSON readers need it, whatever bytes a server
// sent: a well-formed sequence stays as it is (players' names and chat in
// any language), every byte that is not part of one becomes U+FFFD.
// The length of the well-formed sequence at p (1 to 4, at most left bytes),
// or 0 when the byte at p begins none: a stray continuation byte, an
// overlong form, a surrogate, beyond U+10FFFF, or cut short.
int utf8Sequence(const unsigned char* p, int left);
// Writes the len bytes of in by that rule into out (room bytes, no
// terminator) and returns the length; with out null only measures. A
// character that readers do not take as text is U+FFFD as well: a control
// character other than tab and line feed (C0, DEL, C1) and a noncharacter
// (U+FDD0 to U+FDEF, U+xFFFE, U+xFFFF); the journal's readers show a field
// holding one as an array of numbers. At most 3 * len bytes; -1 when room is
// too small.
int utf8Clean(const char* in, int len, char* out, int room);
constexpr char kReplacementChar[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

#endif  // QZUCON_RUNTIME_TEXT_H_
