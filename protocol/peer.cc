// The per-server log file name rule.
#include "protocol/peer.h"

#include <cstring>

#include "runtime/text.h"

void serverLogName(const char* ipPort, char* out, int size) {
  strzcpy(out, ipPort, size - 5);  // leaves room for ".log" and the terminator
  for (char* p = out; *p; p++) {
    if (*p == '.') *p = '_';
  }
  char* colon = strchr(out, ':');
  if (colon) *colon = '_';
  memcpy(out + strlen(out), ".log", 5);
}
