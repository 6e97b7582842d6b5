// Files by descriptor, for what stdio cannot do safely or cheaply: appending
// a pass's entries to a log file opened for them, creating a private temporary file,
// flushing it to disk and renaming it over another, and reading kernel
// tables; and the system's text for a failure. Each function is one system call (or
// two, where said) with its raw result; none of them logs or retries.
#ifndef QZUCON_RUNTIME_FILES_H_
#define QZUCON_RUNTIME_FILES_H_

#include <sys/uio.h>

// Replaces the trailing "XXXXXX" of templ with a unique suffix and creates
// that file, new, mode 0600, open for writing. Descriptor or -1 (errno kept).
int trMakeTemp(char* templ);
// Permission bits (07777) of the regular file at name, not following a
// symbolic link, and its owner's uid in *owner; -1 when there is none or it is
// no regular file.
int trFileMode(const char* name, unsigned* owner);
int trFileChmod(int fd, unsigned mode);  // fchmod: 0 or -1
int trFileWrite(int fd, const char* data, unsigned len);  // write: bytes or -1
// writev: the n pieces in order with one call; bytes written or -1.
int trFileWritev(int fd, const iovec* iov, int n);
int trFileSync(int fd);                  // fsync: 0 or -1
int trFileClose(int fd);                 // close: 0 or -1
// rename: replaces whatever is at to (a symbolic link itself, never its
// target). 0 or -1.
int trRename(const char* from, const char* to);
int trUnlink(const char* name);          // 0 or -1
int trOpenRead(const char* name);        // descriptor or -1
// Opens path for reading without updating its access time when this process
// may (it owns the file): a follower reading a file after every write would
// otherwise make the file system journal each read. Descriptor or -1.
int trOpenFollow(const char* path);
int trFileRead(int fd, char* buf, unsigned len);  // read: bytes, 0 at end, -1
// The effective user id of this process: the owner of what it creates.
unsigned trUid();

// 1 when fd is an open descriptor, else 0.
int trFdOpen(int fd);
// Opens /dev/null for reading and writing as descriptor fd: open, and dup2
// when open chose another number. fd, or -1.
int trOpenNullAt(int fd);

// Opens name for writing at its end, creating it (mode 0666 less the umask)
// when it does not exist. The descriptor, or -1.
int trOpenAppend(const char* name);
// Raises this process's soft limit on open descriptors to its hard limit
// (getrlimit and setrlimit): a console of a thousand servers keeps as many
// log files open. The soft limit in effect afterwards, -1 when unknown.
long trRaiseFileLimit();
// The error code of the last failed call in this thread.
int trLastError();
// Whether the last call failed only because a signal cut it short (EINTR).
bool trInterrupted();
// The system's text for an error code; never null.
const char* trErrorText(int err);
// True when err says that a name leads to no file at all (as opposed to a
// file that exists but cannot be opened). Pure.
bool trNoSuchFile(int err);

#endif  // QZUCON_RUNTIME_FILES_H_
