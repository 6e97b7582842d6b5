// Log files kept open between writes: a name that stops leading to its file
// is opened anew at the next write, idle files are closed, and files beyond
// the room are written all the same.
#include "app/logfiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "app/globals.h"
#include "app/log.h"
#include "runtime/text.h"
#include "support/coretest.h"

namespace {

class LogFilesTest : public coreTest {
 protected:
  void SetUp() override {
    coreTest::SetUp();
    g_noscreenlog = 1;
  }
  // The messages of a file without their stamps.
  std::string texts(const std::string& name) {
    std::string file = readFile(name), out;
    for (size_t at = 0; at < file.size();) {
      size_t end = file.find('\n', at);
      if (end == std::string::npos) break;
      size_t stamp = file.find("] ", at);
      out += stamp < end ? file.substr(stamp + 2, end - stamp - 1) : file.substr(at, end - at + 1);
      at = end + 1;
    }
    return out;
  }
  void writeOther(const char* name, const char* text) {
    FILE* f = fopen(name, "w");
    ASSERT_NE(f, nullptr);
    fputs(text, f);
    fclose(f);
  }
};

TEST_F(LogFilesTest, ANameThatNoLongerLeadsToTheOpenFileGetsTheNextLine) {
  struct row {
    const char* change;
    const char* name;
    std::function<void()> apply;
    const char* atName;  // the file at the name afterwards
    const char* moved;   // where the first line is then, when elsewhere
  };
  const row rows[] = {
      {"renamed away", "a.log", [] { rename("a.log", "a.log.1"); }, "two\n", "a.log.1"},
      {"removed", "a.log", [] { unlink("a.log"); }, "two\n", nullptr},
      {"replaced by a rename over it", "a.log",
       [this] {
         writeOther("new.tmp", "other\n");
         rename("new.tmp", "a.log");
       },
       "other\ntwo\n", nullptr},
      {"its folder renamed and made anew", "sub/a.log",
       [] {
         rename("sub", "sub.old");
         mkdir("sub", 0700);
       },
       "two\n", "sub.old/a.log"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.change);
    g_logFiles.reset();
    mkdir("sub", 0700);
    strzcpy(g_logfn, r.name, 256);
    log("one\n");
    ASSERT_EQ(g_logFiles.kept(), 1) << "kept open after its write";
    r.apply();
    log("two\n");
    EXPECT_EQ(texts(r.name), r.atName);
    if (r.moved) {
      EXPECT_EQ(texts(r.moved), "one\n");
    }
    unlink("a.log");
    unlink("a.log.1");
    unlink("sub/a.log");
    unlink("sub.old/a.log");
    rmdir("sub");
    rmdir("sub.old");
  }
}

TEST_F(LogFilesTest, AFileIdleForAMinuteIsClosedAndOneWrittenStaysOpenThroughOthersChanges) {
  log("one\n");
  writeOther("other.log", "x\n");
  rename("other.log", "other.log.1");
  g_logFiles.refresh(time(nullptr));
  EXPECT_EQ(g_logFiles.kept(), 1) << "another file's change is none of its business";
  log("two\n");
  EXPECT_EQ(g_logFiles.kept(), 1);
  int64_t now = time(nullptr);
  g_logFiles.refresh(now + kLogIdleSecs - 1);
  EXPECT_EQ(g_logFiles.kept(), 1);
  g_logFiles.refresh(now + kLogIdleSecs + 1);
  EXPECT_EQ(g_logFiles.kept(), 0);
  log("three\n");
  EXPECT_EQ(texts("main.log"), "one\ntwo\nthree\n");
}

// Whoever may write in the folder can flood it with changes until the
// kernel's queue of them overflows: every file is then closed and opened
// again, and no line is lost or written twice.
TEST_F(LogFilesTest, AFloodOfChangesInTheFolderLosesNoLine) {
  int queued = 16384;
  FILE* limit = fopen("/proc/sys/fs/inotify/max_queued_events", "r");
  if (limit) {
    if (fscanf(limit, "%d", &queued) != 1) queued = 16384;
    fclose(limit);
  }
  log("one\n");
  writeOther("flood.a", "x\n");
  for (int i = 0; i <= queued / 2; i++) {  // two changes a rename
    ASSERT_EQ(0, rename(i % 2 ? "flood.b" : "flood.a", i % 2 ? "flood.a" : "flood.b"));
  }
  log("two\n");
  log("three\n");
  EXPECT_EQ(texts("main.log"), "one\ntwo\nthree\n");
  EXPECT_EQ(g_logFiles.kept(), 1);
}

TEST_F(LogFilesTest, FilesBeyondTheRoomAreWrittenAllTheSame) {
  g_logFiles.setRoom(1);
  for (const char* name : {"a.log", "b.log", "a.log", "b.log"}) {
    strzcpy(g_logfn, name, 256);
    log("%s\n", name);
  }
  EXPECT_EQ(g_logFiles.kept(), 1);
  EXPECT_EQ(texts("a.log"), "a.log\na.log\n");
  EXPECT_EQ(texts("b.log"), "b.log\nb.log\n");
}

TEST(LogFilesRoom, HalfTheDescriptorsWithinTheMaximum) {
  const long rows[][2] = {{-1, 0}, {0, 0}, {1024, 512}, {20000, kLogFilesMax}};
  for (const auto& r : rows) EXPECT_EQ(logFilesRoom(r[0]), r[1]) << "limit " << r[0];
}

}  // namespace
