// The one reader of the control protocol's WORD REST lines.
#include "ctlproto/words.h"

#include <cstring>

const char* afterWord(const char* line, const char* word) {
  size_t n = strlen(word);
  return strncmp(line, word, n) == 0 && line[n] == ' ' ? line + n + 1 : nullptr;
}
