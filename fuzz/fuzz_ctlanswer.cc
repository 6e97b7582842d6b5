// qzuconctl's reader of answer lines: any bytes whoever answers on a socket
// may send, arriving in pieces of any size. Every line taken must be
// bounded, end-free and hold nothing a terminal would obey; the kinds and
// state words are read as qzuconctl reads them.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ctl/answer.h"
#include "ctl/ctlconn.h"

namespace {

void check(const char* line) {
  size_t n = strlen(line);
  if (n >= 512) abort();
  for (size_t i = 0; i < n; i++) {
    unsigned char b = static_cast<unsigned char>(line[i]);
    if ((b < 32 && b != '\t') || b == 127) abort();
  }
  if (answerKindOf(line) == kAnswerSent) {
    const char* state = strrchr(line, ' ');
    if (state) stateStatus(state + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char buf[kCtlReplyChars];
  int len = 0;
  char line[512];
  // The first byte sets the size of the pieces, as reads of a socket vary.
  size_t piece = size > 0 ? 1 + data[0] % 97 : 1;
  for (size_t at = size > 0 ? 1 : 0; at < size;) {
    size_t room = sizeof buf - static_cast<size_t>(len);
    size_t n = size - at < piece ? size - at : piece;
    if (n > room) n = room;
    memcpy(buf + len, data + at, n);
    len += static_cast<int>(n);
    at += n;
    while (takeLine(buf, &len, sizeof buf, line, sizeof line)) check(line);
  }
  return 0;
}
