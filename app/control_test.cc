#include "app/control.h"

#include <gtest/gtest.h>

#include "runtime/ctlpath.h"

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
    EXPECT_EQ(controlPeerAllowed(c.known, c.peer, 1000), c.allowed) << c.who;
  }
}

TEST(ControlSocket, FolderAndSocketNames) {
  char dirs[kCtlDirs][kCtlPathSize];
  ASSERT_EQ(ctlDirs("/run/user/1000", 1000, dirs), 2);
  EXPECT_STREQ(dirs[0], "/run/user/1000/qzucon");
  EXPECT_STREQ(dirs[1], "/tmp/qzucon-1000");
  ASSERT_EQ(ctlDirs("", 7, dirs), 1);
  EXPECT_STREQ(dirs[0], "/tmp/qzucon-7");
  ASSERT_EQ(ctlDirs(nullptr, 7, dirs), 1);
  // A runtime folder too long for a socket path is passed over.
  std::string deep(120, 'd');
  ASSERT_EQ(ctlDirs(deep.c_str(), 7, dirs), 1);
  EXPECT_STREQ(dirs[0], "/tmp/qzucon-7");

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
  } kCases[] = {
      {"own folder 0700", kPathDir, 1000, 0700, true},
      {"own folder 0500", kPathDir, 1000, 0500, true},
      {"group may enter", kPathDir, 1000, 0710, false},
      {"world-writable", kPathDir, 1000, 0777, false},
      {"sticky and shared", kPathDir, 1000, 01777, false},
      {"another owner", kPathDir, 0, 0700, false},
      {"a symbolic link", kPathOther, 1000, 0777, false},
      {"a socket", kPathSocket, 1000, 0600, false},
  };
  for (const auto& c : kCases) {
    trPathInfo info = {};
    info.kind = c.kind;
    info.uid = c.uid;
    info.mode = c.mode;
    EXPECT_EQ(ctlDirProblem(info, 1000) == nullptr, c.fit) << c.what;
  }
}

}  // namespace
