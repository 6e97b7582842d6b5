// Line patterns: regular expressions matched against a line of text, one at
// a time or a whole list in one pass. Server text is shaped by whoever can
// make a server log something, so the engine's cost is linear in the line
// whatever the pattern (RE2: a cached automaton, no backtracking), and a
// pattern whose automaton would be large is refused when it is compiled
// rather than paid for on every line. Shared by the console and qzuconctl,
// so that a rule means the same in both.
//
// The syntax is POSIX extended with the Perl classes (\w, \s, \d and their
// negations) and word boundaries (\b, \B); matching is leftmost-longest over
// bytes (Latin-1: a byte is a character, whatever the server's code page).
// '^' and '$' also match at line breaks within the text, and no part of a
// match crosses a line break ('.', [^x] and \s never match one).
#ifndef QZUCON_FLEET_PATTERN_H_
#define QZUCON_FLEET_PATTERN_H_

#include <cstdint>

namespace re2 {
class RE2;
}

constexpr int kPatternChars = 255;  // a pattern's source text at most
// The engine's memory budget for one pattern: its program and the cache of
// its automaton. Compiling stops at it, and a line that would need more
// runs on without the cache (slower, still linear).
constexpr int64_t kPatternMem = 4 << 20;
// The largest program a pattern may compile into. The cache above holds the
// states of a 1.5 KB line for programs up to this size; past it a hostile
// line costs milliseconds. Counted repetitions are what make programs large:
// "(\w+\s*){1,100}$" is about 1,100.
constexpr int kPatternSize = 1200;
constexpr int kPatternCaptures = 9;  // groups a match reports, \1 to \9

struct pattern {
  re2::RE2* re = nullptr;  // null: not compiled
};

// Compiles src into p. False with the reason in err (errSize bytes) when src
// is longer than kPatternChars, holds a back reference (no linear-time
// engine can match one), is no expression (the engine's reason), or
// compiles into a program of more than kPatternSize.
bool patternCompile(pattern* p, const char* src, char* err, int errSize);

// Whether text (NUL-terminated) holds a match of p. False for a pattern
// that is not compiled.
bool patternMatch(const pattern* p, const char* text);

// Where a group matched: offset into the text and length; -1 when the
// group took no part in the match.
struct patternSpan {
  int at = -1;
  int len = 0;
};

// The leftmost-longest match of p in text: spans[0] the whole match,
// spans[1..] its groups in order, as many as n - 1 and the pattern has
// (kPatternCaptures at most). Returns the spans filled (1 + groups), 0 when
// text holds no match.
int patternCaptures(const pattern* p, const char* text, patternSpan* spans, int n);

// The groups a match of p reports: those of its source, kPatternCaptures at
// most; 0 for a pattern that is not compiled.
int patternGroups(const pattern* p);

// Releases what patternCompile made; p may be compiled again.
void patternFree(pattern* p);

// Patterns matched together: one scan of the line tells which of them
// match. Built from sources that patternCompile accepted.
class patternset {
 public:
  patternset() {}
  ~patternset() { clear(); }
  patternset(const patternset&) = delete;
  patternset& operator=(const patternset&) = delete;

  // Builds the set of the n sources, in order. False when the engine will
  // not hold them all within its budget (the caller matches them one by
  // one instead).
  bool build(const char* const* src, int n);

  // The indexes of the sources that match text, ascending, into hits (room
  // for max). Returns how many, or -1 when the set cannot tell: not built,
  // or the line needed more than the budget (the caller then matches one
  // by one).
  int match(const char* text, int* hits, int max) const;

  void clear();

 private:
  struct impl;
  impl* impl_ = nullptr;
};

#endif  // QZUCON_FLEET_PATTERN_H_
