// Line patterns: POSIX extended regular expressions matched against a line
// of text, with a quick test first. Most patterns hold a run of plain
// characters that every match contains ("dro" in "dro+p"); a line without
// that run cannot match, and looking for it costs a fraction of running the
// expression, which matters when every line of a busy fleet meets every
// pattern. Pure (libc's regex only), shared by the console and qzuconctl.
#ifndef QZUCON_RUNTIME_PATTERN_H_
#define QZUCON_RUNTIME_PATTERN_H_

#include <regex.h>

constexpr int kPatternChars = 255;   // a pattern's source text at most
constexpr int kPatternLiteral = 63;  // the run kept for the quick test

struct pattern {
  regex_t re;
  bool compiled = false;
  char literal[kPatternLiteral + 1] = {};  // empty: no quick test
};

// The longest run of plain characters that every match of the extended
// expression src must contain, into out (kPatternLiteral + 1 bytes; a longer
// run is cut, which keeps it a part of every match). Empty when the
// expression gives no such run: an alternative at the top, or nothing plain.
// Conservative: a construct it does not follow ends a run, never starts one.
void patternLiteral(const char* src, char* out);

// The most atoms one pattern may compile into. libc's compiler copies a
// repeated piece ("x+" is "xx*", "x{m,n}" n copies), so stacked or nested
// repetitions multiply: "x{200}{200}{200}" or "x" and thirty "+" would take
// gigabytes.
constexpr long kPatternCopies = 4096;

// Compiles src (extended syntax; '^' and '$' also match at line breaks
// within the text) into p. False with the reason in err when src is not an
// expression (libc's reason), is longer than kPatternChars, or its counted
// repetitions make it more than kPatternCopies atoms.
bool patternCompile(pattern* p, const char* src, char* err, int errSize);

// The atoms src compiles into, with its repetitions counted out as libc
// copies them (bracket expressions and escapes are one atom each); at most
// kPatternCopies + 1, which means too many. Pure.
long patternCopies(const char* src);

// Whether text (NUL-terminated) holds a match of p.
bool patternMatch(const pattern* p, const char* text);

// Releases what patternCompile made; p may be compiled again.
void patternFree(pattern* p);

#endif  // QZUCON_RUNTIME_PATTERN_H_
