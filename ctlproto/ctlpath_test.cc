#include "ctlproto/ctlpath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ControlSocket, OnlyTheOwnerAndRootMayConnect) {
  const struct {
    const char* who;
    bool known;
    unsigned peer;
    bool allowed;
  } kCases[] = {
      {"owner", true, 1000, true},
      {"root", true, 0, true},
      {"another user", true, 1001, false},
      {"nobody", true, 65534, false},
      {"credentials unknown", false, 1000, false},
      {"credentials unknown, root-like zero", false, 0, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ctlPeerAllowed(c.known, c.peer, 1000), c.allowed) << c.who;
  }
}

TEST(ControlSocket, FolderAndSocketNames) {
  // Console and client search the same folders in the same order.
  std::string deep(120, 'd');
  const struct {
    ctlEnv env;
    std::vector<std::string> dirs;
  } kCases[] = {
      {{"/run/user/1000", nullptr, "/home/a"},
       {"/run/user/1000/qzucon", "/tmp/qzucon-7", "/home/a/.local/state/qzucon"}},
      {{"", "/st", "/home/a"}, {"/tmp/qzucon-7", "/st/qzucon"}},
      // A relative state folder is invalid and ignored.
      {{nullptr, "rel", "/home/a"}, {"/tmp/qzucon-7", "/home/a/.local/state/qzucon"}},
      {{nullptr, nullptr, nullptr}, {"/tmp/qzucon-7"}},
      // A folder too long for a socket path is passed over.
      {{deep.c_str(), nullptr, deep.c_str()}, {"/tmp/qzucon-7"}},
  };
  for (const auto& c : kCases) {
    char dirs[kCtlDirs][kCtlPathSize];
    int n = ctlDirs(c.env, 7, dirs);
    EXPECT_EQ(std::vector<std::string>(dirs, dirs + n), c.dirs);
  }

  char path[kCtlPathSize];
  ASSERT_TRUE(ctlSocketPath("/tmp/qzucon-7", 27015, path));
  EXPECT_STREQ(path, "/tmp/qzucon-7/27015.sock");
  EXPECT_FALSE(ctlSocketPath(deep.c_str(), 1, path));
}

TEST(ControlSocket, OnlyAPrivateFolderWillDo) {
  const struct {
    const char* what;
    int kind;
    unsigned uid;
    unsigned mode;
    bool fit;
    bool squatted;  // another user may have caused it: the next folder is tried
  } kCases[] = {
      {"own folder 0700", kPathDir, 1000, 0700, true, false},
      {"own folder 0500", kPathDir, 1000, 0500, true, false},
      {"group may enter", kPathDir, 1000, 0710, false, false},
      {"world-writable", kPathDir, 1000, 0777, false, false},
      {"sticky and shared", kPathDir, 1000, 01777, false, false},
      {"another owner", kPathDir, 0, 0700, false, true},
      {"a symbolic link", kPathOther, 1000, 0777, false, true},
      {"a socket", kPathSocket, 1000, 0600, false, true},
      {"nothing yet", kPathNone, 0, 0, false, false},
  };
  for (const auto& c : kCases) {
    trPathInfo info = {};
    info.kind = c.kind;
    info.uid = c.uid;
    info.mode = c.mode;
    EXPECT_EQ(ctlDirProblem(info, 1000) == nullptr, c.fit) << c.what;
    EXPECT_EQ(ctlDirSquattable(info, 1000), c.squatted) << c.what;
  }
}

// A socket named with -S and served by another user (a console that lets
// this user's group in) is used only where that user alone can have put it,
// in a folder shared with a group of this user's alone.
TEST(CtlPath, ANamedSocketOfAnotherUserOnlyWhereNobodyElseWrites) {
  const unsigned kMine[] = {1000, 990};
  const struct {
    const char* what;
    int sockKind;
    unsigned sockUid, dirUid, dirGid, dirMode;
    bool trusted;
  } kCases[] = {
      {"the service's runtime folder", kPathSocket, 990, 990, 990, 0750, true},
      {"in a folder of root's for the group", kPathSocket, 990, 0, 990, 0710, true},
      {"a socket another user made", kPathSocket, 1234, 990, 990, 0750, false},
      {"a folder another user owns", kPathSocket, 990, 1234, 990, 0750, false},
      {"a folder its group may write", kPathSocket, 990, 990, 990, 0770, false},
      {"a folder all may enter", kPathSocket, 990, 990, 990, 0755, false},
      {"a folder all may pass (a squatted private name)", kPathSocket, 990, 990, 990, 0711, false},
      {"a folder of a group not this user's", kPathSocket, 990, 990, 777, 0750, false},
      {"a folder closed to its group", kPathSocket, 990, 990, 990, 0700, false},
      {"all may write (sticky)", kPathSocket, 990, 0, 990, 01777, false},
      {"no socket", kPathOther, 990, 990, 990, 0750, false},
  };
  for (const auto& c : kCases) {
    trPathInfo sock = {}, dir = {};
    sock.kind = c.sockKind;
    sock.uid = c.sockUid;
    dir.kind = kPathDir;
    dir.uid = c.dirUid;
    dir.gid = c.dirGid;
    dir.mode = c.dirMode;
    EXPECT_EQ(c.trusted, ctlNamedSocketTrusted(sock, dir, 990, kMine, 2)) << c.what;
  }
}

}  // namespace
