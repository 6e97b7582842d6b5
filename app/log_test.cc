// The message writer: stamped lines in the main log file, the same text on
// the screen, unprintable bytes, the format limit and an unopenable file.
#include "app/log.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cctype>
#include <cstdio>
#include <string>

#include "app/globals.h"
#include "app/logbatch.h"
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

// What a record's flags leave out: a command is in the file alone, a
// journal-only notice in neither the file nor on the screen, and a line
// held at start-up goes out at the release.
TEST_F(LogTest, EachRecordReachesTheSinksItsFlagsName) {
  const struct {
    bool quiet, journalOnly, startup;
    const char *screen, *file;
  } rows[] = {
      {false, false, false, "said\n", "said\n"},
      {true, false, false, "", "said\n"},
      {false, true, false, "", ""},
      {false, false, true, "said\n", "said\n"},
  };
  for (const auto& r : rows) {
    unlink("main.log");
    if (r.startup) holdStartup();
    testing::internal::CaptureStdout();
    line l;
    l.text = "said\n";
    l.len = 5;
    l.quiet = r.quiet;
    l.journalOnly = r.journalOnly;
    emit(l);
    bool heldBack = readFile("main.log").empty();
    if (r.startup) releaseStartup();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.screen) << r.quiet << r.journalOnly;
    std::string file = readFile("main.log");
    EXPECT_EQ(file.empty() ? "" : file.substr(22), r.file) << r.quiet << r.journalOnly;
    EXPECT_TRUE(!r.startup || heldBack) << "written only at the release";
  }
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

// The messages of a file without their stamps, one per line as logged.
std::string unstamped(const std::string& file) {
  std::string out;
  for (size_t at = 0; at < file.size();) {
    size_t end = file.find('\n', at);
    if (end == std::string::npos) end = file.size() - 1;
    out += file.substr(at + 22, end + 1 - at - 22);
    at = end + 1;
  }
  return out;
}

// As reception shows a server's line: its own file for the one call.
void serverLine(const char* file, const char* text) {
  char saved[sizeof g_logfn];
  memcpy(saved, g_logfn, sizeof saved);
  strzcpy(g_logfn, file, 256);
  log("->%s\n", text);
  memcpy(g_logfn, saved, sizeof saved);
}

TEST_F(LogTest, APassKeepsTheOrderOfArrivalOnScreenAndInEachFile) {
  testing::internal::CaptureStdout();
  holdLog();
  serverLine("a.log", "a1");
  log("console one\n");
  serverLine("b.log", "b1");
  serverLine("a.log", "a2");
  log("console two\n");
  serverLine("c.log", "c1");
  serverLine("b.log", "b2");
  EXPECT_EQ(readFile("a.log"), "") << "held until the pass writes";
  releaseLog();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "->a1\nconsole one\n->b1\n->a2\nconsole two\n->c1\n->b2\n");
  EXPECT_EQ(unstamped(readFile("a.log")), "->a1\n->a2\n");
  EXPECT_EQ(unstamped(readFile("b.log")), "->b1\n->b2\n");
  EXPECT_EQ(unstamped(readFile("c.log")), "->c1\n");
  EXPECT_EQ(unstamped(readFile("main.log")), "console one\nconsole two\n");
  g_noscreenlog = 1;
  log("after the pass\n");
  g_noscreenlog = 0;
  EXPECT_EQ(unstamped(readFile("main.log")), "console one\nconsole two\nafter the pass\n")
      << "outside a pass a message is written at once";
}

TEST_F(LogTest, APassLargerThanTheBatchLosesNothingAndKeepsItsOrder) {
  // More entries than a batch holds, over more files than it holds, and a
  // message too long for what is left of its text.
  const int lines = kBatchEntries + 300;
  std::string want[3], screen;
  std::string longText(kLogMessageChars - 10, 'L');
  g_noscreenlog = 1;
  holdLog();
  for (int i = 0; i < kBatchFiles + 10; i++) serverLine(("f" + std::to_string(i)).c_str(), "x");
  for (int i = 0; i < lines; i++) {
    std::string text = std::to_string(i) + (i % 100 == 0 ? longText : "");
    serverLine(("s" + std::to_string(i % 3) + ".log").c_str(), text.c_str());
    want[i % 3] += "->" + text + "\n";
  }
  releaseLog();
  g_noscreenlog = 0;
  for (int k = 0; k < 3; k++) {
    EXPECT_EQ(unstamped(readFile("s" + std::to_string(k) + ".log")), want[k]) << "file " << k;
  }
  EXPECT_EQ(unstamped(readFile("f" + std::to_string(kBatchFiles + 9))), "->x\n");
}

