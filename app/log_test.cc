#include "app/log.h"

#include <regex>
#include <string>

#include "app/globals.h"
#include "app/testenv.h"
#include "runtime/text.h"

namespace {

class logTest : public coreTest {};

TEST_F(logTest, StampsFileLinesAndEchoesScreen) {
  testing::internal::CaptureStdout();
  log("value %d\n", 42);
  log("two\nlines\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "value 42\ntwo\nlines\n");
  std::string file = readFile("main.log");
  std::regex line(R"(\[(\d\d)\.(\d\d)\.(\d{4}) \d\d:\d\d:\d\d\] value 42\n)"
                  R"(\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\] two\nlines\n)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(file, m, line)) << file;
  int month = std::stoi(m[1]), day = std::stoi(m[2]);
  EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31) << file;
}

TEST_F(logTest, FileGetsPrintableBytesScreenGetsThemUnchanged) {
  testing::internal::CaptureStdout();
  log("a\tb\x1b" "c\x7f\xe9\r\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "a\tb\x1b" "c\x7f\xe9\r\n");
  std::string file = readFile("main.log");
  EXPECT_EQ(file.substr(file.find("] ") + 2), "a\xfa" "b\xfa" "c\x7f\xfa\r\n");
}

TEST_F(logTest, FormatLimitAndMessageCut) {
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

TEST_F(logTest, UnopenableFileStillEchoes) {
  strzcpy(g_logfn, "", 256);
  testing::internal::CaptureStdout();
  log("only on screen\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "only on screen\n");
}

}  // namespace
