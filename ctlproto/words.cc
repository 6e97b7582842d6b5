// The one reader of the control protocol's WORD REST lines and of its
// tag targets.
#include "ctlproto/words.h"

#include <cstring>

const char* afterWord(const char* line, const char* word) {
  size_t n = strlen(word);
  return strncmp(line, word, n) == 0 && line[n] == ' ' ? line + n + 1 : nullptr;
}

const char* targetTags(const char* target) {
  return target[0] == kTargetTags ? target + 1 : nullptr;
}
