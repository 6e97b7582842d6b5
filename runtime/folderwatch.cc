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

int trFolderWatchRemove(int fd, int wd) { return inotify_rm_watch(fd, wd); }

int trFolderWatchRead(int fd, char* buf, unsigned len) {
  return static_cast<int>(read(fd, buf, len));
}

bool nextFolderChange(const char* buf, int len, int* at, folderChange* out) {
  constexpr int kHead = static_cast<int>(sizeof(inotify_event));
  while (*at >= 0 && len - *at >= kHead) {
    inotify_event e;
    memcpy(&e, buf + *at, sizeof e);  // the buffer need not be aligned
    int next = *at + kHead + static_cast<int>(e.len);
    if (e.len > static_cast<uint32_t>(len) || next > len) return false;
    const char* name = e.len > 0 ? buf + *at + kHead : "";
    *at = next;
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
