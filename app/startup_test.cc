// Program start: exit statuses of bad configurations, the start-up report,
// the configuration file read after the command line, and address lookup.
#include "app/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/globals.h"
#include "app/log.h"
#include "runtime/text.h"
#include "support/coretest.h"
#include "support/scopedenv.h"

namespace {

int countOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
  return n;
}

class StartupTest : public coreTest {
 protected:
  // Runs the configuration step on these arguments; returns status and output.
  int run(std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), "qzucon");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    g_logfn[0] = 0;
    testing::internal::CaptureStdout();
    int status = configure(static_cast<int>(argv.size()), argv.data());
    *out = testing::internal::GetCapturedStdout();
    return status;
  }
};

TEST_F(StartupTest, ExitStatusesForBadConfigurations) {
  struct row {
    std::vector<std::string> args;
    int status;
    const char* lastLine;
  };
  const row rows[] = {
      {{"myaddr=127.0.0.1:1"}, kExitNoServer, "ERROR: No Servers Configured\n"},
      {{"server=127.0.0.1:2"}, kExitMyPort, "**Missing Port in My Address\n"},
      {{"myaddr=127.0.0.1", "server=127.0.0.1:2"}, kExitMyPort, "**Missing Port in My Address\n"},
      {{"myaddr=127.0.0.1:1", "server=127.0.0.1"}, kExitServerPort,
       "**Missing Port in Server Address\n"},
      {{"myaddr=127.0.0.1:1", "login=x", "password=y"}, kExitNoServer,
       "ERROR: No Servers Configured\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.args));
    resetAppGlobals();
    std::string out;
    EXPECT_EQ(run(r.args, &out), r.status);
    size_t help = out.find("QZUCON Help\n");
    std::string before = out.substr(0, help);
    std::string last = before.substr(before.rfind('\n', before.size() - 2) + 1);
    EXPECT_EQ(last, r.lastLine) << out;
  }
}

TEST_F(StartupTest, ThreeServersSecondWithoutPort) {
  std::string out;
  int status = run({"myaddr=127.0.0.1:1", "server=127.0.0.1:28100", "login=one", "password=p",
                    "server=127.0.0.1", "server=127.0.0.3:3"},
                   &out);
  EXPECT_EQ(status, kExitServerPort);
  std::string tail = out.substr(out.find("Resolving ...\n"));
  EXPECT_EQ(tail.substr(0, tail.find("QZUCON Help")),
            "Resolving ...\nServer Address: 127.0.0.1:28100\nServer IP: 127.0.0.1\n"
            "Server Port: 28100\nLogin Name: one\nServer Address: 127.0.0.1\n"
            "**Missing Port in Server Address\n");
  EXPECT_NE(readFile("qzucon.log").find("] **Missing Port in Server Address\n"), std::string::npos);
}

TEST_F(StartupTest, ConfigFileAfterCommandLine) {
  {
    std::ofstream f("my.ini");
    // A 1500-character line arrives as 1023 characters and then 477.
    f << "server=127.0.0.9:9" << std::string(1005, 'a') << "login=" << std::string(471, 'z')
      << "\r\n";
    f << "  ; comment\n\nserver=localhost:28100\nlogin=admin\npassword=pw\nlogin=late\n";
    f << "qzuconlog  cfg.log \n";
  }
  std::string out;
  int status = run({"ini=my.ini", "login=lost", "myaddr=127.0.0.1:24350", "server=127.0.0.1:1",
                    "login=cli"},
                   &out);
  EXPECT_EQ(status, kExitOk) << out;
  ASSERT_EQ(flServer.nodes(), 3);
  EXPECT_STREQ(serverAt(0)->login, "cli");
  EXPECT_EQ(std::string(serverAt(1)->address), "127.0.0.9:9" + std::string(245, 'a'));
  EXPECT_STREQ(serverAt(1)->ipPort, "127.0.0.9:9");
  EXPECT_EQ(std::string(serverAt(1)->login), std::string(32, 'z'));
  EXPECT_STREQ(serverAt(2)->login, "late");
  EXPECT_STREQ(serverAt(2)->ipPort, "127.0.0.1:28100") << "a host name is resolved";
  EXPECT_EQ(serverAt(2)->lastSend, 1u) << "a server with a password is due for heartbeats";
  EXPECT_EQ(serverAt(1)->lastSend, 0u);
  EXPECT_STREQ(g_logfn, "cfg.log");
  EXPECT_NE(readFile("cfg.log").find("] QZUCON - Quazel UDP Console Applet v" QZUCON_VERSION "\n"),
            std::string::npos);
}

// A file that cannot be read is named with the reason just before the
// missing servers it explains; only the default file may be missing without
// a word.
TEST_F(StartupTest, UnreadableConfigFileIsNamed) {
  ASSERT_EQ(0, symlink("loop.ini", "loop.ini"));  // unopenable even for root
  {
    std::ofstream f("locked.ini");
    f << "server=127.0.0.1:1\n";
  }
  chmod("locked.ini", 0);
  struct row {
    std::vector<std::string> args;
    const char* error;  // the line before "ERROR: No Servers Configured", or ""
  };
  const row rows[] = {
      {{"ini=loop.ini"},
       "ERROR: Unable to read configuration file loop.ini: Too many levels of symbolic links\n"},
      {{"ini=locked.ini"},
       "ERROR: Unable to read configuration file locked.ini: "
       "Permission denied\n"},
      {{"ini=missing.ini"},  // a name the user gave, misspelled perhaps
       "ERROR: Unable to read configuration file missing.ini: No such file or directory\n"},
      {{"ini=."}, "ERROR: Unable to read configuration file .: Is a directory\n"},
      {{}, ""},  // the default qzucon.ini, which is not there
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.args));
    if (geteuid() == 0 && r.args.size() == 1 && r.args[0] == "ini=locked.ini") continue;
    resetAppGlobals();
    std::string out;
    EXPECT_EQ(run(r.args, &out), kExitNoServer);
    std::string want = "v" QZUCON_VERSION "\nCopyright (c) 2026 the qzucon developers\n\n" +
                       std::string(r.error) + "ERROR: No Servers Configured\n";
    EXPECT_NE(std::string::npos, out.find(want)) << out;
    EXPECT_EQ(r.error[0] != 0, out.find("ERROR: Unable to read") != std::string::npos) << out;
  }
}

