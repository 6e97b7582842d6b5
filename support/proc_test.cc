// Child processes through support/proc.h: streams on pipes or /dev/null, the
// working folder, exit status and signals, and failed starts.
#include "support/proc.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/keyboard.h"

namespace {

constexpr int kWaitMs = 10000;
// What "at once" may take on a loaded machine: seconds, far below kWaitMs.
constexpr int kAtOnceMs = 5000;

// Reads fd to its end, waiting at most timeoutMs in all.
std::string readAll(int fd, int timeoutMs = kWaitMs) {
  std::string s;
  int64_t deadline = trMonoMsWide() + timeoutMs;
  while (trMonoMsWide() < deadline) {
    int ready = 0;
    if (trWaitInput(&fd, 1, 100, &ready) <= 0) continue;
    char buf[256];
    int n = trFileRead(fd, buf, sizeof buf);
    if (n <= 0) break;
    s.append(buf, static_cast<size_t>(n));
  }
  return s;
}

int waitEnd(int pid) {
  int status = 0;
  EXPECT_EQ(pid, procWait(pid, &status, 0));
  return status;
}

void closeAll(const procIo& io) {
  for (int fd : {io.in, io.out, io.err}) {
    if (fd >= 0) trFileClose(fd);
  }
}

TEST(ProcSpawn, OutputErrorAndExitStatus) {
  const char* argv[] = {"/bin/sh", "-c", "echo out; echo err >&2; exit 3", nullptr};
  procIo io;
  int pid = procSpawn(argv, nullptr, kPipeOut | kPipeErr, &io);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(-1, io.in);
  EXPECT_EQ("out\n", readAll(io.out));
  EXPECT_EQ("err\n", readAll(io.err));
  int status = waitEnd(pid);
  EXPECT_TRUE(procExited(status));
  EXPECT_EQ(3, procExitCode(status));
  closeAll(io);
}

TEST(ProcSpawn, StdinPipeWorkingFolderAndDevNull) {
  std::string dir = std::filesystem::canonical(std::filesystem::temp_directory_path()).string();
  const char* argv[] = {"/bin/sh", "-c", "pwd; cat", nullptr};
  procIo io;
  int pid = procSpawn(argv, dir.c_str(), kPipeIn | kPipeOut, &io);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(5, trFileWrite(io.in, "ping\n", 5));
  ASSERT_EQ(0, trFileClose(io.in));  // cat ends at the end of its input
  io.in = -1;
  EXPECT_EQ(dir + "\nping\n", readAll(io.out));
  EXPECT_EQ(0, procExitCode(waitEnd(pid)));
  closeAll(io);

  // Without a pipe for its input the child reads /dev/null: cat ends at once
  // with nothing, which the end of its output shows. A cat reading the
  // caller's input instead fails here after a few seconds.
  const char* cat[] = {"/bin/cat", nullptr};
  pid = procSpawn(cat, nullptr, kPipeOut, &io);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(-1, io.in);
  EXPECT_EQ(-1, io.err);
  int64_t start = trMonoMsWide();
  EXPECT_EQ("", readAll(io.out, kAtOnceMs));
  bool atOnce = trMonoMsWide() - start < kAtOnceMs;
  EXPECT_TRUE(atOnce) << "cat waited for input";
  if (!atOnce) procKill(pid, SIGKILL);
  int status = waitEnd(pid);
  EXPECT_TRUE(procExited(status) && procExitCode(status) == 0);
  closeAll(io);
}

TEST(ProcSpawn, FailedStartsLeaveNothingOpen) {
  const char* missing[] = {"/nonexistent/program", nullptr};
  procIo io;
  EXPECT_EQ(-1, procSpawn(missing, nullptr, kPipeIn | kPipeOut | kPipeErr, &io));
  EXPECT_EQ(-1, io.in);
  EXPECT_EQ(-1, io.out);
  EXPECT_EQ(-1, io.err);
  const char* sh[] = {"/bin/sh", "-c", "true", nullptr};
  EXPECT_EQ(-1, procSpawn(sh, "/nonexistent/folder", kPipeOut, &io));
  const char* none[] = {nullptr};
  EXPECT_EQ(-1, procSpawn(none, nullptr, 0, &io));
}

TEST(ProcKill, NoHangWaitThenSignal) {
  const char* argv[] = {"/bin/sleep", "30", nullptr};
  procIo io;
  int pid = procSpawn(argv, nullptr, 0, &io);
  ASSERT_GT(pid, 0);
  int status = 0;
  EXPECT_EQ(0, procWait(pid, &status, 1));  // still running
  ASSERT_EQ(0, procKill(pid, SIGTERM));
  status = waitEnd(pid);
  EXPECT_TRUE(procSignaled(status));
  EXPECT_EQ(SIGTERM, procSignal(status));
  EXPECT_FALSE(procExited(status));
  // Process groups are never signalled through this wrapper.
  EXPECT_EQ(-1, procKill(0, 0));
  EXPECT_EQ(-1, procKill(-1, 0));
}

}  // namespace
