// Server tag names and lists.
#include "fleet/tags.h"

#include <cstring>

#include "runtime/text.h"

namespace {

bool tagChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

// Whether the list holds the name of len bytes.
bool hasName(const char* list, const char* name, size_t len) {
  for (const char* p = list; *p;) {
    size_t n = strcspn(p, ",");
    if (n == len && memcmp(p, name, len) == 0) return true;
    p += n + (p[n] == ',');
  }
  return false;
}

}  // namespace

bool tagNameValid(const char* name, int len) {
  if (len < 1 || len > kTagChars) return false;
  for (int i = 0; i < len; i++) {
    if (!tagChar(name[i])) return false;
  }
  return true;
}

bool tagListAdd(char* list, const char* value, char* bad, int badSize, const char** why) {
  char out[kTagListChars + 1];
  strzcpy(out, list, kTagListChars);
  int count = out[0] ? 1 : 0;
  for (const char* p = out; *p; p++) count += *p == ',';
  for (const char* p = value;;) {
    while (*p == ' ' || *p == '\t') p++;
    int len = static_cast<int>(strcspn(p, ","));
    int word = len;
    while (word > 0 && (p[word - 1] == ' ' || p[word - 1] == '\t')) word--;
    strzcpy(bad, p, word < badSize - 1 ? word : badSize - 1);
    if (word == 0) {
      *why = "an empty tag";
      return false;
    }
    if (!tagNameValid(p, word)) {
      *why = word > kTagChars ? "a tag is at most 32 characters"
                              : "a tag is letters, digits, '-' and '_'";
      return false;
    }
    if (!hasName(out, p, static_cast<size_t>(word))) {
      if (++count > kTagsPerServer) {
        *why = "a server has at most 8 tags";
        return false;
      }
      // Fits: at most kTagsPerServer names of kTagChars and their commas.
      size_t at = strlen(out);
      if (at > 0) out[at++] = ',';
      memcpy(out + at, p, static_cast<size_t>(word));
      out[at + static_cast<size_t>(word)] = 0;
    }
    if (p[len] == 0) break;
    p += len + 1;
  }
  memcpy(list, out, sizeof out);
  return true;
}

bool tagListHas(const char* list, const char* name) { return hasName(list, name, strlen(name)); }

bool tagListsMeet(const char* list, const char* wanted) {
  for (const char* p = wanted; *p;) {
    size_t n = strcspn(p, ",");
    if (n > 0 && hasName(list, p, n)) return true;
    p += n + (p[n] == ',');
  }
  return false;
}
