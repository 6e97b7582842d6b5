// The configuration language token by token, how servers are committed, and
// writeini: its text, its round trip through start-up, the new file's mode.
#include "app/config.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/alerts.h"
#include "app/globals.h"
#include "app/journal.h"
#include "app/triggers.h"
#include "runtime/text.h"
#include "support/coretest.h"

namespace {

class ConfigTest : public coreTest {};

// The usage text, byte for byte.
const std::string kUsage =
    "QZUCON Help\n ini=[ini filename] (@ command line only)\n myaddr=[my ip:port]\n"
    " qzuconactive [server ip:port]\n qzuconwrite [filename] (writes ini file)\n"
    " qzuconlog [log filename]\n qzucondebug (to toggle debug mode)\n"
    " qzuconexit (to exit console)\n";

// The effect each token has on the configuration, as a printable summary.
std::string summary() {
  std::string s = std::string("inifn=") + g_inifn + " myaddr=" + g_myaddr + " logfn=" + g_logfn +
                  " tcp=" + std::to_string(g_TCPlistenport) +
                  " udp=" + std::to_string(g_UDPlistenport) + " debug=" + std::to_string(g_debug) +
                  " localusers=" + (g_localusers == kLocalUsersAny ? "any" : "owner") +
                  " journal=" + std::to_string(g_journal.mode) + " name=" + g_consoleName +
                  " pending=" + g_tempServer.address + "|" + g_tempServer.login + "|" +
                  g_tempServer.password + " servers=" + std::to_string(flServer.nodes());
  return s;
}

TEST_F(ConfigTest, TokenTable) {
  struct row {
    const char* token;
    const char* expected;
    bool help;
  };
  const std::string base =
      "inifn= myaddr= logfn=main.log tcp=0 udp=0 debug=0 localusers=owner journal=0 name= "
      "pending=|| servers=0";
  const row rows[] = {
      {"", "", false},
      {"   \t ", "", false},
      {" ;myaddr=1.2.3.4:5", "", false},
      {"myaddr=10.0.0.1:24350", "myaddr=10.0.0.1:24350", false},
      {"MYADDR=  10.0.0.1:1 ", "myaddr=10.0.0.1:1 ", false},
      {"ini=other.ini", "inifn=other.ini", false},
      {"server=1.2.3.4:5", "pending=1.2.3.4:5||", false},
      {"login=admin ", "pending=|admin |", false},
      {"login=\t a b ", "pending=|a b |", false},  // leading blanks and tabs only are skipped
      {"login=llllllllllllllllllllllllllllllllllllllll",
       "pending=|llllllllllllllllllllllllllllllll|", false},
      {"password="
       "pppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp",
       "pending=||pppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp", false},
      {"TCPlistenport=  \t2000", "tcp=2000", false},
      {"tcplistenPORT=2000x", "tcp=2000", false},
      {"UDPlistenport=abc", "udp=0", false},
      {"UDPlistenport=7", "udp=7", false},
      {"qzucondebug", "debug=1", false},
      {"localusers=any", "localusers=any", false},
      {"LOCALUSERS= Any \t", "localusers=any", false},
      {"localusers=owner", "", false},
      {"localusers=anybody", "", true},
      {"localusers=", "", true},
      {"journal=on", "journal=1", false},
      {"JOURNAL= Off \t", "journal=2", false},
      {"journal=auto", "journal=0", false},
      {"journal=yes", "", true},
      {"NAME=  eu-main \t", "name=eu-main", false},
      {"journal=", "", true},
      {"QZUCONDEBUG extra", "debug=1", false},
      {"qzuconlog   my file.log \t", "logfn=my file.log", false},
      {"qzuconlog", "", true},
      {"qzuconwrite", "", true},
      {"qzuconexit", "", true},
      {"qzuconlist", "", true},
      {"qzuconactive 1.2.3.4:5", "", true},
      {"nonsense", "", true},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.token));
    resetAppGlobals();
    strzcpy(g_logfn, "main.log", 256);
    testing::internal::CaptureStdout();
    parseInput(r.token);
    std::string out = testing::internal::GetCapturedStdout();
    std::string got = summary();
    std::string want = base;
    if (r.expected[0]) {
      std::string kv = r.expected;
      std::string key = kv.substr(0, kv.find('=') + 1);
      size_t at = want.find(key);
      size_t end = key == "pending=" ? want.find(" servers") : want.find(' ', at);
      want.replace(at, end - at, kv);
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(out.find("QZUCON Help") != std::string::npos, r.help);
    if (r.help) {
      // The usage text, then the one line that names the token.
      EXPECT_EQ(0u, out.find(kUsage)) << out;
      std::string named = out.substr(std::min(out.size(), kUsage.size()));
      EXPECT_EQ(0u, named.find("ERROR: ")) << out;
      const std::string from = " on the command line\n";
      EXPECT_EQ(named.size() - from.size(), named.find(from)) << out;
      EXPECT_EQ(readFile("main.log").find(named), readFile("main.log").size() - named.size());
    }
  }
}

