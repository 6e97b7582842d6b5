// Names of the control socket folder and file, and the privacy rules for it.
#include "ctlproto/ctlpath.h"

#include <cstdio>

namespace {

// Room left for "/65535.sock" behind a folder name.
constexpr int kSocketNameChars = 11;

bool fits(int n) { return n > 0 && n + kSocketNameChars < kCtlPathSize; }

bool set(const char* v) { return v != nullptr && v[0] != 0; }

}  // namespace

ctlEnv ctlEnvNow() { return {trEnv("XDG_RUNTIME_DIR"), trEnv("XDG_STATE_HOME"), trEnv("HOME")}; }

int ctlDirs(const ctlEnv& env, unsigned uid, char dirs[kCtlDirs][kCtlPathSize]) {
  int count = 0;
  if (set(env.runtimeDir)) {
    if (fits(snprintf(dirs[count], kCtlPathSize, "%s/qzucon", env.runtimeDir))) count++;
  }
  if (fits(snprintf(dirs[count], kCtlPathSize, "/tmp/qzucon-%u", uid))) count++;
  // A relative XDG_STATE_HOME is invalid and ignored, as the convention says.
  int n = set(env.stateHome) && env.stateHome[0] == '/'
              ? snprintf(dirs[count], kCtlPathSize, "%s/qzucon", env.stateHome)
          : set(env.home) ? snprintf(dirs[count], kCtlPathSize, "%s/.local/state/qzucon", env.home)
                          : 0;
  if (fits(n)) count++;
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

bool ctlDirSquattable(const trPathInfo& info, unsigned uid) {
  return info.kind != kPathNone && (info.kind != kPathDir || info.uid != uid);
}

bool ctlNamedSocketTrusted(const trPathInfo& sock, const trPathInfo& dir, unsigned peerUid,
                           const unsigned* groups, int n) {
  bool mine = false;
  for (int i = 0; i < n; i++) mine = mine || groups[i] == dir.gid;
  return sock.kind == kPathSocket && sock.uid == peerUid && dir.kind == kPathDir &&
         (dir.uid == peerUid || dir.uid == 0) && (dir.mode & 027) == 0 && (dir.mode & 050) != 0 &&
         mine;
}

bool ctlPeerAllowed(bool credsKnown, unsigned peerUid, unsigned ownUid) {
  return credsKnown && (peerUid == ownUid || peerUid == 0);
}
