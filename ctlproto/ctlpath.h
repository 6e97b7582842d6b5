// Where a console's private control socket lives, shared by the console and
// its control client: a folder only its user may enter, holding "PORT.sock"
// for the console whose own UDP port is PORT. The folders, in the order both
// sides use: "$XDG_RUNTIME_DIR/qzucon" when that variable is set, then
// "/tmp/qzucon-UID", then a folder under the user's home
// ("$XDG_STATE_HOME/qzucon", else "$HOME/.local/state/qzucon") that no other
// user can make first, for when someone has squatted the /tmp name. Also the
// rule for who may stand on either end of the socket. All pure: the callers
// bring the environment and lstat results.
#ifndef QZUCON_CTLPROTO_CTLPATH_H_
#define QZUCON_CTLPROTO_CTLPATH_H_

#include "runtime/unixsock.h"

constexpr int kCtlPathSize = kUnixPathChars + 1;
constexpr int kCtlDirs = 3;

// What the folder rule reads from the environment; null or empty = unset.
struct ctlEnv {
  const char* runtimeDir;  // XDG_RUNTIME_DIR
  const char* stateHome;   // XDG_STATE_HOME (used only when absolute)
  const char* home;        // HOME
};
// The process's own values of those variables.
ctlEnv ctlEnvNow();

// The folders to look in, in order (see above); a console puts its socket in
// the first one that is fit, passing over one that another user could have
// made (ctlDirSquattable). Writes them to dirs (kCtlPathSize bytes each) and
// returns how many; a folder whose name leaves no room for a socket name, or
// whose variable is unset, is left out.
int ctlDirs(const ctlEnv& env, unsigned uid, char dirs[kCtlDirs][kCtlPathSize]);

// "DIR/PORT.sock" into out (kCtlPathSize bytes); false when it does not fit.
bool ctlSocketPath(const char* dir, unsigned port, char* out);

// Why the folder at a path is not private to user uid, or null when it is:
// it must be a folder (not a link), owned by uid and closed to group and
// others.
const char* ctlDirProblem(const trPathInfo& info, unsigned uid);
// True when the problem is one another user can cause (the name is taken by
// their folder or link), as opposed to the user's own folder left open.
bool ctlDirSquattable(const trPathInfo& info, unsigned uid);

// Whether the peer on the other end of a control connection may be trusted:
// only when the kernel gave its user (credsKnown) and that is this process's
// user or root. Both the console and its client use it.
bool ctlPeerAllowed(bool credsKnown, unsigned peerUid, unsigned ownUid);

// Whether a socket the user named, served by another user (a console whose
// control group the user is in), may be trusted: the socket file is the
// serving user's, in a folder of that user's or root's that nobody else may
// write in, so nobody else can have put it there, and that folder is shared
// with one of the user's groups (n of them) alone, as a console's runtime
// folder for its group is; a private folder someone made in another's name
// is not. sock and dir are what lstat said of the socket and its folder.
bool ctlNamedSocketTrusted(const trPathInfo& sock, const trPathInfo& dir, unsigned peerUid,
                           const unsigned* groups, int n);

#endif  // QZUCON_CTLPROTO_CTLPATH_H_
