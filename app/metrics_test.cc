#include "app/metrics.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "app/alerts.h"
#include "app/ctlaccess.h"
#include "app/globals.h"
#include "protocol/health.h"
#include "protocol/outbound.h"
#include "support/coretest.h"

namespace {

class metricsTest : public coreTest {
 protected:
  void SetUp() override {
    coreTest::SetUp();
    strcpy(g_consoleLabel, "site");
  }
  std::string text(const metricsFigures& f) {
    std::string all;
    metricsCursor c;
    char line[kMetricsLineMax];
    for (int n; (n = metricsLine(&c, f, line)) > 0;) all.append(line, n);
    return all;
  }
  static bool has(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos;
  }
};

TEST(MetricsLabels, EscapesWhatTheFormatQuotes) {
  const struct {
    const char* in;
    const char* out;
  } kCases[] = {
      {"127.0.0.1:28100", "127.0.0.1:28100"},
      {"a\"b", "a\\\"b"},
      {"a\\b", "a\\\\b"},
      {"a\nb", "a\\nb"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    char out[64];
    EXPECT_EQ(escapeLabel(c.in, out, sizeof out), static_cast<int>(strlen(c.out))) << c.in;
    EXPECT_STREQ(out, c.out) << c.in;
  }
  // Cut where room ends, never in the middle of an escape.
  char small[4];
  EXPECT_EQ(escapeLabel("ab\"c", small, sizeof small), 2);
  EXPECT_STREQ(small, "ab");
}

TEST_F(metricsTest, EachServersCountsAndStates) {
  serverRec* up = addServer("127.0.0.1:28100", "admin", "secret");
  serverRec* quiet = addServer("127.0.0.1:28101", "admin", "secret");
  for (int i = 0; i < 24; i++) noteLine(up, 1000, reinterpret_cast<const unsigned char*>("x"), 1);
  noteHeard(up, 40, 0);
  noteChallenge(up);
  // Plain text after the challenge shows the key right: the session is confirmed.
  const char kText[] = "Map loaded: 24 players";
  noteLine(up, 1000, reinterpret_cast<const unsigned char*>(kText), sizeof kText);
  noteSent(up, 1000, true);
  noteSent(up, 1000, false);
  noteSent(quiet, 0, true);
  checkSilence(quiet, kSilenceMs);
  up->health.lastLine = 1500;

  metricsFigures f;
  f.startMs = 1765432100250;
  f.wallMs = 1765432200000;
  f.mono = 2000;
  std::string t = text(f);
  EXPECT_EQ(t.rfind("# HELP qzucon_up ", 0), 0u) << t;
  const char* kLines[] = {
      "qzucon_up{console=\"site\"} 1",
      "qzucon_start_time_seconds{console=\"site\"} 1765432100.250",
      "qzucon_server_up{console=\"site\",server=\"127.0.0.1:28100\"} 1",
      "qzucon_server_up{console=\"site\",server=\"127.0.0.1:28101\"} 0",
      "qzucon_server_lines_received_total{console=\"site\",server=\"127.0.0.1:28100\"} 25",
      "qzucon_server_bytes_received_total{console=\"site\",server=\"127.0.0.1:28100\"} 40",
      // Half a second before wallMs by the monotonic clock.
      "qzucon_server_last_line_timestamp_seconds{console=\"site\",server=\"127.0.0.1:28100\"} "
      "1765432199.500",
      "qzucon_server_challenges_total{console=\"site\",server=\"127.0.0.1:28100\"} 1",
      "qzucon_server_no_answer{console=\"site\",server=\"127.0.0.1:28101\"} 1",
      "qzucon_server_no_answer{console=\"site\",server=\"127.0.0.1:28100\"} 0",
      "qzucon_server_heartbeats_sent_total{console=\"site\",server=\"127.0.0.1:28100\"} 1",
      "qzucon_server_commands_sent_total{console=\"site\",server=\"127.0.0.1:28100\"} 1",
      "# TYPE qzucon_server_lines_received_total counter",
      "# TYPE qzucon_server_up gauge",
  };
  for (const char* line : kLines) EXPECT_TRUE(has(t, line)) << line << "\n" << t;
  // A server that never sent a line has no time of its last one.
  EXPECT_EQ(t.find("last_line_timestamp_seconds{console=\"site\",server=\"127.0.0.1:28101\"}"),
            std::string::npos);
  EXPECT_EQ(t.back(), '\n');

  // Silent for kSilenceMs: down, though its session stays up.
  f.mono = 1500 + kSilenceMs;
  EXPECT_TRUE(has(text(f), "qzucon_server_up{console=\"site\",server=\"127.0.0.1:28100\"} 0"));
  // Its port reported closed: down at once, until it is heard again.
  f.mono = 2000;
  testing::internal::CaptureStdout();
  notePortUnreachable(up, 1900, "127.0.0.1");
  EXPECT_TRUE(has(text(f), "qzucon_server_up{console=\"site\",server=\"127.0.0.1:28100\"} 0"));
  noteHeard(up, 40, 1950);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(has(text(f), "qzucon_server_up{console=\"site\",server=\"127.0.0.1:28100\"} 1"));
  // And every server is down in the file left at exit.
  f.mono = 2000;
  f.up = false;
  t = text(f);
  EXPECT_TRUE(has(t, "qzucon_server_up{console=\"site\",server=\"127.0.0.1:28100\"} 0")) << t;
  EXPECT_TRUE(has(t, "qzucon_up{console=\"site\"} 0"));
}

// One address configured twice must not give two samples of one label set,
// which would make the whole text invalid.
TEST_F(metricsTest, AnAddressConfiguredTwiceIsTold) {
  addServer("127.0.0.1:28100", "admin", "a");
  addServer("127.0.0.1:28101", "admin", "b");
  addServer("127.0.0.1:28100", "other", "c");
  addServer("127.0.0.1:28100", "third", "d");
  std::string t = text(metricsFigures());
  EXPECT_TRUE(
      has(t, "qzucon_server_heartbeats_sent_total{console=\"site\",server=\"127.0.0.1:28100\"} 0"))
      << t;
  EXPECT_TRUE(
      has(t, "qzucon_server_heartbeats_sent_total{console=\"site\",server=\"127.0.0.1:28101\"} 0"))
      << t;
  EXPECT_TRUE(has(t, "qzucon_server_up{console=\"site\",server=\"127.0.0.1:28100\",entry=\"3\"} 0"))
      << t;
  EXPECT_TRUE(has(t, "qzucon_server_up{console=\"site\",server=\"127.0.0.1:28100\",entry=\"4\"} 0"))
      << t;
}

// Tags and alert counts carry a second label beside the server, and the
// entry label of an address configured twice stays in the same braces.
TEST_F(metricsTest, TagsAndAlertsPerServer) {
  serverRec* eu = addServer("127.0.0.1:28100", "admin", "a");
  addServer("127.0.0.1:28101", "admin", "b");
  addServer("127.0.0.1:28100", "admin", "c");
  strcpy(eu->tags, "eu,pvp");
  char why[160];
  ASSERT_TRUE(g_alerts.add("bad:dro+p", why, sizeof why)) << why;
  ASSERT_TRUE(g_alerts.add("oom:out of memory", why, sizeof why)) << why;
  const char* names[kAlertsMax];
  g_alerts.match(0, "drop me", names);
  g_alerts.match(0, "drooop", names);
  g_alerts.match(1, "out of memory", names);
  std::string t = text(metricsFigures());
  const char* kLines[] = {
      "qzucon_server_info{console=\"site\",server=\"127.0.0.1:28100\",tags=\"eu,pvp\"} 1",
      "qzucon_server_info{console=\"site\",server=\"127.0.0.1:28101\",tags=\"\"} 1",
      "qzucon_server_info{console=\"site\",server=\"127.0.0.1:28100\",entry=\"3\",tags=\"\"} 1",
      "qzucon_alerts_total{console=\"site\",server=\"127.0.0.1:28100\",alert=\"bad\"} 2",
      "qzucon_alerts_total{console=\"site\",server=\"127.0.0.1:28101\",alert=\"bad\"} 0",
      "qzucon_alerts_total{console=\"site\",server=\"127.0.0.1:28101\",alert=\"oom\"} 1",
      "qzucon_alerts_total{console=\"site\",server=\"127.0.0.1:28100\",entry=\"3\",alert=\"oom\"} "
      "0",
      "# TYPE qzucon_alerts_total counter",
  };
  for (const char* line : kLines) EXPECT_TRUE(has(t, line)) << line << "\n" << t;
}

TEST_F(metricsTest, ConsoleWideCounts) {
  metricsFigures f;
  f.dropsKnown = true;
  f.receiveDrops = 7;
  f.controlClients = 2;
  f.controlDropped = 3;
  f.journalDropped = 4;
  f.logWriteErrors = 5;
  f.ignored[kIgnoredUnknownSender] = 6;
  f.ignored[kIgnoredEmpty] = 8;
  std::string t = text(f);
  const char* kLines[] = {
      "qzucon_build_info{console=\"site\",version=\"" QZUCON_VERSION "\"} 1",
      "qzucon_receive_drops_total{console=\"site\"} 7",
      "qzucon_control_clients{console=\"site\"} 2",
      "qzucon_control_lines_dropped_total{console=\"site\"} 3",
      "qzucon_journal_entries_dropped_total{console=\"site\"} 4",
      "qzucon_log_write_errors_total{console=\"site\"} 5",
      "qzucon_datagrams_ignored_total{console=\"site\",reason=\"unknown_sender\"} 6",
      "qzucon_datagrams_ignored_total{console=\"site\",reason=\"short\"} 0",
      "qzucon_datagrams_ignored_total{console=\"site\",reason=\"empty\"} 8",
  };
  for (const char* line : kLines) EXPECT_TRUE(has(t, line)) << line << "\n" << t;
  // A count the kernel would not give is left out, not shown as 0.
  f.dropsKnown = false;
  EXPECT_EQ(text(f).find("\nqzucon_receive_drops_total{"), std::string::npos);
}

// Control requests by user and result; past the table's users, the rest in
// one row, so that a host of many users cannot grow the text without end.
TEST_F(metricsTest, ControlRequestsByUserAndResult) {
  metricsFigures f;
  EXPECT_EQ(text(f).find("\nqzucon_control_requests_total{"), std::string::npos) << "none yet";
  uint64_t d = metricsDigest(f);
  countCtlRequest("alice", true);
  countCtlRequest("alice", true);
  countCtlRequest("alice", false);
  EXPECT_NE(metricsDigest(f), d);
  for (int i = 0; i < kCtlUsersMax + 5; i++) {
    countCtlRequest(("u" + std::to_string(i)).c_str(), false);
  }
  std::string t = text(f);
  const std::string kPrefix = "qzucon_control_requests_total{console=\"site\",user=";
  for (const std::string& line :
       {kPrefix + "\"alice\",result=\"ok\"} 2", kPrefix + "\"alice\",result=\"denied\"} 1",
        kPrefix + "\"u62\",result=\"denied\"} 1", kPrefix + "\"(others)\",result=\"denied\"} 6",
        kPrefix + "\"(others)\",result=\"ok\"} 0"}) {
    EXPECT_TRUE(has(t, line)) << line << "\n" << t;
  }
  EXPECT_EQ(t.find("user=\"u63\""), std::string::npos) << t;
  size_t rows = 0;
  for (size_t at = t.find(kPrefix); at != std::string::npos; at = t.find(kPrefix, at + 1)) rows++;
  EXPECT_EQ(rows, 2u * (kCtlUsersMax + 1));
}

// Two consoles' files share one textfile folder: every sample carries the
// console's name first, quoted as a label value is.
TEST_F(metricsTest, EverySampleCarriesTheConsoleFirst) {
  strcpy(g_consoleLabel, "eu \"main\"\\1");
  addServer("127.0.0.1:28100", "admin", "a");
  char why[160];
  ASSERT_TRUE(g_alerts.add("oom:out of memory", why, sizeof why)) << why;
  metricsFigures f;
  f.dropsKnown = true;
  std::string t = text(f);
  const std::string kFirst = "{console=\"eu \\\"main\\\"\\\\1\"";
  int samples = 0;
  for (size_t at = 0, end; at < t.size(); at = end + 1) {
    end = t.find('\n', at);
    std::string line = t.substr(at, end - at);
    if (line[0] == '#') continue;
    samples++;
    size_t brace = line.find('{');
    EXPECT_EQ(line.compare(brace, kFirst.size(), kFirst), 0) << line;
    EXPECT_EQ(line.find('{', brace + 1), std::string::npos) << line;
  }
  EXPECT_GT(samples, 20) << t;
}

TEST_F(metricsTest, TheDigestSeesEveryChangeButTheClocks) {
  serverRec* r = addServer("127.0.0.1:28100", "admin", "secret");
  metricsFigures f;
  uint64_t d = metricsDigest(f);
  f.wallMs += 5000;
  EXPECT_EQ(metricsDigest(f), d) << "time alone";
  noteSent(r, 0, false);
  EXPECT_NE(metricsDigest(f), d) << "a command";
  d = metricsDigest(f);
  f.ignored[kIgnoredShort]++;
  EXPECT_NE(metricsDigest(f), d) << "an ignored datagram";
  d = metricsDigest(f);
  f.controlClients++;
  EXPECT_NE(metricsDigest(f), d) << "a control client";
}

TEST_F(metricsTest, TheFileIsReplacedWholeAndGroupReadable) {
  addServer("127.0.0.1:28100", "admin", "secret");
  metricsFigures f;
  ASSERT_EQ(writeMetricsFile("qzucon.prom", f), 0);
  std::string first = readFile("qzucon.prom");
  EXPECT_EQ(first, text(f));
  struct stat st;
  ASSERT_EQ(stat("qzucon.prom", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  f.up = false;
  ASSERT_EQ(writeMetricsFile("qzucon.prom", f), 0);
  EXPECT_NE(readFile("qzucon.prom").find("\nqzucon_up{console=\"site\"} 0\n"), std::string::npos);
  // A folder that is not there: an error, and nothing left behind.
  EXPECT_NE(writeMetricsFile("missing/qzucon.prom", f), 0);
}

// A control client's request can come in the first pass, before its
// metricsPass: the start is known by then, and the first pass keeps it.
TEST_F(metricsTest, TheStartIsKnownBeforeTheFirstPass) {
  metricsNoteStart();
  int64_t start = gatherFigures(true, 100).startMs;
  EXPECT_GT(start, 1700000000000);
  metricsPass(100);
  EXPECT_EQ(gatherFigures(true, 200).startMs, start);
}

TEST_F(metricsTest, WrittenAtStartThenOnlyWhenSomethingChanged) {
  serverRec* r = addServer("127.0.0.1:28100", "admin", "secret");
  strcpy(g_metricsPath, "qzucon.prom");
  struct stat st;
  auto ino = [&] { return stat("qzucon.prom", &st) == 0 ? st.st_ino : 0; };
  metricsPass(100000);
  ino_t at = ino();
  ASSERT_NE(at, 0u);
  noteSent(r, 0, false);
  metricsPass(100000 + kMetricsEveryMs - 1);
  EXPECT_EQ(ino(), at) << "within 5 s";
  metricsPass(100000 + kMetricsEveryMs);
  EXPECT_NE(ino(), at) << "changed, 5 s on";
  at = ino();
  metricsPass(100000 + 2 * kMetricsEveryMs);
  EXPECT_EQ(ino(), at) << "nothing changed";
  metricsPass(100000 + kMetricsEveryMs + kMetricsRefreshMs);
  EXPECT_NE(ino(), at) << "a minute without a write";
  metricsExit(100000 + kMetricsEveryMs + kMetricsRefreshMs);
  EXPECT_NE(readFile("qzucon.prom").find("\nqzucon_up{console=\"site\"} 0\n"), std::string::npos);
}

}  // namespace
