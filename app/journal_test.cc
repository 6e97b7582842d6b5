// The journal copy of the log, against a datagram socket pair standing in for
// journald's socket: what each kind of line is tagged with, a pass's entries
// sent together, and a journal that takes nothing costing the screen and the
// files nothing, with one line about it.
#include "app/journal.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/log.h"
#include "app/startup.h"
#include "input/commands.h"
#include "runtime/text.h"
#include "support/coretest.h"

namespace {

class JournalTest : public coreTest {
 protected:
  void SetUp() override {
    coreTest::SetUp();
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, fds_));
    g_journal.fd = fds_[0];  // as if connected to journald
    g_journal.connected = true;
  }
  void TearDown() override {
    resetAppGlobals();  // closes fds_[0]
    close(fds_[1]);
    coreTest::TearDown();
  }
  // The entries waiting at the journal's end, each as sent.
  std::vector<std::string> entries() {
    std::vector<std::string> got;
    char buf[16384];
    for (ssize_t n; (n = recv(fds_[1], buf, sizeof buf, 0)) > 0;) got.emplace_back(buf, n);
    return got;
  }
  int fds_[2] = {-1, -1};
};

bool has(const std::string& entry, const std::string& field) {
  return entry.find(field + "\n") != std::string::npos;
}

TEST_F(JournalTest, EachKindOfLineCarriesItsFields) {
  serverRec* r = addServer("127.0.0.1:28100", "admin", "pw");
  strcpy(g_consoleLabel, "site");
  entries();  // what configuring said
  testing::internal::CaptureStdout();
  line l;
  l.server = r;
  l.kind = kJournalServer;
  l.priority = kPrioInfo;
  l.text = "->hello\n";
  l.len = 8;
  l.body = "hello\n";
  emit(l);
  log("ERROR: No active server, use 'qzuconactive ip:port'\n");
  log("Resolving ...\n");
  processInputLine(-1, 1, 1, "qzuconlist");  // typed at the keyboard
  testing::internal::GetCapturedStdout();
  std::vector<std::string> e = entries();
  ASSERT_GE(e.size(), 5u);
  for (const std::string& entry : e) EXPECT_TRUE(has(entry, "QZUCON_CONSOLE=site")) << entry;
  // Named by its server, as qzuconctl follow shows it.
  EXPECT_TRUE(has(e[0], "MESSAGE=127.0.0.1:28100 ->hello") && has(e[0], "PRIORITY=6") &&
              has(e[0], "QZUCON_KIND=server") && has(e[0], "QZUCON_SERVER=127.0.0.1:28100"))
      << e[0];
  EXPECT_TRUE(has(e[1], "PRIORITY=3") && has(e[1], "QZUCON_KIND=console")) << e[1];
  EXPECT_TRUE(has(e[2], "PRIORITY=5") && !has(e[2], "QZUCON_SERVER=127.0.0.1:28100")) << e[2];
  EXPECT_TRUE(has(e[3], "MESSAGE=qzuconlist") && has(e[3], "QZUCON_KIND=command") &&
              has(e[3], "QZUCON_SOURCE=keyboard"))
      << e[3];
  // The list itself is the console's answer, untagged: the tag went with the command.
  EXPECT_TRUE(has(e[4], "QZUCON_KIND=console") && !has(e[4], "QZUCON_SOURCE=keyboard")) << e[4];
}

// Each start-up line about a server carries the address the journal knows
// it by; a server without a port has none yet.
TEST_F(JournalTest, StartUpLinesNameTheirServer) {
  serverRec s = {};
  strcpy(s.address, "127.0.0.1:28100");
  strcpy(s.login, "admin");
  serverRec noPort = {};
  strcpy(noPort.address, "127.0.0.1");
  testing::internal::CaptureStdout();
  ASSERT_TRUE(resolveServer(&s));
  EXPECT_FALSE(resolveServer(&noPort));
  testing::internal::GetCapturedStdout();
  std::vector<std::string> e = entries();
  ASSERT_EQ(e.size(), 6u);
  const char* kLines[] = {"Server Address: 127.0.0.1:28100", "Server IP: 127.0.0.1",
                          "Server Port: 28100", "Login Name: admin"};
  for (int i = 0; i < 4; i++) {
    EXPECT_TRUE(has(e[i], std::string("MESSAGE=") + kLines[i]) &&
                has(e[i], "QZUCON_SERVER=127.0.0.1:28100"))
        << e[i];
  }
  EXPECT_EQ(e[4].find("QZUCON_SERVER="), std::string::npos) << e[4];
  EXPECT_EQ(e[5].find("QZUCON_SERVER="), std::string::npos) << e[5];
}

TEST_F(JournalTest, APassSendsItsEntriesTogetherAfterTheLog) {
  testing::internal::CaptureStdout();
  holdLog();
  log("one\n");
  log("two\n");
  EXPECT_TRUE(entries().empty()) << "held with the pass";
  releaseLog();
  testing::internal::GetCapturedStdout();
  std::vector<std::string> e = entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_TRUE(has(e[0], "MESSAGE=one") && has(e[1], "MESSAGE=two"));
}

TEST_F(JournalTest, AJournalThatTakesNothingCostsTheFilesNothing) {
  strzcpy(g_logfn, "main.log", 256);
  journalRunning();  // as in the main loop: no wait, not even at start
  testing::internal::CaptureStdout();
  // Never read: the queue fills and every further entry is refused at once.
  int lines = 0;
  for (; lines < 5000 && g_journalDropped == 0; lines++) log("line %d\n", lines);
  ASSERT_GT(g_journalDropped, 0u) << "the queue never filled";
  for (int i = 0; i < 100; i++) log("more %d\n", i);
  uint64_t dropped = g_journalDropped;
  EXPECT_GE(dropped, 101u);
  reportJournalDrops(1000, false);
  reportJournalDrops(2000, false);  // the same cause, within the quiet time: nothing
  std::string screen = testing::internal::GetCapturedStdout();
  std::string file = readFile("main.log");
  EXPECT_NE(file.find("line 0\n"), std::string::npos);
  EXPECT_NE(file.find("more 99\n"), std::string::npos);
  EXPECT_NE(screen.find("more 99\n"), std::string::npos);
  std::string said = "**" + std::to_string(dropped) + " lines did not reach the journal (";
  EXPECT_NE(screen.find(said), std::string::npos) << screen.substr(screen.size() - 200);
  size_t first = file.find("lines did not reach the journal");
  EXPECT_EQ(file.find("lines did not reach the journal", first + 1), std::string::npos);
}

}  // namespace
