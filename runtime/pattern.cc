// Compiling and matching line patterns, and the plain run that gives each
// its quick test.
#include "runtime/pattern.h"

#include <cstdlib>
#include <cstring>

#include "runtime/text.h"

namespace {

// Characters an escape turns into plain ones; any other escape ("\1", a
// word boundary) is a construct the quick test does not follow.
bool escapable(char c) { return c != 0 && strchr(".[]()*+?{}|^$\\/", c) != nullptr; }

// Past a bracket expression that starts at p ('['): its first ']' (or one
// after '^') is a member, and classes like [:digit:] hold ']' of their own.
const char* skipBracket(const char* p) {
  p++;
  if (*p == '^') p++;
  if (*p == ']') p++;
  while (*p && *p != ']') {
    if (*p == '[' && (p[1] == ':' || p[1] == '=' || p[1] == '.')) {
      char kind = p[1];
      const char* end = p + 2;
      while (*end && !(end[0] == kind && end[1] == ']')) end++;
      p = *end ? end + 2 : end;
    } else {
      p++;
    }
  }
  return *p ? p + 1 : p;
}

// Past a group that starts at p ('('), or past one atom inside it.
const char* skipAtom(const char* p) {
  if (*p == '[') return skipBracket(p);
  if (*p == '\\') return p[1] ? p + 2 : p + 1;
  if (*p != '(') return p + 1;
  p++;
  while (*p && *p != ')') p = skipAtom(p);
  return *p ? p + 1 : p;
}

// Whether src has an alternative at its top level.
bool topAlternative(const char* src) {
  for (const char* p = src; *p; p = skipAtom(p)) {
    if (*p == '|') return true;
  }
  return false;
}

struct runs {
  char cur[kPatternLiteral + 1];
  int curLen;
  char* best;
  int bestLen;

  void add(char c) {
    if (curLen < kPatternLiteral) cur[curLen++] = c;
  }
  void end() {
    if (curLen > bestLen) {
      memcpy(best, cur, static_cast<size_t>(curLen));
      best[curLen] = 0;
      bestLen = curLen;
    }
    curLen = 0;
  }
};

}  // namespace

void patternLiteral(const char* src, char* out) {
  out[0] = 0;
  if (topAlternative(src)) return;
  runs r = {{}, 0, out, 0};
  for (const char* p = src; *p;) {
    // The atom at p: a plain character (plain true), or anything else.
    const char* next = skipAtom(p);
    bool plain = false;
    char c = *p;
    if (*p == '\\') {
      plain = escapable(p[1]);
      c = p[1];
    } else {
      plain = !strchr(".[]()*+?{}|^$", *p);
    }
    // Its quantifiers: only '+' keeps the atom in every match.
    bool optional = false, repeated = false;
    while (*next && strchr("*+?{", *next)) {
      if (*next == '+') {
        repeated = true;
      } else {
        optional = true;
      }
      if (*next == '{') {
        while (*next && *next != '}') next++;
      }
      if (*next) next++;
    }
    if (!plain || optional) {
      r.end();
    } else {
      r.add(c);
      if (repeated) r.end();  // what follows need not be next to it
    }
    p = next;
  }
  r.end();
}

namespace {

long capped(long n) { return n > kPatternCopies ? kPatternCopies + 1 : n; }

// How many times libc's compiler copies a repeated piece: "x+" is "xx*",
// "x{m,n}" n copies, "x{m,}" m + 1; "*" and "?" keep one.
long repeatFactor(const char** s) {
  if (**s == '+') return (*s)++, 2;
  if (**s == '*' || **s == '?') return (*s)++, 1;
  char* end = nullptr;
  long low = strtol(*s + 1, &end, 10);
  long high = low;
  if (*end == ',') high = end[1] == '}' ? low + 1 : strtol(end + 1, &end, 10);
  while (*end && *end != '}') end++;
  *s = *end ? end + 1 : end;
  return high > 1 ? capped(high) : 1;
}

// Atoms of the alternatives from *s up to a ')' or the end, repeats counted
// out, nested groups multiplied; *s is left on the ')' or the end.
long atomsOf(const char** s) {
  long all = 0;
  while (**s && **s != ')') {
    long one = 1;
    const char* p = *s;
    if (*p == '(') {
      *s = p + 1;
      one = atomsOf(s);
      if (**s == ')') (*s)++;
    } else {
      *s = skipAtom(p);  // a character, an escape or a bracket expression
      if (*p == '|') one = 0;
    }
    while (**s == '+' || **s == '*' || **s == '?' || **s == '{') one = capped(one * repeatFactor(s));
    all = capped(all + one);
  }
  return all;
}

}  // namespace

long patternCopies(const char* src) {
  long all = 0;
  for (const char* s = src; *s;) {
    all = capped(all + atomsOf(&s));
    if (*s == ')') s++;  // unbalanced: libc will say so
  }
  return all > 0 ? all : 1;
}

bool patternCompile(pattern* p, const char* src, char* err, int errSize) {
  patternFree(p);
  if (strlen(src) > static_cast<size_t>(kPatternChars)) {
    trf(err, errSize, "longer than %d characters", kPatternChars);
    return false;
  }
  if (patternCopies(src) > kPatternCopies) {
    trf(err, errSize, "its repetitions make more than %ld atoms", kPatternCopies);
    return false;
  }
  int rc = regcomp(&p->re, src, REG_EXTENDED | REG_NOSUB | REG_NEWLINE);
  if (rc != 0) {
    regerror(rc, &p->re, err, static_cast<size_t>(errSize));
    return false;  // a failed regcomp keeps nothing to free
  }
  p->compiled = true;
  patternLiteral(src, p->literal);
  return true;
}

bool patternMatch(const pattern* p, const char* text) {
  if (!p->compiled) return false;
  if (p->literal[0] && !strstr(text, p->literal)) return false;
  return regexec(&p->re, text, 0, nullptr, 0) == 0;
}

void patternFree(pattern* p) {
  if (p->compiled) regfree(&p->re);
  p->compiled = false;
  p->literal[0] = 0;
}
