#include "runtime/spawn.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "runtime/files.h"

namespace {

std::string readAll(int fd) {
  std::string all;
  char buf[256];
  int n;
  while ((n = trFileRead(fd, buf, sizeof buf)) > 0) all.append(buf, n);
  trFileClose(fd);
  return all;
}

TEST(TrSpawn, RunsAnArgvWithoutAShellAndReportsItsEnd) {
  // The argument reaches sh -c as one word, never re-read by another shell.
  const char* argv[] = {"sh", "-c", "echo \"$0\"; echo err >&2; exit 3", "a;b $(x)", nullptr};
  int out = -1, err = -1;
  int pid = trSpawn(argv, &out, &err);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(readAll(out), "a;b $(x)\n");
  EXPECT_EQ(readAll(err), "err\n");
  int status = 0;
  ASSERT_EQ(trWaitChild(pid, &status, false), pid);
  EXPECT_EQ(trExitCode(status), 3);
}

TEST(TrSpawn, FailuresAndSignals) {
  const char* missing[] = {"qzucon-no-such-program", nullptr};
  int out = 5, err = 5;
  EXPECT_EQ(trSpawn(missing, &out, &err), -1);
  EXPECT_TRUE(trNoSuchFile(trLastError())) << "the exec's own reason";
  EXPECT_EQ(out, -1);
  EXPECT_EQ(err, -1);

  const char* sleeper[] = {"sleep", "30", nullptr};
  int pid = trSpawn(sleeper, &out, &err);
  ASSERT_GT(pid, 0);
  int status = 0;
  EXPECT_EQ(trWaitChild(pid, &status, true), 0) << "still running";
  ASSERT_EQ(trKillChild(pid, SIGTERM), 0);
  ASSERT_EQ(trWaitChild(pid, &status, false), pid);
  EXPECT_EQ(trExitCode(status), -1) << "ended by a signal";
  trFileClose(out);
  trFileClose(err);
  // Never a process group, nor every process.
  EXPECT_EQ(trKillChild(0, 0), -1);
  EXPECT_EQ(trKillChild(-1, 0), -1);
}

}  // namespace