TEST_F(LogTest, AFailingFileInAPassIsReportedOnceAndTheOthersAreWritten) {
  ASSERT_EQ(0, symlink("/dev/full", "full.log"));
  testing::internal::CaptureStdout();
  holdLog();
  serverLine("full.log", "lost 1");
  serverLine("good.log", "kept 1");
  serverLine("full.log", "lost 2");
  log("console\n");
  releaseLog();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "->lost 1\n->kept 1\n->lost 2\nconsole\n**Cannot write log file full.log: No space "
            "left on device (further failures for it are not reported for 5 s)\n");
  EXPECT_EQ(unstamped(readFile("good.log")), "->kept 1\n");
  EXPECT_EQ(unstamped(readFile("main.log")), "console\n");
}

// A write cut short by the file size limit: what the first writes took stays
// in the file once, in order, and the rest is reported as not written. The
// limit holds for the captured screen too, so only the report goes there.
TEST_F(LogTest, ABatchCutShortKeepsWhatWasWrittenBeforeTheCut) {
  struct rlimit was;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &was));
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  const size_t entry = 400, cap = 1000;  // the third entry is cut
  struct rlimit small = was;
  small.rlim_cur = cap;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  testing::internal::CaptureStdout();
  g_noscreenlog = 1;
  holdLog();
  std::string want;
  for (int i = 1; i <= 5; i++) {
    std::string text = "line " + std::to_string(i);
    text.resize(entry - 22 - 3, '.');
    serverLine("cut.log", text.c_str());
    want += "->" + text + "\n";
  }
  releaseLog();
  g_noscreenlog = 0;
  std::string out = testing::internal::GetCapturedStdout();
  setrlimit(RLIMIT_FSIZE, &was);
  signal(SIGXFSZ, oldHandler);
  std::string file = readFile("cut.log");
  ASSERT_EQ(file.size(), cap);
  EXPECT_EQ(unstamped(file.substr(0, 2 * entry)), want.substr(0, 2 * (entry - 22)));
  EXPECT_EQ(file.substr(2 * entry + 22), want.substr(2 * (entry - 22), cap - 2 * entry - 22))
      << "the cut entry begins where it should";
  EXPECT_NE(out.find("**Cannot write log file cut.log: File too large"), std::string::npos) << out;
}

TEST(SkipWritten, CutsThePiecesAtTheBytesWritten) {
  struct row {
    size_t done;
    int whole;       // pieces written whole
    size_t leftLen;  // of the next piece, when there is one
  };
  const row rows[] = {
      {0, 0, 3}, {2, 0, 1}, {3, 1, 4}, {5, 1, 2}, {7, 2, 5}, {11, 2, 1}, {12, 3, 0},
  };
  for (const row& r : rows) {
    char a[] = "aaa", b[] = "bbbb", c[] = "ccccc";
    iovec iov[3] = {{a, 3}, {b, 4}, {c, 5}};
    EXPECT_EQ(skipWritten(iov, 3, r.done), r.whole) << "done " << r.done;
    if (r.whole < 3) {
      EXPECT_EQ(iov[r.whole].iov_len, r.leftLen) << "done " << r.done;
      const char* base = r.whole == 0 ? a : r.whole == 1 ? b : c;
      EXPECT_EQ(static_cast<char*>(iov[r.whole].iov_base) + iov[r.whole].iov_len,
                base + (r.whole == 0 ? 3 : r.whole == 1 ? 4 : 5))
          << "what is left ends where the piece ends; done " << r.done;
    }
  }
}

}  // namespace
