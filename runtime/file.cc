// Descriptor-level file writes and error texts.
#include "runtime/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int trOpenAppend(const char* name) {
  return open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

int trFdWrite(int fd, const void* data, unsigned len) {
  return static_cast<int>(write(fd, data, len));
}

int trFdClose(int fd) { return close(fd); }

int trLastError() { return errno; }

const char* trErrorText(int err) { return strerror(err); }
