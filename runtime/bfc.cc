// bfc: a stdio file that opens lazily and retries after a failed open, so a
// missing file reads like an empty one and nobody has to check an open call.
#include "runtime/bfc.h"

#include <cstdarg>
#include <cstring>

#include "runtime/text.h"

namespace {
constexpr int kModeChars = 31;
}  // namespace

void fixFileName(char* name) {
  for (char* p = name; *p != '\0'; ++p) {
    if (*p == '\\') *p = '/';
  }
}

bfc::bfc(const char* mode, const char* fmt, ...) : stream_(nullptr) {
  name_[0] = '\0';
  strzcpy(mode_, mode != nullptr ? mode : "", kModeChars);
  if (fmt != nullptr) {
    va_list ap;
    va_start(ap, fmt);
    vtrf(name_, sizeof(name_), fmt, ap);
    va_end(ap);
  }
  fixFileName(name_);
}

bfc::~bfc() { close(); }

int bfc::open() {
  if (stream_ != nullptr) return 1;
  stream_ = fopen(name_, mode_);
  return stream_ != nullptr ? 1 : 0;
}

int bfc::close() {
  if (stream_ == nullptr) return 1;
  int r = fclose(stream_);
  stream_ = nullptr;
  return r == 0 ? 1 : 0;
}

int bfc::rdln(char* buffer, int max, int strip) {
  if (buffer == nullptr || max < 1) return 0;
  buffer[0] = '\0';
  // With room for the terminator only, no character can ever be read; saying
  // so keeps a reading loop from spinning forever.
  if (max < 2 || !open()) return 0;
  if (fgets(buffer, max, stream_) == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  if (strip) {
    size_t len = strlen(buffer);
    while (len > 0 && (buffer[len - 1] == '\r' || buffer[len - 1] == '\n')) buffer[--len] = '\0';
  }
  return 1;
}

int bfc::wrtf(const char* fmt, ...) {
  if (!open()) return 0;
  va_list ap;
  va_start(ap, fmt);
  int n = vfprintf(stream_, fmt, ap);
  va_end(ap);
  return n;
}

int bfc::setpos(long offset, int whence) {
  if (!open()) return -1;
  return fseek(stream_, offset, whence) == 0 ? 1 : 0;
}