// The line that names a refused token: what it shows of the token, and
// where the token came from.
TEST(TokenFaultLine, NamesTheTokenAndWhereItCameFrom) {
  const tokenFrom file = {"site.ini", 7};
  const struct {
    tokenFault fault;
    const char* token;
    tokenFrom from;
    const char* line;
  } kCases[] = {
      {kTokenUnknown, "pasword=secret", kCommandLine,
       "ERROR: Unknown token \"pasword=\" on the command line\n"},  // a password is no text to log
      {kTokenUnknown, " \t--verbose", file,
       "ERROR: Unknown token \"--verbose\" in site.ini line 7\n"},
      {kTokenUnknown, "qzuconexit", file,
       "ERROR: Unknown token \"qzuconexit\" in site.ini line 7\n"},
      {kTokenBadValue, "journal=yes", kCommandLine,
       "ERROR: Bad value in token \"journal=yes\" on the command line\n"},
      {kTokenBadValue, "localusers= some\x1b[2J", file,
       "ERROR: Bad value in token \"localusers= some?[2J\" in site.ini line 7\n"},
      {kTokenLineBreak, "alert=x:a\nserver=evil:1", kCommandLine,
       "ERROR: Line break in the value of token \"alert=\" on the command line: the token is "
       "ignored\n"},
      {kTokenLineBreak, "qzuconwrite a\rb", file,
       "ERROR: Line break in the value of token \"qzuconwrite a?b\" in site.ini line 7: the "
       "token is ignored\n"},
      {kTokenUnknown, "x123456789012345678901234567890123456789012345678901234567890123456789",
       kCommandLine,
       "ERROR: Unknown token \"x123456789012345678901234567890123456789012345678901234567890123..."
       "\" on the command line\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.token));
    char line[512];
    tokenFaultLine(line, sizeof line, c.fault, c.token, c.from);
    EXPECT_STREQ(c.line, line);
  }
}

// A line feed or carriage return in any keyword's value refuses the whole
// token: written back by qzuconwrite, the rest would be a token of its own
// (a server= from an alert= given on the command line).
TEST_F(ConfigTest, LineBreakInAnyValueIsRefused) {
  for (int i = 0; i < configWordCount(); i++) {
    for (const char* rest : {"x\nserver=evil:1", "\r", "a\rb"}) {
      std::string token = std::string(configWordAt(i)) + rest;
      SCOPED_TRACE(testing::PrintToString(token));
      resetAppGlobals();
      parseInput("server=a:1");
      std::string before = summary();
      testing::internal::CaptureStdout();
      parseInput(token.c_str());
      std::string out = testing::internal::GetCapturedStdout();
      EXPECT_EQ(before, summary());
      EXPECT_EQ(0, g_alerts.count());
      EXPECT_STREQ("", g_tempServer.tags);
      EXPECT_EQ(0u, out.find("ERROR: Line break in the value of token \"")) << out;
      EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(".")) << "qzuconwrite wrote no file";
}

TEST_F(ConfigTest, ServerCommitsAndDropsLogins) {
  const char* tokens[] = {"login=lost", "server=", "server=a:1", "login=one",
                          "password=pw1", "server=b:2", "login=two"};
  for (const char* t : tokens) parseInput(t);
  commitPendingServer();
  ASSERT_EQ(flServer.nodes(), 2);
  EXPECT_STREQ(serverAt(0)->address, "a:1");
  EXPECT_STREQ(serverAt(0)->login, "one");
  EXPECT_STREQ(serverAt(0)->password, "pw1");
  EXPECT_STREQ(serverAt(1)->address, "b:2");
  EXPECT_STREQ(serverAt(1)->login, "two");
  EXPECT_EQ(serverAt(1)->password[0], 0);
  // Every record's header is the magic and 24 zero bytes, and its own seed
  // starts at the default.
  unsigned char want[kHeaderSize] = {0xFF, 0xFF, 0xFF, 0xFF, 'Q', 'Z', '_', 'U'};
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(memcmp(serverAt(i)->header, want, kHeaderSize), 0) << "record " << i;
    EXPECT_EQ(serverAt(i)->rseed, kDefaultSeed) << "record " << i;
  }
  EXPECT_EQ(g_tempServer.address[0], 0);
}

// tag= and alert=: what each sequence of tokens leaves, and the error line
// that names a bad tag or pattern (the console runs on without it).
TEST_F(ConfigTest, TagsAndAlerts) {
  const struct {
    std::vector<const char*> tokens;
    const char* tags;  // the pending server's
    int alerts;
    const char* error;  // what the screen shows, "" for nothing
  } kCases[] = {
      {{"server=a:1", "tag=eu,pvp"}, "eu,pvp", 0, ""},
      {{"server=a:1", "TAG= eu", "tag=pvp , eu"}, "eu,pvp", 0, ""},
      {{"tag=eu"}, "", 0, "ERROR: tag=eu: no server= before it\n"},
      {{"server=a:1", "tag="}, "", 0, "ERROR: Bad tag \"\" for server a:1: an empty tag\n"},
      {{"server=a:1", "tag=eu,e u"},
       "",
       0,
       "ERROR: Bad tag \"e u\" for server a:1: a tag is letters, digits, '-' and '_'\n"},
      {{"server=a:1", "tag=a,b,c,d,e,f,g,h", "tag=i"},
       "a,b,c,d,e,f,g,h",
       0,
       "ERROR: Bad tag \"i\" for server a:1: a server has at most 8 tags\n"},
      {{"alert=bad:dro+p", "Alert= oom:out of memory"}, "", 2, ""},
      {{"alert=bad:(dro+p"}, "", 0, "ERROR: Bad alert \"bad:(dro+p\": "},
      {{"alert=nocolon"}, "", 0, "ERROR: Bad alert \"nocolon\": give alert=NAME:REGEX\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.tokens));
    resetAppGlobals();
    testing::internal::CaptureStdout();
    for (const char* t : c.tokens) parseInput(t);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_STREQ(c.tags, g_tempServer.tags);
    EXPECT_EQ(c.alerts, g_alerts.count());
    EXPECT_EQ(0u, out.find(c.error)) << out;
    EXPECT_EQ(c.error[0] == 0, out.empty()) << out;
    EXPECT_EQ(std::string::npos, out.find("QZUCON Help"));
  }
}

// name= wins; then the file of ini= names the console (qzucon@site reads
// /etc/qzucon/site.ini); then its own port.
TEST(ConsoleName, GivenElseIniFileElsePort) {
  const struct {
    const char* given;
    const char* ini;
    const char* myaddr;
    const char* name;
  } kRows[] = {
      {"eu-main", "/etc/qzucon/site.ini", "127.0.0.1:24350", "eu-main"},
      {"", "/etc/qzucon/site.ini", "127.0.0.1:24350", "site"},
      {"", "site.v2.ini", "127.0.0.1:24350", "site.v2"},
      {"", "conf/fleet", "127.0.0.1:24350", "fleet"},
      {"", "/etc/qzucon/.hidden", "127.0.0.1:24350", ".hidden"},
      {"", "/etc/qzucon/", "127.0.0.1:24350", "24350"},
      {"", nullptr, "127.0.0.1:24350 ", "24350"},
      {"", nullptr, "", ""},
      {"", "/etc/qzucon/a-very-long-name-of-a-console-file-that-goes-on-and-on-and-on-for-ever.ini",
       "", "a-very-long-name-of-a-console-file-that-goes-on-and-on-and-on-fo"},
  };
  for (const auto& r : kRows) {
    char out[kConsoleNameChars + 1];
    consoleNameFor(r.given, r.ini, r.myaddr, out);
    EXPECT_STREQ(out, r.name) << (r.ini ? r.ini : "(no ini=)");
  }
}

TEST_F(ConfigTest, WriteiniRoundTrip) {
  const char* tokens[] = {"qzuconlog  console.log ",
                          "TCPlistenport=2001",
                          "UDPlistenport=2002",
                          "localusers=any",
                          "journal=off",
                          "myaddr=127.0.0.1:24350",
                          "server=127.0.0.1:28100",
                          "login=admin",
                          "password=se cret%s",
                          "tag=eu,pvp",
                          "alert=bad:(dro+p)$",
                          "on=bad:say \\1 it",
                          "oncooldown=2.5",
                          "server=host.example:1",
                          "login=",
                          "password=x"};
  for (const char* t : tokens) parseInput(t);
  commitPendingServer();
  testing::internal::CaptureStdout();
  parseInput("qzuconwrite   saved.ini");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Configuration written to file: saved.ini\n");
  EXPECT_EQ(readFile("saved.ini"),
            "qzuconlog console.log\nTCPlistenPort=2001\nUDPlistenPort=2002\nlocalusers=any\n"
            "myaddr=127.0.0.1:24350\njournal=off\nalert=bad:(dro+p)$\non=bad:say \\1 it\n"
            "oncooldown=2.5\n;List of Servers\n"
            "server=127.0.0.1:28100\nlogin=admin\npassword=se cret%s\ntag=eu,pvp\n\n"
            "server=host.example:1\nlogin=\npassword=x\n\n");
  struct stat st;
  ASSERT_EQ(stat("saved.ini", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new file holding passwords is private";

  // Read it back line by line, as start-up does, into a fresh configuration.
  std::string text = readFile("saved.ini");
  resetAppGlobals();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    parseInput(text.substr(pos, nl - pos).c_str());
    pos = nl + 1;
  }
  commitPendingServer();
  EXPECT_STREQ(g_logfn, "console.log");
  EXPECT_EQ(g_TCPlistenport, 2001u);
  EXPECT_EQ(g_UDPlistenport, 2002u);
  EXPECT_EQ(g_localusers, kLocalUsersAny);
  EXPECT_EQ(g_journal.mode, kJournalOff);
  EXPECT_STREQ(g_myaddr, "127.0.0.1:24350");
  ASSERT_EQ(flServer.nodes(), 2);
  EXPECT_STREQ(serverAt(0)->password, "se cret%s");
  EXPECT_STREQ(serverAt(1)->address, "host.example:1");
  EXPECT_STREQ(serverAt(0)->tags, "eu,pvp");
  EXPECT_STREQ(serverAt(1)->tags, "");
  ASSERT_EQ(g_alerts.count(), 1);
  EXPECT_STREQ(g_alerts.source(0), "(dro+p)$");
  ASSERT_EQ(g_triggers.count(), 1);
  EXPECT_STREQ(g_triggers.command(0), "say \\1 it");
  EXPECT_EQ(g_triggers.cooldownMs(), 2500u);
}

// The control socket keyword is written back only when it is not the
// default, so that a written configuration keeps following the default; the
// metrics file only when there is one.
TEST_F(ConfigTest, WriteiniWritesOptionalTokensOnlyWhenSet) {
  const struct {
    const char* token;
    const char* keyword;
    const char* written;
  } kRows[] = {
      {nullptr, "controlsocket=", ""},
      {"controlsocket=on", "controlsocket=", ""},
      {"controlsocket= On ", "controlsocket=", ""},
      {"controlsocket=off", "controlsocket=", "controlsocket=off\n"},
      {"controlsocket=/run/ops/console.sock",
       "controlsocket=", "controlsocket=/run/ops/console.sock\n"},
      {nullptr, "metrics=", ""},
      {"name=eu-main", "name=", "name=eu-main\n"},
      {nullptr, "name=", ""},
      {"METRICS=  /var/lib/qzucon/metrics/qzucon.prom",
       "metrics=", "metrics=/var/lib/qzucon/metrics/qzucon.prom\n"},
  };
  for (const auto& r : kRows) {
    SCOPED_TRACE(r.token ? r.token : "(none)");
    resetAppGlobals();
    parseInput("myaddr=127.0.0.1:24350");
    if (r.token) parseInput(r.token);
    testing::internal::CaptureStdout();
    writeini("saved.ini");
    testing::internal::GetCapturedStdout();
    std::string text = readFile("saved.ini");
    size_t at = text.find(r.keyword);
    std::string line = at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at + 1);
    EXPECT_EQ(line, r.written);
  }
}

TEST_F(ConfigTest, WriteiniKeepsModeAndDefaultsName) {
  {
    std::ofstream f("qzucon.ini");
    f << "old\n";
  }
  chmod("qzucon.ini", 0644);
  testing::internal::CaptureStdout();
  writeini("   ");
  testing::internal::GetCapturedStdout();
  struct stat st;
  ASSERT_EQ(stat("qzucon.ini", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(readFile("qzucon.ini"), "qzuconlog main.log\nmyaddr=\n;List of Servers\n");
}

TEST_F(ConfigTest, WriteiniReportsAFileItCannotWrite) {
  testing::internal::CaptureStdout();
  writeini("no/such/folder/x.ini");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Unable to write configuration file: no/such/folder/x.ini\n");
}

TEST_F(ConfigTest, WriteiniTurnsBackslashesIntoSlashes) {
  ASSERT_EQ(0, mkdir("cfg", 0700));
  testing::internal::CaptureStdout();
  writeini("cfg\\w.ini");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Configuration written to file: cfg\\w.ini\n");
  EXPECT_EQ(readFile("cfg/w.ini"), "qzuconlog main.log\nmyaddr=\n;List of Servers\n");
  EXPECT_FALSE(std::filesystem::exists("cfg\\w.ini"));
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator("cfg"),
                              std::filesystem::directory_iterator()))
      << "the temporary file went into cfg/ and was renamed there";
}

// Names in the test's folder, to show that nothing is left behind.
std::string folderNames() {
  std::string names;
  for (const auto& e : std::filesystem::directory_iterator(".")) {
    names += e.path().filename().string() + " ";
  }
  return names;
}

TEST_F(ConfigTest, WriteiniFailingMidwayLeavesTheOldFileWhole) {
  const std::string old = "qzuconlog old.log\nmyaddr=127.0.0.1:1\n;List of Servers\n";
  {
    std::ofstream f("qzucon.ini", std::ios::binary);
    f << old;
  }
  chmod("qzucon.ini", 0640);
  // 41 servers make a file of more than 4096 bytes.
  for (int i = 0; i < 41; i++) {
    parseInput(("server=192.0.2." + std::to_string(i) + ":28100").c_str());
    parseInput("login=admin");
    parseInput(("password=" + std::string(64, 'a' + i % 26)).c_str());
  }
  commitPendingServer();
  // Writes past 4096 bytes fail with EFBIG, as on a full disk.
  struct rlimit saved, small;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  small = saved;
  small.rlim_cur = 4096;
  void (*oldXfsz)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  testing::internal::CaptureStdout();
  writeini("qzucon.ini");
  std::string out = testing::internal::GetCapturedStdout();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldXfsz);

  EXPECT_EQ(out, "ERROR: Unable to write configuration file: qzucon.ini\n");
  EXPECT_EQ(readFile("qzucon.ini"), old);
  struct stat st;
  ASSERT_EQ(stat("qzucon.ini", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(folderNames().find("qzucon.ini."), std::string::npos) << "temporary file left behind";

  // Without the limit the same configuration is written whole, mode kept.
  testing::internal::CaptureStdout();
  writeini("qzucon.ini");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Configuration written to file: qzucon.ini\n");
  EXPECT_GT(readFile("qzucon.ini").size(), 4096u);
  EXPECT_NE(std::string::npos, readFile("qzucon.ini").find("server=192.0.2.40:28100\n"));
  ASSERT_EQ(stat("qzucon.ini", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ConfigTest, WriteiniReplacesASymlinkInsteadOfFollowingIt) {
  {
    std::ofstream f("victim", std::ios::binary);
    f << "not a configuration\n";
  }
  chmod("victim", 0644);
  ASSERT_EQ(0, symlink("victim", "link.ini"));
  ASSERT_EQ(0, symlink("nowhere/dangling", "dangling.ini"));
  parseInput("password=secret");  // none of it may reach another file
  testing::internal::CaptureStdout();
  writeini("link.ini");
  writeini("dangling.ini");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(readFile("victim"), "not a configuration\n");
  for (const char* name : {"link.ini", "dangling.ini"}) {
    SCOPED_TRACE(name);
    struct stat st;
    ASSERT_EQ(lstat(name, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readFile(name), "qzuconlog main.log\nmyaddr=\n;List of Servers\n");
  }
}

// A file another user planted at the name, readable by all, must not make
// the passwords readable by all.
TEST_F(ConfigTest, WriteiniOverAnotherUsersFileIsPrivate) {
  {
    std::ofstream f("planted.ini", std::ios::binary);
    f << "planted\n";
  }
  chmod("planted.ini", 0644);
  if (chown("planted.ini", 65534, 65534) != 0) GTEST_SKIP() << "only root can hand a file over";
  parseInput("password=secret");
  testing::internal::CaptureStdout();
  writeini("planted.ini");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Configuration written to file: planted.ini\n");
  struct stat st;
  ASSERT_EQ(lstat("planted.ini", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_uid, geteuid());
}

// A write cut short leaves its temporary file, passwords and all: the next
// write of the same name clears the user's own, and only those.
TEST_F(ConfigTest, WriteiniRemovesTheLeftoversOfAWriteCutShort) {
  ASSERT_EQ(0, mkdir("cfg", 0700));
  const char* const kMine[] = {"qzucon.ini.a1B2c3", "cfg/w.ini.XyZ789"};
  const char* const kKept[] = {"qzucon.ini.a1B2c",  "qzucon.ini.a1B2c3d", "qzucon.ini.a1-2c3",
                               "other.ini.a1B2c3", "qzucon.ini", "w.ini.XyZ789"};
  for (const char* name : kMine) std::ofstream(name) << "password=old\n";
  for (const char* name : kKept) std::ofstream(name) << "kept\n";
  std::ofstream("qzucon.ini.s7r4ng") << "theirs\n";
  bool handedOver = chown("qzucon.ini.s7r4ng", 65534, 65534) == 0;
  testing::internal::CaptureStdout();
  writeini("qzucon.ini");
  writeini("cfg/w.ini");
  testing::internal::GetCapturedStdout();
  struct stat st;
  for (const char* name : kMine) EXPECT_NE(0, lstat(name, &st)) << name;
  for (const char* name : kKept) EXPECT_EQ(0, lstat(name, &st)) << name;
  if (handedOver) {
    EXPECT_EQ(0, lstat("qzucon.ini.s7r4ng", &st)) << "another user's file stays";
  }
}

// The words the documents offer, lower case and without the blank that ends
// "qzuconlog " and "qzuconwrite ".
std::string plainWord(std::string w) {
  while (!w.empty() && w.back() == ' ') w.pop_back();
  for (char& c : w) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return w;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The completion's token candidates: the words of the _qzucon_matches call in
// _qzucon_tokens, over its continued lines.
std::set<std::string> completionWords(const std::string& text) {
  const std::string call = "_qzucon_matches \"$cur\" ";
  size_t at = text.find(call, text.find("_qzucon_tokens() {"));
  std::set<std::string> words;
  if (at == std::string::npos) return words;
  std::string rest = text.substr(at + call.size());
  std::istringstream in(rest);
  for (std::string w; in >> w && w != "[[";) {
    if (w != "\\") words.insert(plainWord(w));
  }
  return words;
}

// The manual page's tokens: the tag of each item of its CONFIGURATION
// section up to "File format", to the '=' or the end of the word.
std::set<std::string> manPageWords(const std::string& text) {
  std::istringstream in(text.substr(text.find(".SH CONFIGURATION")));
  std::set<std::string> words;
  bool item = false;
  for (std::string line; std::getline(in, line) && line.rfind(".SS", 0) != 0;) {
    if (item) {
      std::string w = line.substr(line.find(' ') + 1);
      if (!w.empty() && w[0] == '"') w.erase(0, 1);
      size_t eq = w.find('=');
      size_t end = eq != std::string::npos ? eq + 1 : w.find_first_of(" \"\\");
      words.insert(plainWord(w.substr(0, end)));
    }
    item = line == ".TP";
  }
  return words;
}

// A token added to the configuration must reach the completion and the
// manual page too, or this fails naming it.
TEST_F(ConfigTest, DocumentsListEveryToken) {
  std::set<std::string> table;
  for (int i = 0; i < configWordCount(); i++) table.insert(plainWord(configWordAt(i)));
  std::string doc = QZUCON_DOC_DIR;
  EXPECT_EQ(table, completionWords(fileText(doc + "/bash-completion/qzucon")));
  EXPECT_EQ(table, manPageWords(fileText(doc + "/qzucon.1")));
  // qzucon --help: the usage text, then a line for every word it lacks.
  testing::internal::CaptureStdout();
  showFullHelp();
  std::string help = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, help.find(kUsage)) << help;
  std::set<std::string> listed;
  std::istringstream in(help);
  for (std::string line; std::getline(in, line);) {
    std::string w = line.substr(1, line.find_first_of(" [(", 1) - 1);
    listed.insert(
        plainWord(w.substr(0, w.find('=') == std::string::npos ? w.size() : w.find('=') + 1)));
  }
  for (const std::string& w : table) EXPECT_EQ(1u, listed.count(w)) << w << " is not in --help";
  EXPECT_EQ(1u, listed.count("--help"));
  EXPECT_EQ(1u, listed.count("--version"));
  EXPECT_EQ(1u, listed.count("--check"));
}

}  // namespace
