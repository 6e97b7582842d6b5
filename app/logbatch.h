// The messages of one pass, held until the pass writes them: the screen text
// in order of arrival, and each file's stamped entries in order of arrival,
// kept per file so that a file costs one writev per pass however many lines
// it got. Pure bookkeeping with fixed buffers: no
// system call, no log; app/log.cc fills it and writes it out.
#ifndef QZUCON_APP_LOGBATCH_H_
#define QZUCON_APP_LOGBATCH_H_

#include <sys/uio.h>

#include <cstdint>
#include <ctime>

#include "runtime/bfc.h"

// A batch holds at most this many file entries: a pass takes 256 server lines
// at most, and one writev takes up to 1024 pieces, so one call per file.
constexpr int kBatchEntries = 1024;
constexpr int kBatchFiles = 256;         // distinct files in one batch
constexpr int kBatchText = 256 << 10;    // bytes of file entries
constexpr int kBatchScreen = 256 << 10;  // bytes of screen text
constexpr int kStampChars = 22;          // "[MM.DD.YYYY hh:mm:ss] "

class logbatch {
 public:
  logbatch() { reset(); }
  // Empty and not in a pass; the stamp forgotten.
  void reset();
  // Drops the messages taken, after they were written; the rest stays.
  void clear();

  // Inside a pass messages are held for the pass to write; outside one each
  // is written at once.
  void setHeld(bool held) { held_ = held; }
  bool held() const { return held_; }

  // Takes one message: screen text of screenLen bytes (none when null) and a
  // file entry, text of entryLen bytes, for file name (none when name is ""). False,
  // taking nothing, when it does not fit: the caller writes the batch out
  // and adds again. An empty batch takes any message of the log's sizes.
  bool add(const char* name, const char* text, int entryLen, const char* screen, int screenLen);
  bool empty() const { return entries_ == 0 && screenLen_ == 0; }

  int files() const { return files_; }
  const char* fileName(int f) const { return file_[f].name; }
  uint32_t fileHash(int f) const { return file_[f].hash; }  // textHash of its name
  // The entries of file f in the order taken, as writev pieces into out
  // (room for kBatchEntries). Returns their number.
  int pieces(int f, iovec* out) const;
  const char* screen() const { return screen_; }
  int screenLen() const { return screenLen_; }

  // The formatted stamp of the second secs when it is the one kept, else
  // null; keepStamp keeps one (kStampChars characters).
  const char* stampOf(time_t secs) const {
    return stampKept_ && secs == stampSecs_ ? stamp_ : nullptr;
  }
  void keepStamp(time_t secs, const char* stamp);

 private:
  struct file {
    char name[kFileNameChars + 1];
    uint32_t hash;    // of name: most lookups end without a string compare
    int first, last;  // its first and last entry; entries chain by next
  };
  struct entry {
    int off, len, next;
  };
  int fileOf(const char* name);  // its index, a new one, or -1 when full

  file file_[kBatchFiles];
  entry entry_[kBatchEntries];
  char text_[kBatchText];
  char screen_[kBatchScreen];
  int files_, entries_, textLen_, screenLen_;
  bool held_;
  bool stampKept_;
  time_t stampSecs_;
  char stamp_[kStampChars + 1];
};

// After a write took done bytes of the n pieces: the number of pieces written
// whole, the piece after them cut to what is left of it (when there is one).
int skipWritten(iovec* iov, int n, size_t done);

#endif  // QZUCON_APP_LOGBATCH_H_
