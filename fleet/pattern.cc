// Compiling and matching line patterns with RE2, one at a time and as a set.
#include "fleet/pattern.h"

#include <re2/re2.h>
#include <re2/set.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "runtime/text.h"

namespace {

// A set holds up to 256 patterns of up to kPatternSize each; its budget
// keeps the cache of its automaton from growing past this whatever the
// lines.
constexpr int64_t kPatternSetMem = 32 << 20;

re2::RE2::Options patternOptions(int64_t mem) {
  re2::RE2::Options o;
  o.set_posix_syntax(true);
  o.set_longest_match(true);
  o.set_perl_classes(true);
  o.set_word_boundary(true);
  o.set_one_line(false);  // '^' and '$' at line breaks too
  o.set_never_nl(true);   // no match crosses a line break
  o.set_encoding(re2::RE2::Options::EncodingLatin1);
  o.set_log_errors(false);  // the caller names a bad pattern, once
  o.set_max_mem(mem);
  return o;
}

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

// The first back reference ("\1" to "\9") outside brackets, or null.
const char* backReference(const char* src) {
  for (const char* p = src; *p;) {
    if (*p == '[') {
      p = skipBracket(p);
    } else if (*p == '\\') {
      if (p[1] >= '1' && p[1] <= '9') return p;
      p += p[1] ? 2 : 1;
    } else {
      p++;
    }
  }
  return nullptr;
}

int textLen(const char* text) { return static_cast<int>(strlen(text)); }

bool nonAscii(const char* s) {
  for (; *s; s++) {
    if (static_cast<unsigned char>(*s) >= 0x80) return true;
  }
  return false;
}

// src as the engine takes it: the word starts and ends of the C library's
// syntax ("\<", "\>"), which the engine would read as plain '<' and '>',
// become word boundaries, what they are next to a word.
std::string engineSource(const char* src) {
  std::string out;
  for (const char* p = src; *p;) {
    const char* from = p;
    if (*p == '[') {
      p = skipBracket(p);
    } else if (*p == '\\' && (p[1] == '<' || p[1] == '>')) {
      out += "\\b";
      p += 2;
      continue;
    } else {
      p += *p == '\\' && p[1] ? 2 : 1;
    }
    out.append(from, static_cast<size_t>(p - from));
  }
  return out;
}

}  // namespace

bool patternCompile(pattern* p, const char* src, char* err, int errSize) {
  patternFree(p);
  if (strlen(src) > static_cast<size_t>(kPatternChars)) {
    trf(err, errSize, "longer than %d characters", kPatternChars);
    return false;
  }
  if (const char* ref = backReference(src)) {
    trf(err, errSize, "back reference \\%c: cannot be matched in linear time", ref[1]);
    return false;
  }
  // The engine, byte by byte, loses alternatives that begin alike with a
  // byte past ASCII ("caf\xc3\xa9|caf\xc3\xa8" never matches): such a rule
  // is refused rather than left to miss every line.
  if (strchr(src, '|') && nonAscii(src)) {
    trf(err, errSize, "a character past ASCII in a rule with alternatives ('|') is not supported");
    return false;
  }
  re2::RE2* re = new (std::nothrow) re2::RE2(engineSource(src), patternOptions(kPatternMem));
  if (re == nullptr) {
    trf(err, errSize, "out of memory");
    return false;
  }
  if (!re->ok()) {
    trf(err, errSize, "%s", re->error().c_str());
    delete re;
    return false;
  }
  if (re->ProgramSize() > kPatternSize) {
    trf(err, errSize, "too costly to match: a program of %d steps, at most %d", re->ProgramSize(),
        kPatternSize);
    delete re;
    return false;
  }
  p->re = re;
  return true;
}

bool patternMatch(const pattern* p, const char* text) {
  return p->re != nullptr && re2::RE2::PartialMatch(text, *p->re);
}

int patternGroups(const pattern* p) {
  return p->re == nullptr ? 0 : std::min(p->re->NumberOfCapturingGroups(), kPatternCaptures);
}

int patternCaptures(const pattern* p, const char* text, patternSpan* spans, int n) {
  if (p->re == nullptr || n < 1) return 0;
  int groups = patternGroups(p);
  if (groups > n - 1) groups = n - 1;
  re2::StringPiece found[kPatternCaptures + 1];
  re2::StringPiece all(text, static_cast<size_t>(textLen(text)));
  if (!p->re->Match(all, 0, all.size(), re2::RE2::UNANCHORED, found, groups + 1)) return 0;
  for (int i = 0; i <= groups; i++) {
    spans[i] = patternSpan();
    if (found[i].data() == nullptr) continue;
    spans[i].at = static_cast<int>(found[i].data() - text);
    spans[i].len = static_cast<int>(found[i].size());
  }
  return groups + 1;
}

void patternFree(pattern* p) {
  delete p->re;
  p->re = nullptr;
}

struct patternset::impl {
  re2::RE2::Set set{patternOptions(kPatternSetMem), re2::RE2::UNANCHORED};
  mutable std::vector<int> found;  // reused: no allocation per line
};

bool patternset::build(const char* const* src, int n) {
  clear();
  impl* s = new (std::nothrow) impl;
  if (s == nullptr) return false;
  for (int i = 0; i < n; i++) {
    if (s->set.Add(engineSource(src[i]), nullptr) != i) {
      delete s;
      return false;
    }
  }
  if (!s->set.Compile()) {
    delete s;
    return false;
  }
  s->found.reserve(static_cast<size_t>(n));
  impl_ = s;
  return true;
}

int patternset::match(const char* text, int* hits, int max) const {
  if (impl_ == nullptr) return -1;
  re2::RE2::Set::ErrorInfo info;
  if (!impl_->set.Match(text, &impl_->found, &info)) {
    return info.kind == re2::RE2::Set::kNoError ? 0 : -1;
  }
  std::sort(impl_->found.begin(), impl_->found.end());
  int n = 0;
  for (int i : impl_->found) {
    if (n < max) hits[n++] = i;
  }
  return n;
}

void patternset::clear() {
  delete impl_;
  impl_ = nullptr;
}
