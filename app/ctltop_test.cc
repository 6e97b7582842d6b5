#include "app/ctltop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/alerts.h"
#include "app/control.h"
#include "app/globals.h"
#include "support/coretest.h"

namespace {

class topTest : public coreTest {
 protected:
  void SetUp() override {
    coreTest::SetUp();
    strcpy(g_consoleLabel, "site");
    strcpy(g_myaddr, "127.0.0.1:28000");
    const struct {
      const char* address;
      const char* tags;
    } kServers[] = {{"127.0.0.1:28100", "eu"},
                    {"127.0.0.1:9", "eu,pvp"},
                    {"127.0.0.1:28101", "us"},
                    {"10.0.0.1:5", ""}};
    for (const auto& s : kServers) strcpy(addServer(s.address, "admin", "pw")->tags, s.tags);
  }
  // The answer's lines, without their '\n'; or "error: WHY".
  static std::vector<std::string> ask(const char* args, uint32_t mono) {
    char why[128];
    if (!topBegin(0, args, mono, why, sizeof why)) return {std::string("error: ") + why};
    std::vector<std::string> out;
    char line[kTopLineChars];
    int next = 0;
    for (int n; (n = topLine(0, &next, mono, line)) > 0;) out.emplace_back(line, n - 1);
    return out;
  }
  // The addresses of the rows, in order.
  static std::string order(const std::vector<std::string>& lines) {
    std::string s;
    for (size_t i = 1; i < lines.size(); i++)
      s += lines[i].substr(4, lines[i].find(' ', 4) - 4) + " ";
    return s;
  }
  static void lines(int server, uint64_t n, uint32_t at) {
    serverAt(server)->health.lines += n;
    serverAt(server)->health.lastLine = at;
  }
};

TEST_F(topTest, FiltersSortsAndWindows) {
  topPass(1000);
  lines(0, 30, 20000);  // 28100: 30 lines, the last at 20 s
  lines(1, 5, 30000);   // :9: 5, the last at 30 s
  lines(2, 12, 10000);  // 28101: 12, the last at 10 s
  const struct {
    const char* args;
    const char* rows;
  } kCases[] = {
      {"address 0 10 *", "10.0.0.1:5 127.0.0.1:9 127.0.0.1:28100 127.0.0.1:28101 "},
      {"rate 0 10 *", "127.0.0.1:28100 127.0.0.1:28101 127.0.0.1:9 10.0.0.1:5 "},
      {"last 0 10 *", "127.0.0.1:9 127.0.0.1:28100 127.0.0.1:28101 10.0.0.1:5 "},
      {"address 1 2 *", "127.0.0.1:9 127.0.0.1:28100 "},
      {"address 0 10 * us", "127.0.0.1:28101 "},
      {"address 0 10 * PVP", "127.0.0.1:9 "},
      {"address 0 10 * :2810", "127.0.0.1:28100 127.0.0.1:28101 "},
      {"address 0 10 @eu", "127.0.0.1:9 127.0.0.1:28100 "},
      {"address 0 10 @eu 28100", "127.0.0.1:28100 "},
      {"address 0 10 * challenge sent", "10.0.0.1:5 127.0.0.1:9 127.0.0.1:28100 127.0.0.1:28101 "},
      {"address 0 10 * mismatch", ""},
      {"address 9 10 *", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(order(ask(c.args, 31000)), c.rows) << c.args;
}

TEST_F(topTest, HeadAndRowFigures) {
  topPass(1000);
  lines(0, 30, 20000);
  serverAt(0)->health.commands = 3;
  std::vector<std::string> a = ask("address 0 1 * 28100", 31000);
  ASSERT_EQ(a.size(), 2u);
  // 30 lines in the 30 s since the snapshot; none of the four is up.
  EXPECT_EQ(a[0], "top 1 0 4 1.0 0 127.0.0.1:28000 site");
  EXPECT_EQ(a[1], "row 127.0.0.1:28100 waiting 30 11 0 3 eu");
  // A server without a line has no age; a later snapshot a minute on
  // leaves the older lines out of the minute.
  topPass(40000);
  topPass(95000);
  lines(0, 2, 96000);
  EXPECT_EQ(ask("address 0 10 * 10.0.0.1", 96000)[1], "row 10.0.0.1:5 waiting 0 - 0 0 ");
  EXPECT_EQ(ask("address 0 1 * 28100", 96000)[1], "row 127.0.0.1:28100 waiting 2 0 0 3 eu");
}

TEST_F(topTest, AlertsOfTheServerAndOfTheLastFiveMinutes) {
  char why[128];
  ASSERT_TRUE(g_alerts.add("oom:memory", why, sizeof why)) << why;
  ASSERT_TRUE(g_alerts.add("any:out", why, sizeof why)) << why;
  topPass(1000);
  const char* names[kAlertsMax];
  g_alerts.match(0, "out of memory", names);  // two alerts of one line
  g_alerts.match(0, "out", names);
  topPass(6000);
  std::vector<std::string> a = ask("address 0 1 * 28100", 10000);
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0], "top 1 0 4 0.0 3 127.0.0.1:28000 site");
  EXPECT_EQ(a[1], "row 127.0.0.1:28100 waiting 0 - 3 0 eu");
  // Five minutes on, the head forgets them; the row keeps its count.
  a = ask("address 0 1 * 28100", 302000);
  EXPECT_EQ(a[0], "top 1 0 4 0.0 0 127.0.0.1:28000 site");
  EXPECT_EQ(a[1], "row 127.0.0.1:28100 waiting 0 - 3 0 eu");
}

TEST_F(topTest, AServerAddedLater) {
  topPass(1000);
  lines(0, 30, 20000);
  EXPECT_EQ(ask("address 0 10 *", 31000).size(), 5u);
  // The list changed: its keys are made again and its minute starts anew.
  strcpy(addServer("127.0.0.1:1", "admin", "pw")->tags, "new");
  std::vector<std::string> a = ask("address 0 10 *", 32000);
  ASSERT_EQ(a.size(), 6u);
  EXPECT_EQ(a[0].rfind("top 5 0 5 ", 0), 0u) << a[0];
  EXPECT_EQ(order(a), "10.0.0.1:5 127.0.0.1:1 127.0.0.1:9 127.0.0.1:28100 127.0.0.1:28101 ");
  EXPECT_EQ(a[4], "row 127.0.0.1:28100 waiting 0 12 0 0 eu");
}

// Through the request reader, for a client outside the console's table (as
// the fuzzer drives it): the whole answer, then "ok".
TEST_F(topTest, AnsweredThroughTheControlReader) {
  std::unique_ptr<ctlClient> c(new ctlClient());
  std::string got;
  auto sink = [](void* ctx, const char* data, int len) {
    static_cast<std::string*>(ctx)->append(data, static_cast<size_t>(len));
    return len;
  };
  const char req[] = "top address 0 2 @eu\ntop nonsense\n";
  controlFeed(c.get(), -1, 5000, 5000, req, sizeof req - 1, sink, &got);
  EXPECT_EQ(got,
            "top 2 0 4 0.0 0 127.0.0.1:28000 site\n"
            "row 127.0.0.1:9 waiting 0 - 0 0 eu,pvp\n"
            "row 127.0.0.1:28100 waiting 0 - 0 0 eu\n"
            "ok\n"
            "error usage: top SORT OFFSET COUNT TARGET [FILTER]\n");
}

TEST_F(topTest, RefusesWrongWords) {
  const char* kBad[] = {
      "", "address", "address 0 10", "name 0 10 *", "address -1 10 *", "address 0 10 28100"};
  for (const char* args : kBad) EXPECT_EQ(ask(args, 1000)[0].rfind("error: ", 0), 0u) << args;
}

}  // namespace
