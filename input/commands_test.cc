// The console's own commands and their effects, the log of every line, and
// remote commands going to the active server only.
#include "input/commands.h"

#include <cstring>
#include <string>

#include "app/globals.h"
#include "support/coretest.h"
#include "crypto/keystream.h"
#include "runtime/text.h"

namespace {

class CommandsTest : public coreTest {
 protected:
  // Runs one line; returns what reached the screen.
  std::string run(const char* line) {
    testing::internal::CaptureStdout();
    processInputLine(-1, 777, 777, line);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(CommandsTest, ConsoleCommandTable) {
  addServer("127.0.0.1:28100", "one", "");
  addServer("localhost:28200", "two", "");
  const std::string noActive = "ERROR: No active server, use 'qzuconactive ip:port'\n";
  const std::string unknown = "Unknown Server Specified, Active Server: NULL\n";
  const std::string status =
      "status 127.0.0.1:28100: challenge not answered, last line never, lines 0, heartbeats 0\n"
      "status 127.0.0.1:28200: challenge not answered, last line never, lines 0, heartbeats 0\n";
  const std::string list =
      "server address: 127.0.0.1:28100   login: one\n"
      "server address: 127.0.0.1:28200   login: two\n";
  struct row {
    const char* line;
    std::string screen;
    int exitFlag;
    int debug;
    const char* logfn;
    int active;  // index of the active server after the line, -1 for none
  };
  const row rows[] = {
      {"qzuconexit ", noActive, 0, 0, "main.log", -1},
      {"QzuconExit", "", 1, 0, "main.log", -1},
      {"qzucondebug", "", 0, 1, "main.log", -1},
      {"QZUCONDEBUG", "", 0, 0, "main.log", -1},
      {"qzuconlistmore", list, 0, 0, "main.log", -1},
      {"QZUCONstatus", status, 0, 0, "main.log", -1},
      {"qzuconactive 127.0.0.1:28100", "Active Server: 127.0.0.1:28100\n", 0, 0, "main.log", 0},
      {"qzuconactive127.0.0.1:28100", "Active Server: 127.0.0.1:28100\n", 0, 0, "main.log", 0},
      {"qzuconactive 127.0.0.1:28100 ", unknown, 0, 0, "main.log", -1},
      {"qzuconactive\t127.0.0.1:28100", unknown, 0, 0, "main.log", -1},
      {"qzuconactive", unknown, 0, 0, "main.log", -1},
      {"qzuconactive LOCALHOST:28200", unknown, 0, 0, "main.log", -1},
      {"qzuconactive localhost:28200", "Active Server: localhost:28200\n", 0, 0, "main.log", 1},
      // The address "qzuconlist" shows finds a server configured by name too.
      {"qzuconactive 127.0.0.1:28200", "Active Server: localhost:28200\n", 0, 0, "main.log", 1},
      {"", noActive, 0, 0, "main.log", -1},
      {"qzuconlogfoo.log", "", 0, 0, "foo.log", -1},
      {"QZUCONLOG   my file.log \t", "", 0, 0, "my file.log", -1},
      {"qzuconlog", "", 0, 0, "", -1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.line));
    g_exit = 0;
    g_debug = 0;
    g_activeServer = nullptr;
    strzcpy(g_logfn, "main.log", 256);
    if (strcmp(r.line, "QZUCONDEBUG") == 0) g_debug = 1;  // toggles back off
    EXPECT_EQ(run(r.line), r.screen);
    EXPECT_EQ(g_exit, r.exitFlag);
    EXPECT_EQ(g_debug, r.debug);
    EXPECT_STREQ(g_logfn, r.logfn);
    serverRec* want = r.active < 0 ? nullptr : serverAt(r.active);
    EXPECT_EQ(g_activeServer, want);
  }
}

TEST_F(CommandsTest, EveryLineGoesToTheLogFileOnly) {
  run("qzuconexit");
  run("say 100%s");
  std::string file = readFile("main.log");
  EXPECT_NE(file.find("] qzuconexit\n"), std::string::npos) << file;
  EXPECT_NE(file.find("] say 100%s\n"), std::string::npos) << file;
}

TEST_F(CommandsTest, FailedChoiceClearsTheActiveServer) {
  addServer("127.0.0.1:28100", "one", "");
  run("qzuconactive 127.0.0.1:28100");
  ASSERT_NE(g_activeServer, nullptr);
  run("qzuconactive 127.0.0.1:1");
  EXPECT_EQ(g_activeServer, nullptr);
}

TEST_F(CommandsTest, RemoteCommandGoesToTheActiveServerOnly) {
  udpPeer a, b, console;
  ASSERT_TRUE(a.open() && b.open() && console.open());
  strzcpy(g_myaddr, "127.0.0.1:1", 256);
  serverRec* ra = addServer(a.address().c_str(), "a", "pw");
  serverRec* rb = addServer(b.address().c_str(), "b", "pw");
  rb->lastSend = 5;
  run((std::string("qzuconactive ") + a.address()).c_str());
  testing::internal::CaptureStdout();
  processInputLine(console.sock.handle, 9000, 9000, "status now");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a remote command is not echoed";
  std::string pkt = a.receive();
  std::string text = pkt.substr(32 + strlen("127.0.0.1:1;a;"));
  keystreamXor(kDefaultSeed, text.data(), text.size());
  EXPECT_EQ(text, std::string("status now", 11));
  EXPECT_EQ(ra->lastSend, 9000u);
  EXPECT_EQ(rb->lastSend, 5u);
  EXPECT_EQ(b.receive(200), "");
}

TEST_F(CommandsTest, QzuconwriteWritesTheNamedFile) {
  addServer("127.0.0.1:28100", "one", "pw");
  std::string out = run("qzuconwrite  out.ini");
  EXPECT_EQ(out, "Configuration written to file: out.ini\n");
  EXPECT_NE(readFile("out.ini").find("server=127.0.0.1:28100\nlogin=one\npassword=pw\n"),
            std::string::npos);
}

}  // namespace
