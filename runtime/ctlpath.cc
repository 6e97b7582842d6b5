// Names of the control socket folder and file, and the privacy rule for it.
#include "runtime/ctlpath.h"

#include <cstdio>

namespace {

// Room left for "/65535.sock" behind a folder name.
constexpr int kSocketNameChars = 11;

bool fits(int n) { return n > 0 && n + kSocketNameChars < kCtlPathSize; }

}  // namespace

int ctlDirs(const char* xdg, unsigned uid, char dirs[kCtlDirs][kCtlPathSize]) {
  int count = 0;
  if (xdg != nullptr && xdg[0] != 0) {
    if (fits(snprintf(dirs[count], kCtlPathSize, "%s/qzucon", xdg))) count++;
  }
  if (fits(snprintf(dirs[count], kCtlPathSize, "/tmp/qzucon-%u", uid))) count++;
  return count;
}

bool ctlSocketPath(const char* dir, unsigned port, char* out) {
  int n = snprintf(out, kCtlPathSize, "%s/%u.sock", dir, port & 0xFFFFu);
  return n > 0 && n < kCtlPathSize;
}

const char* ctlDirProblem(const trPathInfo& info, unsigned uid) {
  if (info.kind != kPathDir) return "it is not a folder";
  if (info.uid != uid) return "it belongs to another user";
  if ((info.mode & 077) != 0) return "other users may enter it (it must be mode 0700)";
  return nullptr;
}
