// Decoding what a folder watch read: which changes matter, the files a write
// watch saw written, and a buffer cut short.
#include "runtime/folderwatch.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// One record as the kernel lays it out: the head, then the name padded.
std::string record(int wd, uint32_t mask, const std::string& name) {
  inotify_event e = {};
  e.wd = wd;
  e.mask = mask;
  e.len = name.empty() ? 0 : static_cast<uint32_t>((name.size() + 16) / 16 * 16);
  std::string out(reinterpret_cast<const char*>(&e), sizeof e);
  std::string padded = name;
  padded.resize(e.len, '\0');
  return out + padded;
}

TEST(FolderChanges, DecodesWhatMattersAndSkipsTheRest) {
  struct row {
    const char* label;
    uint32_t mask;
    const char* name;
    bool found;
    folderChangeKind kind;
  };
  const row rows[] = {
      {"renamed away", IN_MOVED_FROM, "a.log", true, kFolderName},
      {"renamed over", IN_MOVED_TO, "a.log", true, kFolderName},
      {"removed", IN_DELETE, "a.log", true, kFolderName},
      {"permissions", IN_ATTRIB, "a.log", true, kFolderName},
      {"the folder's own permissions", IN_ATTRIB | IN_ISDIR, "", true, kFolderGone},
      {"the folder moved", IN_MOVE_SELF, "", true, kFolderGone},
      {"the watch ended", IN_IGNORED, "", true, kFolderGone},
      {"changes lost", IN_Q_OVERFLOW, "", true, kFolderAll},
      {"a write", IN_MODIFY, "a.log", false, kFolderName},
  };
  for (const row& r : rows) {
    std::string buf = record(7, r.mask, r.name);
    int at = 0;
    folderChange c;
    ASSERT_EQ(nextFolderChange(buf.data(), static_cast<int>(buf.size()), &at, &c), r.found)
        << r.label;
    if (!r.found) continue;
    EXPECT_EQ(c.kind, r.kind) << r.label;
    if (r.kind == kFolderName) {
      EXPECT_STREQ(c.name, r.name) << r.label;
    }
    EXPECT_EQ(c.wd, r.kind == kFolderAll ? -1 : 7) << r.label;
    EXPECT_EQ(at, static_cast<int>(buf.size())) << r.label;
  }
}

TEST(FolderChanges, WalksSeveralRecordsAndStopsAtOneCutShort) {
  std::string buf = record(1, IN_MODIFY, "skipped.log") + record(2, IN_DELETE, "b.log") +
                    record(3, IN_MOVED_FROM, "c.log");
  int len = static_cast<int>(buf.size()) - 3;  // the last name cut
  int at = 0;
  folderChange c;
  ASSERT_TRUE(nextFolderChange(buf.data(), len, &at, &c));
  EXPECT_EQ(c.wd, 2);
  EXPECT_STREQ(c.name, "b.log");
  EXPECT_FALSE(nextFolderChange(buf.data(), len, &at, &c)) << "a record cut short is no change";
}

// A write watch yields the names written, whatever else comes between, and
// stops at a record cut short.
TEST(FolderChanges, WritesAreNamedAndTheRestSkipped) {
  std::string buf = record(1, IN_MODIFY, "a.log") + record(1, IN_DELETE, "gone.log") +
                    record(1, IN_Q_OVERFLOW, "") + record(1, IN_MODIFY, "b.log") +
                    record(1, IN_MODIFY, "cut.log");
  int len = static_cast<int>(buf.size()) - 3;
  int at = 0;
  const char* name = nullptr;
  std::vector<std::string> names;
  while (nextFolderWrite(buf.data(), len, &at, &name)) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.log", "b.log"}));
}

TEST(FolderWatch, SeesAWriteInTheFolder) {
  char dir[] = "/tmp/qzwatch.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/a.log";
  int fd = trFolderWatchOpen();
  ASSERT_GE(fd, 0);
  ASSERT_GE(trFolderWatchWrites(fd, dir), 0);
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("line\n", f);
  fclose(f);
  char buf[4096];
  int n = trFolderWatchRead(fd, buf, sizeof buf);
  int at = 0;
  const char* name = nullptr;
  ASSERT_TRUE(nextFolderWrite(buf, n, &at, &name));
  EXPECT_STREQ(name, "a.log");
  close(fd);
  remove(path.c_str());
  rmdir(dir);
}

TEST(FolderWatch, SeesARenameInTheFolder) {
  char dir[] = "/tmp/qzwatch.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string from = std::string(dir) + "/a.log", to = std::string(dir) + "/b.log";
  FILE* f = fopen(from.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  int fd = trFolderWatchOpen();
  ASSERT_GE(fd, 0);
  int wd = trFolderWatchAdd(fd, dir);
  ASSERT_GE(wd, 0);
  char buf[4096];
  EXPECT_EQ(trFolderWatchRead(fd, buf, sizeof buf), -1) << "nothing yet, and no wait";
  ASSERT_EQ(0, rename(from.c_str(), to.c_str()));
  int n = trFolderWatchRead(fd, buf, sizeof buf);
  int at = 0;
  folderChange c;
  ASSERT_TRUE(nextFolderChange(buf, n, &at, &c));
  EXPECT_EQ(c.wd, wd);
  EXPECT_STREQ(c.name, "a.log");
  close(fd);
  remove(to.c_str());
  rmdir(dir);
}

}  // namespace
