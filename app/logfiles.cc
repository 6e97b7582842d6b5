// Log files kept open between passes, and the folder watches that close them.
#include "app/logfiles.h"

#include <cstring>

#include "runtime/files.h"
#include "runtime/folderwatch.h"
#include "runtime/text.h"

namespace {

// The length of name's folder part: up to and including its last '/'.
int prefixLen(const char* name) {
  const char* slash = strrchr(name, '/');
  return slash ? static_cast<int>(slash - name) + 1 : 0;
}

}  // namespace

int logFilesRoom(long limit) {
  if (limit <= 0) return 0;
  long room = limit / 2;
  return room > kLogFilesMax ? kLogFilesMax : static_cast<int>(room);
}

// Only the slots below fresh_ are ever read: a console that keeps few files
// touches few pages of the tables.
logfiles::logfiles() {
  memset(bucket_, 0, sizeof bucket_);
  watch_ = -1;
  fresh_ = 0;
  reset();
}

void logfiles::reset() {
  for (int s = 0; s < fresh_; s++) {
    if (files_[s].fd >= 0) trFileClose(files_[s].fd);
    files_[s].fd = -1;
  }
  for (folder& f : folders_) f.wd = -1;
  if (watch_ >= 0) trFileClose(watch_);  // ends its watches with it
  watch_ = -1;
  if (fresh_ > 0) memset(bucket_, 0, sizeof bucket_);
  free_ = -1;
  fresh_ = count_ = 0;
  room_ = kLogFilesRoom;
  noWatch_ = false;
  swept_ = 0;
}

void logfiles::setRoom(int room) {
  room_ = room < 0 ? 0 : room > kLogFilesMax ? kLogFilesMax : room;
}

int logfiles::find(const char* name, uint32_t h) const {
  for (int s = bucket_[h % kBuckets] - 1; s >= 0; s = files_[s].next) {
    if (files_[s].hash == h && strcmp(names_[s], name) == 0) return s;
  }
  return -1;
}

int logfiles::folderOf(const char* name) {
  int len = prefixLen(name);
  int freeEntry = -1;
  for (int f = 0; f < kLogFolders; f++) {
    if (folders_[f].wd < 0) {
      if (freeEntry < 0) freeEntry = f;
    } else if (strncmp(folders_[f].prefix, name, len) == 0 && folders_[f].prefix[len] == 0) {
      return f;
    }
  }
  if (freeEntry < 0) return -1;
  if (watch_ < 0 && !noWatch_) {
    watch_ = trFolderWatchOpen();
    noWatch_ = watch_ < 0;
  }
  if (watch_ < 0) return -1;
  folder& f = folders_[freeEntry];
  memcpy(f.prefix, name, static_cast<size_t>(len));
  f.prefix[len] = 0;
  // Watched before its first file is opened, so no change after that open
  // goes unseen.
  f.wd = trFolderWatchAdd(watch_, len > 0 ? f.prefix : ".");
  return f.wd < 0 ? -1 : freeEntry;
}

int logfiles::open(const char* name, uint32_t h, int64_t now, bool* kept) {
  *kept = false;
  int s = find(name, h);
  if (s >= 0) {
    files_[s].used = now;
    *kept = true;
    return files_[s].fd;
  }
  int folderIndex = count_ < room_ && strlen(name) <= kFileNameChars ? folderOf(name) : -1;
  int fd = trOpenAppend(name);
  if (fd < 0 || folderIndex < 0) return fd;
  s = free_ >= 0 ? free_ : fresh_++;
  if (s == free_) free_ = files_[s].next;
  file& f = files_[s];
  strzcpy(names_[s], name, kFileNameChars);
  f.hash = h;
  f.fd = fd;
  f.folder = folderIndex;
  f.used = now;
  f.next = bucket_[h % kBuckets] - 1;
  bucket_[h % kBuckets] = s + 1;
  count_++;
  *kept = true;
  return fd;
}

void logfiles::close(int s) {
  file& f = files_[s];
  int* head = &bucket_[f.hash % kBuckets];
  if (*head == s + 1) {
    *head = f.next + 1;
  } else {
    int p = *head - 1;
    while (files_[p].next != s) p = files_[p].next;
    files_[p].next = f.next;
  }
  // An error a file system reports only at close has no write left to
  // report it against: the writes before it were reported as they went.
  trFileClose(f.fd);
  f.fd = -1;
  f.next = free_;
  free_ = s;
  count_--;
}

void logfiles::drop(const char* name) {
  int s = find(name, textHash(name));
  if (s >= 0) close(s);
}

void logfiles::closeFolder(int f) {
  for (int s = 0; s < fresh_; s++) {
    if (files_[s].fd >= 0 && files_[s].folder == f) close(s);
  }
  if (folders_[f].wd >= 0 && watch_ >= 0) trFolderWatchRemove(watch_, folders_[f].wd);
  folders_[f].wd = -1;
}

// One change of a watch: every folder entry on that watch is affected (two
// texts can name one folder).
void logfiles::changed(int wd, const char* name) {
  for (int f = 0; f < kLogFolders; f++) {
    if (folders_[f].wd < 0 || folders_[f].wd != wd) continue;
    if (name == nullptr) {
      closeFolder(f);
      continue;
    }
    char full[kFileNameChars + 1];
    strzcpy(full, folders_[f].prefix, kFileNameChars);
    int len = static_cast<int>(strlen(full));
    strzcpy(full + len, name, kFileNameChars - len);
    drop(full);
  }
}

void logfiles::readChanges() {
  alignas(8) char buf[16384];
  static_assert(sizeof buf >= kFolderReadMin, "room for one change");
  // Bounded: a folder shared with a busy program must not hold up a pass.
  // What is left waits for the next pass, and a queue that overflows closes
  // every file.
  for (int reads = 0; reads < 8; reads++) {
    int n = trFolderWatchRead(watch_, buf, sizeof buf);
    if (n <= 0) return;
    folderChange c;
    for (int at = 0; nextFolderChange(buf, n, &at, &c);) {
      if (c.kind == kFolderAll) {
        for (int s = 0; s < fresh_; s++) {
          if (files_[s].fd >= 0) close(s);
        }
      } else {
        changed(c.wd, c.kind == kFolderName ? c.name : nullptr);
      }
    }
    if (n < static_cast<int>(sizeof buf) - static_cast<int>(kFolderReadMin)) return;
  }
}

void logfiles::sweep(int64_t now) {
  if (now >= swept_ && now - swept_ < 1) return;  // once a second is enough
  swept_ = now;
  for (int s = 0; s < fresh_; s++) {
    if (files_[s].fd >= 0 && now - files_[s].used >= kLogIdleSecs) close(s);
  }
}

void logfiles::refresh(int64_t now) {
  if (watch_ < 0) return;
  readChanges();
  if (count_ > 0) sweep(now);
}
