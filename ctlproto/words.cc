// The one reader of the control protocol's WORD REST lines and of its
// tag targets.
#include "ctlproto/words.h"

#include <cstring>

const char* afterWord(const char* line, const char* word) {
  size_t n = strlen(word);
  return strncmp(line, word, n) == 0 && line[n] == ' ' ? line + n + 1 : nullptr;
}

int topSortOf(const char* word) {
  for (int i = 0; i < kTopSortCount; i++) {
    if (strcmp(word, kTopSorts[i]) == 0) return i;
  }
  return -1;
}

namespace {
// Up and waiting are both a session whose challenge is on its way: the view
// says so in one phrase. A state word added to the protocol gets its row here.
const stateText kStateTexts[] = {
    {kStateMismatch, "password mismatch", 0}, {kStateNoAnswer, "no answer", 1},
    {kStateUnreachable, "unreachable", 2},    {kStateWaiting, "challenge sent", 3},
    {kStateUp, "challenge sent", 4},
    {kStateConfirmed, "confirmed", 5},
};
}  // namespace

const stateText& stateTextOf(const char* word) {
  for (const stateText& s : kStateTexts) {
    if (strcmp(word, s.word) == 0) return s;
  }
  static stateText unknown;
  unknown = {word, word, 6};
  return unknown;
}

const char* targetTags(const char* target) {
  return target[0] == kTargetTags ? target + 1 : nullptr;
}
