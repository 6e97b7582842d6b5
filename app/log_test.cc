// The message writer: stamped lines in the main log file, the same text on
// the screen, unprintable bytes, the format limit and an unopenable file.
#include "app/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "app/globals.h"
#include "support/coretest.h"
#include "runtime/text.h"

namespace {

class LogTest : public coreTest {};

// True when text begins with a "[MM.DD.YYYY hh:mm:ss] " stamp of a real date.
bool stamped(const std::string& text) {
  const std::string shape = "[dd.dd.dddd dd:dd:dd] ";
  if (text.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); i++) {
    bool digit = isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
  }
  int month = std::stoi(text.substr(1, 2)), day = std::stoi(text.substr(4, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

TEST_F(LogTest, StampsFileLinesAndEchoesScreen) {
  testing::internal::CaptureStdout();
  log("value %d\n", 42);
  log("two\nlines\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "value 42\ntwo\nlines\n");
  std::string file = readFile("main.log");
  const size_t stamp = 22;
  ASSERT_TRUE(stamped(file)) << file;
  EXPECT_EQ(file.substr(stamp, 9), "value 42\n");
  ASSERT_TRUE(stamped(file.substr(stamp + 9))) << file;
  EXPECT_EQ(file.substr(2 * stamp + 9), "two\nlines\n") << "one stamp for a message of two lines";
}

TEST_F(LogTest, FileGetsPrintableBytesScreenGetsThemUnchanged) {
  testing::internal::CaptureStdout();
  log("a\tb\x1b" "c\x7f\xe9\r\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "a\tb\x1b" "c\x7f\xe9\r\n");
  std::string file = readFile("main.log");
  EXPECT_EQ(file.substr(file.find("] ") + 2), "a\xfa" "b\xfa" "c\x7f\xfa\r\n");
}

TEST_F(LogTest, FormatLimitAndMessageCut) {
  std::string at = std::string(2046, 'x') + "%d";    // 2048 characters: formatted
  std::string over = std::string(2047, 'y') + "%d";  // 2049 characters: taken literally
  std::string arg(5000, 'z');
  testing::internal::CaptureStdout();
  g_noscreenlog = 1;
  log(at.c_str(), 7);
  log(over.c_str(), 7);
  log("%s", arg.c_str());
  g_noscreenlog = 0;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "g_noscreenlog keeps the screen quiet";
  std::string file = readFile("main.log");
  EXPECT_NE(file.find(std::string(2046, 'x') + "7["), std::string::npos);
  EXPECT_NE(file.find(std::string(2047, 'y') + "%d["), std::string::npos);
  EXPECT_NE(file.find("] " + std::string(4096, 'z')), std::string::npos);
  EXPECT_EQ(file.find(std::string(4097, 'z')), std::string::npos) << "cut to the buffer";
}

TEST_F(LogTest, RenamedLogIsFollowedByANewFileMadeAsFopenWould) {
  mode_t mask = umask(027);
  g_noscreenlog = 1;
  log("before\n");
  int renamed = rename("main.log", "main.log.1");
  log("after\n");
  g_noscreenlog = 0;
  umask(mask);
  ASSERT_EQ(0, renamed);
  struct stat st;
  ASSERT_EQ(0, stat("main.log", &st));
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "0666 less the umask";
  std::string old = readFile("main.log.1"), now = readFile("main.log");
  EXPECT_EQ(old.substr(old.find("] ") + 2), "before\n");
  EXPECT_EQ(now.substr(now.find("] ") + 2), "after\n");
}

TEST_F(LogTest, UnopenableFileStillEchoes) {
  strzcpy(g_logfn, "", 256);
  testing::internal::CaptureStdout();
  log("only on screen\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "only on screen\n");
}

TEST(LogFailures, ReportsAFailingFileAtMostEveryFewSecondsAndItsRecoveryOnce) {
  struct row {
    const char* name;
    bool written;
    int64_t now;
    logNote want;
  };
  const int64_t q = kLogQuietSecs;
  const row rows[] = {
      {"a.log", true, 100, kLogSayNothing},          // written: nothing to say
      {"a.log", false, 100, kLogSayFailed},          // first failure
      {"a.log", false, 100 + q - 1, kLogSayNothing}, // quiet window
      {"b.log", false, 101, kLogSayFailed},          // each file on its own
      {"a.log", false, 100 + q, kLogSayFailed},      // window over
      {"b.log", false, 90, kLogSayFailed},           // clock set back: time gone by
      {"a.log", true, 100 + q + 1, kLogSayWritten},  // recovery, once
      {"a.log", true, 100 + q + 2, kLogSayNothing},
      {"a.log", false, 100 + q + 3, kLogSayFailed},  // fails anew: reported at once
      {"b.log", true, 200, kLogSayWritten},
  };
  logfail f;
  for (const row& r : rows) {
    EXPECT_EQ(f.note(r.name, r.written, r.now), r.want)
        << r.name << (r.written ? " written" : " failed") << " at " << r.now;
  }
}

TEST(LogFailures, ForgetsTheFileReportedLongestAgoWhenFull) {
  logfail f;
  for (int i = 0; i <= kLogFailFiles; i++) {
    EXPECT_EQ(f.note(std::to_string(i).c_str(), false, i), kLogSayFailed) << i;
  }
  EXPECT_EQ(f.note("0", true, 100), kLogSayNothing) << "forgotten to make room";
  EXPECT_EQ(f.note("1", true, 100), kLogSayWritten);
  EXPECT_EQ(f.note(std::to_string(kLogFailFiles).c_str(), true, 100), kLogSayWritten);
}

TEST_F(LogTest, FullDeviceIsReportedOnTheScreenAndSoIsItsEnd) {
  ASSERT_EQ(0, symlink("/dev/full", "full.log"));
  strzcpy(g_logfn, "full.log", 256);
  testing::internal::CaptureStdout();
  log("one\n");
  ASSERT_EQ(0, unlink("full.log"));
  log("three\n");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "one\n**Cannot write log file full.log: No space left on device (further failures "
            "for it are not reported for 5 s)\nthree\n**Log file full.log is written again\n");
  std::string file = readFile("full.log");
  EXPECT_EQ(file.substr(file.find("] ") + 2), "three\n");
}

}  // namespace
