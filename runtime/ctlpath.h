// Where a console's private control socket lives, shared by the console and
// its control client: a folder only its user may enter,
// "$XDG_RUNTIME_DIR/qzucon" when that variable is set, else
// "/tmp/qzucon-UID", holding "PORT.sock" for the console whose own UDP port
// is PORT. All pure: the callers bring the environment and lstat results.
#ifndef QZUCON_RUNTIME_CTLPATH_H_
#define QZUCON_RUNTIME_CTLPATH_H_

#include "runtime/unixsock.h"

constexpr int kCtlPathSize = kUnixPathChars + 1;
constexpr int kCtlDirs = 2;

// The folders to look in, in order: the runtime folder one (when xdg is set
// and not empty) then the /tmp one; the first is where a console puts its
// socket. Writes them to dirs (kCtlPathSize bytes each) and returns how many;
// a folder name that would not leave room for a socket name is left out.
int ctlDirs(const char* xdg, unsigned uid, char dirs[kCtlDirs][kCtlPathSize]);

// "DIR/PORT.sock" into out (kCtlPathSize bytes); false when it does not fit.
bool ctlSocketPath(const char* dir, unsigned port, char* out);

// Why the folder at a path is not private to user uid, or null when it is:
// it must be a folder (not a link), owned by uid and closed to group and
// others.
const char* ctlDirProblem(const trPathInfo& info, unsigned uid);

#endif  // QZUCON_RUNTIME_CTLPATH_H_
