// The log files kept open between passes. Opening, writing and closing a
// file among a thousand costs the kernel more than the line's write itself,
// so each file stays open once written, and a watch on its folder closes it
// the moment its name no longer leads to it: renamed away, removed, replaced,
// its permissions changed, or its folder moved. The next pass then opens
// whatever is at the name, so a log renamed by a rotation is followed by a
// new file at once, as if every pass opened its files. A file not written for
// kLogIdleSecs is closed. Beyond the room for open files, or where a folder
// cannot be watched, a file is opened for its pass's write and closed again.
// The system calls are the runtime's (runtime/folderwatch.h, files.h); this
// class logs nothing.
#ifndef QZUCON_APP_LOGFILES_H_
#define QZUCON_APP_LOGFILES_H_

#include <cstdint>

#include "runtime/bfc.h"

constexpr int kLogFilesMax = 8192;   // files kept open at most
constexpr int kLogFilesRoom = 256;   // room until setRoom: well inside the usual 1024 descriptors
constexpr int kLogFolders = 8;       // folders watched at most
constexpr int kLogIdleSecs = 60;     // a file not written for this long is closed

// The room for open log files with a limit of `limit` descriptors: half of
// them, within kLogFilesMax; the rest stays for sockets and clients. Pure.
int logFilesRoom(long limit);

class logfiles {
 public:
  logfiles();
  // Closes every file kept and ends the watches; the room goes back to
  // kLogFilesRoom.
  void reset();
  // Files kept open at most from now on (0 keeps none); files beyond it stay
  // open until they are closed for another reason.
  void setRoom(int room);

  // Before a pass's files are written: closes each file whose name changed
  // since the last look, and the files idle for kLogIdleSecs at now (seconds).
  void refresh(int64_t now);
  // A descriptor open for appending to name (whose textHash is hash), or -1
  // with the system's error kept (trLastError). *kept tells whether it stays
  // open here; when not, the caller closes it after its write.
  int open(const char* name, uint32_t hash, int64_t now, bool* kept);
  // Closes and forgets the file kept for name, after a write to it failed:
  // the next write opens whatever is at the name then.
  void drop(const char* name);

  int kept() const { return count_; }  // files open here now

 private:
  // What a lookup touches, apart from the names: a thousand files' worth
  // stays in the cache.
  struct file {
    uint32_t hash;  // of the name
    int fd;         // -1 when the slot is free
    int folder;     // index into folders_
    int next;       // the next file of its bucket, or of the free list; -1 after the last
    int64_t used;
  };
  struct folder {
    char prefix[kFileNameChars + 1];  // the names' text to the last '/', "" for "."
    int wd;                           // -1 when the entry is free
  };
  static constexpr int kBuckets = 2 * kLogFilesMax;

  int find(const char* name, uint32_t h) const;
  int folderOf(const char* name);  // its index, watched now if new; -1 when it cannot be
  void close(int slot);
  void closeFolder(int f);  // its files, and the folder forgotten
  void changed(int wd, const char* name);
  void readChanges();
  void sweep(int64_t now);

  file files_[kLogFilesMax];
  char names_[kLogFilesMax][kFileNameChars + 1];
  int bucket_[kBuckets];  // the first file of each bucket plus one; 0 when empty
  folder folders_[kLogFolders];
  int free_;       // head of the free slots, or -1 when none was ever freed
  int fresh_;      // slots below this were used once
  int count_;
  int room_;
  int watch_;      // the watch set, -1 until a file is kept
  bool noWatch_;   // the set cannot be made: nothing is kept
  int64_t swept_;  // when idle files were last looked for
};

extern logfiles g_logFiles;  // log files kept open between passes (app/log.cc)

#endif  // QZUCON_APP_LOGFILES_H_
