// Watches on folders for names that change under an open file: renamed away,
// removed, replaced or changed in their permissions, and the folder itself
// renamed, removed or gone. The log writer keeps its files open between
// passes and closes one the moment its name stops leading to it, so that a
// renamed log is followed by a new file as when every write opened the file.
// A tool that follows files as they grow (qzload) watches a folder for
// writes instead.
// The system calls return their raw results and never log; decoding what a
// read returned is pure.
#ifndef QZUCON_RUNTIME_FOLDERWATCH_H_
#define QZUCON_RUNTIME_FOLDERWATCH_H_

// A watch set (inotify, not blocking, closed on exec): descriptor or -1.
int trFolderWatchOpen();
// Watches folder dir in set fd for the changes above. The watch's number, the
// same for two names of one folder, or -1 (no such folder, no room for more
// watches).
int trFolderWatchAdd(int fd, const char* dir);
// Watches folder dir in set fd for writes to the files in it, and nothing
// else: the watch's number or -1. The console never asks for this, since its
// own writes would each queue a change for nobody.
int trFolderWatchWrites(int fd, const char* dir);
// Ends watch wd: 0 or -1. Its end still comes as a kFolderGone change.
int trFolderWatchRemove(int fd, int wd);
// Reads what changed into buf: bytes, or -1 (errno kept; EAGAIN when nothing
// changed since the last read). len must hold at least one change of the
// longest name (kFolderReadMin).
int trFolderWatchRead(int fd, char* buf, unsigned len);
constexpr unsigned kFolderReadMin = 16 + 256;

enum folderChangeKind {
  kFolderName,  // the name in the folder now leads elsewhere, or nowhere
  kFolderGone,  // the folder itself moved or ended: every name in it is suspect
  kFolderAll,   // changes were lost (the queue overflowed): every name is suspect
};

struct folderChange {
  int wd;            // the watch it came from (-1 with kFolderAll)
  folderChangeKind kind;
  const char* name;  // for kFolderName: the name, inside the buffer read
};

// Decodes the next change of the len bytes in buf from *at on, and moves *at
// past it. Changes that matter to nobody (a folder's own times) are skipped.
// False at the end of the buffer, or when what is left is cut short.
bool nextFolderChange(const char* buf, int len, int* at, folderChange* out);

// For a write watch: the name of the next file written in the len bytes in
// buf from *at on into *name (inside the buffer), moving *at past it. Every
// other change is skipped. False at the end, or when what is left is cut short.
bool nextFolderWrite(const char* buf, int len, int* at, const char** name);

#endif  // QZUCON_RUNTIME_FOLDERWATCH_H_
