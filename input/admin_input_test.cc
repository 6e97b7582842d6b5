// Line assembly from input bytes (editing, line ends, the cut at 256
// characters) and which peers count as local.
#include "input/admin_input.h"

#include <string>
#include <vector>

#include "app/globals.h"
#include "support/coretest.h"
#include "runtime/text.h"

namespace {

class AdminInputTest : public coreTest {
 protected:
  // Feeds bytes through line assembly; returns the finished lines, read back
  // from the log file where every line is written.
  std::vector<std::string> feed(const std::string& bytes) {
    g_noscreenlog = 1;
    testing::internal::CaptureStdout();
    for (char c : bytes) feedAdminChar(-1, 1, static_cast<unsigned char>(c));
    testing::internal::GetCapturedStdout();
    g_noscreenlog = 0;
    return loggedLines();
  }
  std::vector<std::string> loggedLines() {
    std::vector<std::string> lines;
    std::string file = readFile("main.log");
    const std::string err = "ERROR: No active server";
    for (size_t pos = 0; pos < file.size();) {
      size_t start = file.find("] ", pos) + 2;
      size_t end = file.find('\n', start);
      std::string line = file.substr(start, end - start);
      if (line.compare(0, err.size(), err) != 0) lines.push_back(line);
      pos = end + 1;
    }
    return lines;
  }
};

TEST_F(AdminInputTest, LineAssembly) {
  struct row {
    std::string bytes;
    std::vector<std::string> lines;
    std::string pending;
  };
  const row rows[] = {
      {"ab\bx\n", {"ax"}, ""},
      {"\b\bq\n", {"q"}, ""},
      {"\n", {""}, ""},
      {"one\rtwo\n", {"one", "two"}, ""},
      {"a\tb\x7f\x01\xe9", {}, "a\tb\x7f\x01\xe9"},  // stored unchanged
      {"partial", {}, "partial"},
      {std::string(300, 'x'), {std::string(256, 'x')}, std::string(44, 'x')},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.bytes));
    resetInputGlobals();
    std::remove("main.log");
    EXPECT_EQ(feed(r.bytes), r.lines);
    EXPECT_EQ(std::string(g_input, g_ll), r.pending);
  }
}

TEST(IsLocalPeer, OnlyTheFirstNineCharactersCount) {
  struct row {
    const char* text;
    bool local;
  };
  const row rows[] = {{"127.0.0.1:5000", true},  {"127.0.0.12:5", true}, {"127.0.0.199:1", true},
                      {"127.0.0.2:5000", false}, {"10.1.2.3:40000", false}, {"", false}};
  for (const row& r : rows) EXPECT_EQ(isLocalPeer(r.text), r.local) << r.text;
}

}  // namespace
