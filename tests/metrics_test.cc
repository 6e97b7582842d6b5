// The metrics of a running console: the file it keeps for node_exporter and
// what "qzuconctl metrics" prints, against a stand-in server.
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "runtime/keyboard.h"
#include "runtime/unixsock.h"
#include "support/e2e_harness.h"

namespace {

class MetricsTest : public e2eTest {
 protected:
  // The value of the sample that begins with `series ` in text, -1 when none.
  static long valueOf(const std::string& text, const std::string& series) {
    size_t at = text.find("\n" + series + " ");
    if (at == std::string::npos) return -1;
    return std::strtol(text.c_str() + at + series.size() + 2, nullptr, 10);
  }
};

TEST_F(MetricsTest, CountsOneServersLinesInTheFileAndOnDemand) {
  runProc* s = startStandin("pw", {"--rate", "50", "--count", "25"});
  ASSERT_NE(nullptr, s) << dump();
  std::string server = "127.0.0.1:" + std::to_string(portOf(s));
  std::vector<std::string> tokens = consoleTokens({s}, {"pw"});
  tokens.push_back("controlsocket=" + dir_ + "/ctl.sock");
  tokens.push_back("metrics=" + dir_ + "/qzucon.prom");
  runProc* console = startConsole(tokens);
  ASSERT_NE(nullptr, console) << dump();
  ASSERT_TRUE(waitFor(console, "->qzstandin " + server + " line 25\n")) << dump();

  // The greeting that brought the challenge is a line too: 26, as in the log.
  // Named by its own port: no name= and no ini=.
  std::string label = "console=\"" + std::to_string(consolePort_) + "\"";
  std::string lines = "qzucon_server_lines_received_total{" + label + ",server=\"" + server + "\"}";
  std::string logName = "127_0_0_1_" + std::to_string(portOf(s)) + ".log";
  ASSERT_TRUE(waitForFile(logName, "line 25\n")) << dump();  // the screen comes first
  long logged = countOf(readFile(logName), "\n");
  EXPECT_EQ(logged, 26) << readFile(logName);
  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"-S", dir_ + "/ctl.sock", "metrics"}, &ctl)) << dump();
  EXPECT_EQ(valueOf(ctl->out, lines), logged) << ctl->out;
  EXPECT_EQ(valueOf(ctl->out, "qzucon_server_up{" + label + ",server=\"" + server + "\"}"), 1)
      << ctl->out;
  EXPECT_EQ(valueOf(ctl->out, "qzucon_up{" + label + "}"), 1) << ctl->out;
  ASSERT_TRUE(waitForFile("qzucon.prom", lines + " 26\n")) << readFile("qzucon.prom");

  struct stat st;
  ASSERT_EQ(stat((dir_ + "/qzucon.prom").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  type(console, "qzuconexit\n");
  ASSERT_TRUE(waitExit(console)) << dump();
  std::string last = readFile("qzucon.prom");
  EXPECT_EQ(valueOf(last, "qzucon_up{" + label + "}"), 0) << last;
  EXPECT_EQ(valueOf(last, lines), 26) << last;
}

// Far more text than a control client's queue holds comes out whole, in
// order, with nothing dropped; a request sent right behind it is answered
// after it, not in the middle of it.
TEST_F(MetricsTest, AFleetsTextReachesTheClientWhole) {
  constexpr int kServers = 2000;
  std::string ini = "myaddr=127.0.0.1:" + std::to_string(consolePort_) + "\n";
  for (int i = 0; i < kServers; i++) {
    ini += "server=127.0.0." + std::to_string(2 + i / 250) + ":" + std::to_string(20000 + i) +
           "\nlogin=admin\n";
  }
  ASSERT_TRUE(writeFile("fleet.ini", ini));
  runProc* console = startConsole({"ini=fleet.ini", "controlsocket=" + dir_ + "/ctl.sock"});
  ASSERT_NE(nullptr, console) << dump();
  ASSERT_TRUE(waitFor(console, "Console active")) << dump();
  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"-S", dir_ + "/ctl.sock", "metrics"}, &ctl)) << dump();
  EXPECT_EQ(countOf(ctl->out, "\nqzucon_server_lines_received_total{"), kServers);
  // Started this year, though no file is written.
  EXPECT_GT(valueOf(ctl->out, "qzucon_start_time_seconds{console=\"fleet\"}"), 1700000000L)
      << ctl->out.substr(0, 600);
  EXPECT_EQ(countOf(ctl->out, "\nqzucon_server_commands_sent_total{"), kServers);
  EXPECT_NE(ctl->out.find("\nqzucon_log_write_errors_total{console=\"fleet\"} 0\n"),
            std::string::npos);
  EXPECT_EQ(ctl->err, "");

  trsock c;
  c.handle = trUnixSocket();
  ASSERT_EQ(trUnixConnect(c.handle, (dir_ + "/ctl.sock").c_str()), 0);
  ASSERT_EQ(trSendNow(c.handle, "metrics\nservers\n", 16), 16);
  std::string got;
  char buf[65536];
  for (int waits = 0; countOf(got, "ok\n") < 2 && waits < 300; waits++) {
    int ready = 0;
    if (trWaitInput(&c.handle, 1, 100, &ready) <= 0) continue;
    int n = trRecv(c.handle, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, n);
  }
  size_t firstOk = got.find("\nok\n");
  ASSERT_NE(firstOk, std::string::npos) << got.substr(0, 200);
  EXPECT_EQ(countOf(got.substr(0, firstOk), "\nqzucon_server_up{"), kServers);
  EXPECT_EQ(got.find("myaddr "), firstOk + 4) << "servers answered within the metrics";
}

}  // namespace