// A refused token names its file line: the line a read ends counts, so a
// line longer than a read gives its pieces one number, and a line of exactly
// 1023 characters is one line.
TEST_F(StartupTest, RefusedTokensNameTheirFileLine) {
  {
    std::ofstream f("my.ini");
    f << "server=127.0.0.1:1\n"                               // 1
      << "login=" << std::string(1017, 'a') << "\n"           // 2: one read, then "\n"
      << "login=" << std::string(1017, 'b') << "pasword=x\n"  // 3: two tokens
      << "  ; comment\n"                                      // 4
      << "journal=yes\r\n"                                    // 5
      << "--verbose";                                         // 6, no line end
  }
  std::string out;
  EXPECT_EQ(kExitOk, run({"ini=my.ini", "myaddr=127.0.0.1:1", "-v"}, &out));
  const char* named[] = {
      "ERROR: Unknown token \"-v\" on the command line\n",
      "ERROR: Unknown token \"pasword=\" in my.ini line 3\n",
      "ERROR: Bad value in token \"journal=yes\" in my.ini line 5\n",
      "ERROR: Unknown token \"--verbose\" in my.ini line 6\n",
  };
  std::string log = readFile("qzucon.log");
  size_t atOut = 0, atLog = 0;
  for (const char* line : named) {
    atOut = out.find(std::string("QZUCON Help\n") + " ini=", atOut);
    atOut = out.find(line, atOut);
    EXPECT_NE(std::string::npos, atOut) << "after its usage text: " << line << out;
    atLog = log.find(std::string("] ") + line, atLog);
    EXPECT_NE(std::string::npos, atLog) << "in order in the log file: " << line << log;
  }
  EXPECT_EQ(std::string(32, 'b'), serverAt(0)->login);
}

// What configuration says before the log file is known reaches the log file
// the configuration names in the end, once, and the screen once, in order
// before the banner.
TEST_F(StartupTest, ConfigurationErrorsReachTheLogFile) {
  const struct {
    std::vector<std::string> tokens;
    const char* file;
  } kCases[] = {
      {{"alert=bad:("}, "qzucon.log"},
      {{"alert=bad:(", "qzuconlog late.log"}, "late.log"},
      {{"qzuconlog first.log", "alert=bad:("}, "first.log"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.tokens));
    resetAppGlobals();
    std::vector<std::string> args = c.tokens;
    args.insert(args.end(), {"server=127.0.0.1:1", "tag=a b", "myaddr=127.0.0.1:1"});
    std::string out;
    EXPECT_EQ(kExitOk, run(args, &out));
    std::string log = readFile(c.file);
    for (const std::string& text : {out, log}) {
      EXPECT_EQ(1, countOf(text, "ERROR: Bad alert \"bad:(\": ")) << text;
      EXPECT_EQ(1, countOf(text, "ERROR: Bad tag \"a b\" for server 127.0.0.1:1")) << text;
      EXPECT_LT(text.find("ERROR: Bad tag"), text.find("QZUCON - Quazel")) << text;
    }
    std::remove(c.file);
  }
}

// More start-up messages than are held: the screen still has them all in
// order; the log file has those held at the end and a line that counts the
// others.
TEST_F(StartupTest, StartupMessagesBeyondTheHeldListAreCounted) {
  testing::internal::CaptureStdout();
  holdStartup();
  int n = kStartLines + 10;
  for (int i = 0; i < n; i++) log("held %d\n", i);
  strzcpy(g_logfn, "qzucon.log", kNameChars);
  releaseStartup();
  log("after\n");
  std::string out = testing::internal::GetCapturedStdout();
  std::string want;
  for (int i = 0; i < n; i++) want += "held " + std::to_string(i) + "\n";
  want += "**" + std::to_string(kStartLines) +
          " start-up messages went out before the log file and the journal were known\nafter\n";
  EXPECT_EQ(want, out);
  std::string log = readFile("qzucon.log");
  EXPECT_EQ(std::string::npos, log.find("] held " + std::to_string(kStartLines - 1) + "\n"));
  EXPECT_NE(std::string::npos, log.find("] held " + std::to_string(kStartLines) + "\n"));
  EXPECT_EQ(12, countOf(log, "\n"));
}

TEST_F(StartupTest, UnresolvableHostLeavesIpEmpty) {
  quickResolver quick;  // the lookup must fail, quickly even without a name server
  serverRec* r = addServer("no-such-host.invalid:28100", "l", "");
  EXPECT_STREQ(r->ip, "");
  EXPECT_STREQ(r->ipPort, ":28100");
  serverRec* big = addServer("127.0.0.1:70000", "l", "");
  EXPECT_EQ(big->port, 70000u) << "the full number is kept";
  EXPECT_STREQ(big->ipPort, "127.0.0.1:70000");
}

}  // namespace
