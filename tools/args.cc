// Command-line reading shared by the tools.
#include "tools/args.h"

#include <cstdlib>
#include <cstring>

#include "runtime/text.h"

namespace {

// Reads the option at argv[*i]: "--name=value", or "--name" with the value in
// the next argument (then *i moves past it). 1 with name and value set, 0 for
// an argument not starting with "--", -1 when the value is missing.
int splitOption(int argc, const char* const* argv, int* i, char* name, const char** value) {
  const char* a = argv[*i];
  if (strncmp(a, "--", 2) != 0) return 0;
  const char* eq = strchr(a, '=');
  *value = nullptr;
  if (eq) {
    int len = static_cast<int>(eq - a - 2);
    strzcpy(name, a + 2, len < kOptionNameChars ? len : kOptionNameChars);
    *value = eq + 1;
  } else {
    strzcpy(name, a + 2, kOptionNameChars);
    if (*i + 1 < argc) *value = argv[++*i];
  }
  return *value ? 1 : -1;
}

}  // namespace

int parseOptions(int argc, const char* const* argv, optionSink* sink, char* err, int errSize) {
  err[0] = 0;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) return 1;
    if (sink->flag(a)) continue;
    char name[kOptionNameChars + 1];
    const char* value = nullptr;
    int kind = splitOption(argc, argv, &i, name, &value);
    if (kind == 0) {
      trf(err, errSize, "unexpected argument: %s", a);
      return -1;
    }
    if (kind < 0 || !sink->value(name, value)) {
      trf(err, errSize, "bad option or value: %s", a);
      return -1;
    }
  }
  return 0;
}

bool readLong(const char* s, long lo, long hi, long* out) {
  char* end = nullptr;
  long v = strtol(s, &end, 10);
  if (end == s || *end != 0 || v < lo || v > hi) return false;
  *out = v;
  return true;
}
