// The per-server log file name rule.
#include "protocol/peer.h"

#include <cstring>

#include "runtime/text.h"

namespace {

constexpr char kLogSuffix[] = ".log";

}  // namespace

void serverLogName(const char* ipPort, char* out, int size) {
  // Leaves room for the suffix and the terminator.
  strzcpy(out, ipPort, size - static_cast<int>(sizeof kLogSuffix));
  for (char* p = out; *p; p++) {
    if (*p == '.') *p = '_';
  }
  char* colon = strchr(out, ':');
  if (colon) *colon = '_';
  memcpy(out + strlen(out), kLogSuffix, sizeof kLogSuffix);
}
