// Plain files by descriptor, for writers that open a file, write to it once
// and close it again, and the system's text for a failure. Each function is
// one system call and returns its raw result.
#ifndef QZUCON_RUNTIME_FILE_H_
#define QZUCON_RUNTIME_FILE_H_

// Opens name for writing at its end, creating it (mode 0666 less the umask)
// when it does not exist. The descriptor, or -1.
int trOpenAppend(const char* name);
// One write: bytes written (possibly fewer than len), or -1.
int trFdWrite(int fd, const void* data, unsigned len);
// 0, or -1 when close reported an error (the descriptor is gone either way).
int trFdClose(int fd);

// The error code of the last failed call in this thread.
int trLastError();
// The system's text for an error code; never null.
const char* trErrorText(int err);

#endif  // QZUCON_RUNTIME_FILE_H_
