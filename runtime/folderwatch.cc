// Folder watches through inotify, and the decoding of its records.
#include "runtime/folderwatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

namespace {

// Only what makes a name lead elsewhere. Writes are not watched: the
// console's own writes would each queue a record for nobody.
constexpr uint32_t kNameChanges = IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_ATTRIB;
constexpr uint32_t kFolderChanges = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

}  // namespace

int trFolderWatchOpen() { return inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

int trFolderWatchAdd(int fd, const char* dir) {
  return inotify_add_watch(fd, dir, kNameChanges | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

int trFolderWatchWrites(int fd, const char* dir) { return inotify_add_watch(fd, dir, IN_MODIFY); }

int trFolderWatchRemove(int fd, int wd) { return inotify_rm_watch(fd, wd); }

int trFolderWatchRead(int fd, char* buf, unsigned len) {
  return static_cast<int>(read(fd, buf, len));
}

namespace {

// The record at *at and its name ("" when it has none), moving *at past it.
// False at the end of the buffer or when what is left is cut short.
bool nextRecord(const char* buf, int len, int* at, inotify_event* e, const char** name) {
  constexpr int kHead = static_cast<int>(sizeof(inotify_event));
  if (*at < 0 || len - *at < kHead) return false;
  memcpy(e, buf + *at, sizeof *e);  // the buffer need not be aligned
  int next = *at + kHead + static_cast<int>(e->len);
  if (e->len > static_cast<uint32_t>(len) || next > len) return false;
  *name = e->len > 0 ? buf + *at + kHead : "";
  *at = next;
  return true;
}

}  // namespace

bool nextFolderChange(const char* buf, int len, int* at, folderChange* out) {
  inotify_event e;
  const char* name;
  while (nextRecord(buf, len, at, &e, &name)) {
    out->wd = e.wd;
    out->name = name;
    if (e.mask & IN_Q_OVERFLOW) {
      out->kind = kFolderAll;
      out->wd = -1;
      return true;
    }
    if (e.mask & kFolderChanges) {
      out->kind = kFolderGone;
      return true;
    }
    // A change with no name is the folder's own: a permission change on it
    // may close it to the log writer, so its names are suspect too.
    if ((e.mask & kNameChanges) != 0) {
      out->kind = name[0] ? kFolderName : kFolderGone;
      return true;
    }
  }
  return false;
}

bool nextFolderWrite(const char* buf, int len, int* at, const char** name) {
  inotify_event e;
  while (nextRecord(buf, len, at, &e, name)) {
    if ((e.mask & IN_MODIFY) != 0 && (*name)[0]) return true;
  }
  return false;
}
