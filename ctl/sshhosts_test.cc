#include "ctl/sshhosts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ctl/answer.h"
#include "runtime/files.h"
#include "runtime/spawn.h"

namespace {

TEST(SshHosts, ListsRead) {
  const struct {
    const char* list;
    int count;
    const char* user;  // of the last host
    const char* name;
    const char* port;
    const char* shown;
  } rows[] = {
      {"h1", 1, "", "h1", "", "h1"},
      {"ssh://ops@db-2.example.org:2222", 1, "ops", "db-2.example.org", "2222",
       "ops@db-2.example.org:2222"},
      {"h1,ssh://127.1.2.2", 2, "", "127.1.2.2", "", "127.1.2.2"},
      {"a@[::1]:22", 1, "a", "::1", "22", "a@[::1]:22"},
  };
  for (const auto& row : rows) {
    sshHost hosts[kCtlMaxHosts];
    char err[128] = "";
    ASSERT_EQ(parseHosts(row.list, hosts, kCtlMaxHosts, err, sizeof err), row.count)
        << row.list << ": " << err;
    const sshHost& h = hosts[row.count - 1];
    EXPECT_STREQ(h.user, row.user) << row.list;
    EXPECT_STREQ(h.name, row.name) << row.list;
    EXPECT_STREQ(h.port, row.port) << row.list;
    EXPECT_STREQ(h.shown, row.shown) << row.list;
  }
}

TEST(SshHosts, ListsRefused) {
  const char* bad[] = {
      "",
      "h1,",
      ",h1",
      "ssh://",
      "-oProxyCommand=x",  // ssh would read it as an option
      "h;rm -rf x",
      "h$(id)",
      "h`id`",
      "h 1",
      "h'1",
      "h\n",
      "h|x",
      "h>x",
      "-u@h",
      "u;x@h",
      "@h",
      "a@b@c",
      "h:",
      "h:0",
      "h:65536",
      "h:22x",
      "h:-1",
      "[::1",
      "[x]",
      "[::1]x",
      "a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q",  // more than kCtlMaxHosts
  };
  for (const char* list : bad) {
    sshHost hosts[kCtlMaxHosts];
    char err[128] = "";
    EXPECT_EQ(parseHosts(list, hosts, kCtlMaxHosts, err, sizeof err), -1) << list;
    EXPECT_NE(err[0], 0) << list;
  }
}

TEST(SshHosts, FromTheOptionOrTheEnvironmentAndNeverForTop) {
  sshHost hosts[kCtlMaxHosts];
  char err[128] = "";
  ctlArgs a;
  a.command = kCmdStatus;
  EXPECT_EQ(hostsOfArgs(a, nullptr, hosts, kCtlMaxHosts, err, sizeof err), 0);
  EXPECT_EQ(hostsOfArgs(a, "", hosts, kCtlMaxHosts, err, sizeof err), 0) << "set but empty: unset";
  EXPECT_EQ(hostsOfArgs(a, "e1,e2", hosts, kCtlMaxHosts, err, sizeof err), 2);
  a.hosts = "h1";
  ASSERT_EQ(hostsOfArgs(a, "e1,e2", hosts, kCtlMaxHosts, err, sizeof err), 1) << "-H wins";
  EXPECT_STREQ(hosts[0].name, "h1");
  a.command = kCmdTop;
  EXPECT_EQ(hostsOfArgs(a, nullptr, hosts, kCtlMaxHosts, err, sizeof err), -1);
  EXPECT_NE(std::string(err).find("top"), std::string::npos) << err;
  a.hosts = nullptr;
  EXPECT_EQ(hostsOfArgs(a, "e1", hosts, kCtlMaxHosts, err, sizeof err), -1);
  EXPECT_EQ(hostsOfArgs(a, nullptr, hosts, kCtlMaxHosts, err, sizeof err), 0);
}

TEST(SshHosts, ShellQuoting) {
  const struct {
    const char* arg;
    const char* quoted;
  } rows[] = {
      {"", "''"},
      {"status", "'status'"},
      {"say it's", "'say it'\\''s'"},
      {"'", "''\\'''"},
      {"$(rm -rf ~) `id` ; & | > \\ \" * ?", "'$(rm -rf ~) `id` ; & | > \\ \" * ?'"},
      {"tab\there", "'tab\there'"},
  };
  for (const auto& row : rows) {
    char out[128];
    ASSERT_TRUE(shellQuote(row.arg, out, sizeof out)) << row.arg;
    EXPECT_STREQ(out, row.quoted) << row.arg;
  }
  char small[6];
  EXPECT_FALSE(shellQuote("abcd", small, sizeof small));
  EXPECT_STREQ(small, "");
  EXPECT_TRUE(shellQuote("abc", small, sizeof small));
}

// What a real shell makes of the quoted text: the argument back, byte for
// byte, whatever it holds.
TEST(SshHosts, TheShellReadsTheQuotedArgumentBack) {
  const char* args[] = {"it's",
                        "''",
                        "a\\'b",
                        "$(touch /tmp/qzucon-quoted) `x` $HOME ${X}",
                        "a;b|c&d>e<f",
                        "* ? [a] ~ # !",
                        " lead and trail ",
                        "tab\tquote\"",
                        "-n"};
  for (const char* arg : args) {
    char quoted[256];
    ASSERT_TRUE(shellQuote(arg, quoted, sizeof quoted));
    std::string script = std::string("printf '%s' ") + quoted;
    const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
    int out = -1, err = -1;
    int pid = trSpawn(argv, &out, &err);
    ASSERT_GT(pid, 0);
    std::string got;
    char buf[256];
    int n;
    while ((n = trFileRead(out, buf, sizeof buf)) > 0) got.append(buf, n);
    trFileClose(out);
    trFileClose(err);
    int status = 0;
    ASSERT_EQ(trWaitChild(pid, &status, false), pid);
    EXPECT_EQ(trExitCode(status), 0) << arg;
    EXPECT_EQ(got, arg) << quoted;
  }
}

TEST(SshHosts, RemoteCommandLeavesOutTheHostsOnly) {
  const char* argv[] = {"qzuconctl", "-S", "/run/q s.sock", "-H", "h1,h2",
                        "send",      "-a", "say 'hi'"};
  char out[256];
  ASSERT_TRUE(remoteCommand(8, argv, 3, out, sizeof out));
  EXPECT_STREQ(out,
               "env QZUCON_HOST= qzuconctl '-S' '/run/q s.sock' 'send' '-a' 'say '\\''hi'\\'''");
  ASSERT_TRUE(remoteCommand(3, argv + 5, 0, out, sizeof out))
      << "from QZUCON_HOST: nothing left out";
  EXPECT_STREQ(out, "env QZUCON_HOST= qzuconctl '-a' 'say '\\''hi'\\'''");
  char small[40];
  EXPECT_FALSE(remoteCommand(8, argv, 3, small, sizeof small));
}

TEST(SshHosts, SshArgvEndsOptionsBeforeTheHost) {
  sshHost hosts[2];
  char err[64];
  ASSERT_EQ(parseHosts("ops@h1:2222,h2", hosts, 2, err, sizeof err), 2);
  const char* argv[kSshArgs];
  auto joined = [&]() {
    std::string s;
    for (int i = 0; argv[i]; i++) s += std::string(i ? " " : "") + argv[i];
    return s;
  };
  sshArgv(hosts[0], "CMD", argv);
  EXPECT_EQ(joined(), "ssh -o BatchMode=yes -T -l ops -p 2222 -- h1 CMD");
  sshArgv(hosts[1], "CMD", argv);
  EXPECT_EQ(joined(), "ssh -o BatchMode=yes -T -- h2 CMD");
}

TEST(SshHosts, JsonLinesCarryTheHostFirst) {
  const struct {
    const char* line;
    const char* out;
  } rows[] = {
      {"{\"server\":\"1.2.3.4:5\"}", "{\"host\":\"h1\",\"server\":\"1.2.3.4:5\"}"},
      {"{}", "{\"host\":\"h1\"}"},
      {"{ }", "{\"host\":\"h1\"}"},
      {"not json", "not json"},
      {"", ""},
  };
  for (const auto& row : rows) {
    char out[128];
    jsonWithHost(row.line, "h1", out, sizeof out);
    EXPECT_STREQ(out, row.out) << row.line;
  }
}

// feed: the chunks as reads bring them, then the lines taken, "|" between
// them, the stream's end last.
std::string lines(std::vector<std::string> chunks) {
  hostStream s;
  std::string got;
  char line[256];
  for (size_t i = 0; i <= chunks.size(); i++) {
    bool ended = i == chunks.size();
    if (!ended) {
      memcpy(s.buf + s.len, chunks[i].data(), chunks[i].size());
      streamAdd(&s, static_cast<int>(chunks[i].size()));
    }
    while (streamLine(&s, ended, line, sizeof line)) got += std::string(line) + "|";
  }
  return got;
}

TEST(SshHosts, StreamLines) {
  EXPECT_EQ(lines({"a\nb", "c\n"}), "a|bc|");
  EXPECT_EQ(lines({"a\nanswer cut"}), "a|answer cut|") << "the last line without its newline";
  EXPECT_EQ(lines({"ssh: refused\r\n"}), "ssh: refused|");
  EXPECT_EQ(lines({"ssh: refused\r", "\nnext\n"}), "ssh: refused|next|") << "split between reads";
  EXPECT_EQ(lines({"a\rb\n\r"}), "a?b|?|") << "a lone \\r is a control byte";
  EXPECT_EQ(lines({"\x1b]0;t\x07\n"}), "?]0;t?|");
  EXPECT_EQ(lines({}), "");
  std::string full(sizeof(hostStream{}.buf), 'x');
  EXPECT_EQ(lines({full, "y\n"}), std::string(255, 'x') + "|y|")
      << "a full buffer is taken as a line";
}

TEST(SshHosts, HostStatuses) {
  EXPECT_EQ(hostStatus(kCtlOk), kCtlOk);
  EXPECT_EQ(hostStatus(kCtlStopped), kCtlStopped);
  EXPECT_EQ(hostStatus(kCtlNoAnswer), kCtlNoAnswer);
  for (int code : {kSshFailed, kShellNotFound, -1, 12, 126})
    EXPECT_EQ(hostStatus(code), kCtlError) << code;
}

}  // namespace
