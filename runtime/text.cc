// Bounded text helpers: formatting, appending, copying, trimming and the
// lenient decimal scan used for ports. Every write stays inside the caller's
// buffer; the guards for null or impossible sizes keep a bad caller from
// turning a cut text into a memory fault.
#include "runtime/text.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

int vtrf(char* buf, int size, const char* fmt, va_list ap) {
  if (buf == nullptr || size < 1) return vsnprintf(nullptr, 0, fmt, ap);
  int n = vsnprintf(buf, static_cast<size_t>(size), fmt, ap);
  buf[size - 1] = '\0';
  if (n < 0) buf[0] = '\0';  // the contents are unspecified after an error
  return n;
}

int trf(char* buf, int size, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vtrf(buf, size, fmt, ap);
  va_end(ap);
  return n;
}

int traf(char* str, int size, const char* fmt, ...) {
  if (str == nullptr || size < 1) return 0;
  int len = static_cast<int>(strnlen(str, static_cast<size_t>(size)));
  if (len >= size - 1) return len;
  va_list ap;
  va_start(ap, fmt);
  // A bound of size-1-len lets in at most size-2-len characters: the whole
  // string stays one shorter than trf allows, which callers rely on.
  int n = vsnprintf(str + len, static_cast<size_t>(size - 1 - len), fmt, ap);
  va_end(ap);
  str[size - 1] = '\0';
  if (n < 0) str[len] = '\0';
  return n;
}

char* strzcpy(char* dst, const char* src, int n) {
  if (dst == nullptr || n < 0) return dst;
  int i = 0;
  if (src != nullptr) {
    for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
  }
  dst[i] = '\0';
  return dst;
}

char* strim(char* s, const char* set) {
  if (s == nullptr) {
    // Writable so that a careless caller storing a NUL does not fault; it is
    // reset on every use.
    static char empty[1];
    empty[0] = '\0';
    return empty;
  }
  if (set == nullptr || set[0] == '\0') return s;
  size_t lead = strspn(s, set);
  size_t len = strlen(s + lead);
  if (lead > 0) memmove(s, s + lead, len + 1);
  while (len > 0 && strchr(set, s[len - 1]) != nullptr) s[--len] = '\0';
  return s;
}

uint32_t atoul(const char* text) {
  uint32_t value = 0;
  if (text == nullptr) return 0;
  for (const char* p = text; (*p >= '0' && *p <= '9') || *p == '-'; ++p) {
    if (*p != '-') value = value * 10u + static_cast<uint32_t>(*p - '0');
  }
  return value;
}

char* putDecimal(char* out, uint64_t v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

bool startsWithNoCase(const char* text, const char* word) {
  return strncasecmp(text, word, strlen(word)) == 0;
}

const char* skipWordNoCase(const char* text, const char* word) {
  return startsWithNoCase(text, word) ? text + strlen(word) : nullptr;
}

uint32_t textHash(const char* text) {
  uint32_t h = 2166136261u;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
    h = (h ^ *p) * 16777619u;
  }
  return h;
}

int utf8Sequence(const unsigned char* p, int left) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  // The lead byte gives the length and the range of the second byte, which
  // shuts out overlong forms, surrogates and code points past U+10FFFF.
  int n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (left < n || p[1] < lo || p[1] > hi) return 0;
  for (int i = 2; i < n; i++) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return n;
}

namespace {

// Whether the well-formed sequence of n bytes at p is a character readers
// take as text (utf8Clean).
bool utf8IsText(const unsigned char* p, int n) {
  if (n == 1) return (*p >= 0x20 && *p != 0x7F) || *p == '\t' || *p == '\n';
  uint32_t c = *p & (0x7F >> n);
  for (int i = 1; i < n; i++) c = (c << 6) | (p[i] & 0x3F);
  return c > 0x9F && !(c >= 0xFDD0 && c <= 0xFDEF) && (c & 0xFFFE) != 0xFFFE;
}

}  // namespace

int utf8Clean(const char* in, int len, char* out, int room) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
  int at = 0;
  for (int i = 0; i < len;) {
    int n = utf8Sequence(p + i, len - i);
    bool text = n > 0 && utf8IsText(p + i, n);
    const char* from = text ? in + i : kReplacementChar;
    int size = text ? n : 3;
    if (out) {
      if (at + size > room) return -1;
      memcpy(out + at, from, static_cast<size_t>(size));
    }
    at += size;
    i += n > 0 ? n : 1;
  }
  return at;
}
