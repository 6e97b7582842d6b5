// What the console tells an operator about a link that does not work: a
// wrong password, a busy local input port, a
// server socket it cannot bind (and its exit status), and the status view.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "runtime/sock.h"
#include "support/e2e_harness.h"
#include "support/proc.h"

namespace {

class DiagnoseTest : public e2eTest {
 protected:
};

// A UDP socket on every address and a free port, bound without address
// reuse, so the console's own bind to that port must fail.
class portBlocker {
 public:
  portBlocker() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    port_ = trSockPort(fd_);
  }
  ~portBlocker() {
    if (fd_ >= 0) close(fd_);
  }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = -1;
};

TEST_F(DiagnoseTest, WrongPasswordIsNamedOncePerChallenge) {
  runProc* server = startStandin("secret", {"--rate", "20"});
  ASSERT_NE(nullptr, server) << dump();
  runProc* console = startConsole(consoleTokens({server}, {"not-the-secret"}));
  ASSERT_NE(nullptr, console);
  std::string mismatch = "**Password mismatch for " + addr(server) + ": ";
  std::string challenge = "Received Server Challenge from " + addr(server);
  ASSERT_TRUE(waitFor(console, challenge)) << dump();
  // Every command with a failed proof brings a new challenge (at most one a
  // second) with a greeting that is noise again. The third greeting is
  // evidence enough; from then on each challenge is reported once.
  type(console, "qzuconactive " + addr(server) + "\n");
  for (int i = 0; i < 30 && countOf(console->out, challenge) < 5; i++) {
    type(console, "status\n");
    waitFor(console, challenge, kStdout, countOf(console->out, challenge) + 1, 1500);
  }
  int challenges = countOf(console->out, challenge);
  ASSERT_GE(challenges, 5) << dump();
  EXPECT_TRUE(waitFor(console, mismatch, kStdout, challenges - 2)) << dump();
  // Each report follows its challenge's line, so there are never more.
  EXPECT_LE(countOf(console->out, mismatch), countOf(console->out, challenge)) << dump();
}

TEST_F(DiagnoseTest, RightPasswordIsNeverCalledAMismatch) {
  runProc* server = startStandin("secret", {"--rate", "20"});
  ASSERT_NE(nullptr, server) << dump();
  runProc* console = startConsole(consoleTokens({server}, {"secret"}));
  ASSERT_NE(nullptr, console);
  ASSERT_TRUE(waitFor(console, "->", kStdout, 20)) << dump();
  EXPECT_EQ(0, countOf(console->out, "**Password mismatch")) << dump();
}

// A server that never answers is named once, with the likely causes, and the
// status view says so: ControlTest.MismatchAndSilenceHaveTheirOwnStatuses
// checks both in the suite's one run of the real 10 s timer.

TEST_F(DiagnoseTest, StatusShowsAnAnsweredServer) {
  runProc* server = startStandin("secret", {"--rate", "10"});
  ASSERT_NE(nullptr, server) << dump();
  runProc* console = startConsole(consoleTokens({server}, {"secret"}));
  ASSERT_NE(nullptr, console);
  ASSERT_TRUE(waitFor(server, "proof-ok", kStderr)) << dump();
  ASSERT_TRUE(waitFor(console, "->", kStdout, 3)) << dump();
  type(console, "qzuconstatus\n");
  EXPECT_TRUE(waitFor(console, "status " + addr(server) + ": challenge answered, last line "))
      << dump();
  EXPECT_EQ(0, countOf(console->out, "**No answer")) << dump();
}

TEST_F(DiagnoseTest, BusyLocalPortIsNamed) {
  trsock holder;
  holder.handle = trSocket(1);
  ASSERT_EQ(0, trBind(holder.handle, 0, "127.0.0.1"));
  ASSERT_EQ(0, trListen(holder.handle, 1));
  int busy = trSockPort(holder.handle);
  runProc* server = startStandin("secret", {"--rate", "0"});
  ASSERT_NE(nullptr, server) << dump();
  std::vector<std::string> tokens = consoleTokens({server}, {"secret"});
  tokens.push_back("TCPlistenport=" + std::to_string(busy));
  runProc* console = startConsole(tokens);
  ASSERT_NE(nullptr, console);
  EXPECT_TRUE(waitFor(console, "ERROR: Unable to open local TCP input on port " +
                                   std::to_string(busy) + ": "))
      << dump();
  EXPECT_TRUE(waitFor(console, "\"qzuconexit\" exits.\n")) << dump();
}

TEST_F(DiagnoseTest, UnbindableServerSocketExitsWithItsOwnStatus) {
  portBlocker blocker;
  ASSERT_GT(blocker.port(), 0);
  runProc* console = startConsole({"myaddr=127.0.0.1:" + std::to_string(blocker.port()),
                                   "server=127.0.0.1:9", "login=admin", "password=pw"});
  ASSERT_NE(nullptr, console);
  ASSERT_TRUE(waitExit(console)) << dump();
  EXPECT_NE(std::string::npos, console->out.find("ERROR: Unable to bind to UDP port " +
                                                 std::to_string(blocker.port())))
      << dump();
  ASSERT_TRUE(procExited(console->status)) << dump();
  EXPECT_EQ(5, procExitCode(console->status)) << dump();
}

}  // namespace
