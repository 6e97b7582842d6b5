// The configuration read again while the console runs (qzuconctl reload)
// and checked without running (qzucon --check), with stand-in servers
// talking throughout.
#include <string>
#include <vector>

#include "support/e2e_harness.h"

namespace {

class ReloadTest : public e2eTest {
 protected:
  void SetUp() override {
    e2eTest::SetUp();
    sock_ = dir_ + "/ctl.sock";
    ini_ = dir_ + "/site.ini";
  }
  static std::string entry(const runProc* s, const std::string& extra = "",
                           const std::string& password = "pw") {
    return "server=" + addr(s) + "\nlogin=admin\npassword=" + password + "\n" + extra;
  }
  // The file name of a server's own log, as the console makes it.
  static std::string logOf(const runProc* s) {
    return "127_0_0_1_" + std::to_string(portOf(s)) + ".log";
  }
  runProc* console() {
    return startConsole({"myaddr=127.0.0.1:" + std::to_string(consolePort_),
                         "controlsocket=" + sock_, "ini=" + ini_});
  }
  std::string sock_, ini_;
};

TEST_F(ReloadTest, AddedRemovedRetaggedAndKeptServers) {
  runProc* kept = startStandin("pw", {"--rate", "10"});
  runProc* retagged = startStandin("pw", {"--rate", "10"});
  runProc* removed = startStandin("pw", {"--rate", "10"});
  runProc* added = startStandin("pw", {"--rate", "10"});
  runProc* rotated = startStandin("new", {"--rate", "10"});
  ASSERT_TRUE(kept && retagged && removed && added && rotated) << dump();
  ASSERT_TRUE(writeFile("site.ini", entry(kept) + entry(retagged, "tag=old\n") + entry(removed) +
                                        entry(rotated, "", "old") + "alert=many:line [0-9]+0$\n"));
  runProc* c = console();
  ASSERT_NE(nullptr, c) << dump();
  for (runProc* s : {kept, retagged, removed}) {
    ASSERT_TRUE(waitFor(c, "->qzstandin " + addr(s) + " line 3\n")) << dump();
  }

  // A follower of the kept server, from before the reload.
  runProc* follower = startCtl({"-S", sock_, "follow", "-s", addr(kept)});
  ASSERT_TRUE(waitFor(follower, addr(kept) + " ->qzstandin " + addr(kept) + " line ")) << dump();
  ASSERT_TRUE(writeFile("site.ini", entry(kept) + entry(retagged, "tag=newtag\n") + entry(added) +
                                        entry(rotated, "", "new") + "alert=many:line [0-9]+0$\n"));
  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"-S", sock_, "reload"}, &ctl)) << dump();
  EXPECT_EQ("reloaded: 1 added, 1 removed, 1 changed, 2 kept\n", ctl->out);
  ASSERT_TRUE(waitFor(c, "Configuration reloaded by uid ")) << dump();

  // The added server is challenged and talks; the removed one got the exit
  // notice the console sends at its end.
  ASSERT_TRUE(waitFor(c, "->qzstandin " + addr(added) + " line 3\n")) << dump();
  // The rotated password: its session starts again, under the right key.
  ASSERT_TRUE(waitFor(c, "->qzstandin " + addr(rotated) + " line 3\n")) << dump();
  ASSERT_TRUE(waitFor(removed, "exit console=", kStderr)) << dump();
  std::string removedLog = readFile(logOf(removed));
  // The kept server: one challenge in all, its lines numbered on without a
  // restart, and its lines still come after the reload.
  ASSERT_TRUE(waitFor(c, "->qzstandin " + addr(added) + " line 20\n")) << dump();
  EXPECT_EQ(1, countOf(kept->err, "challenge console=")) << dump();
  EXPECT_EQ(1, countOf(c->out, addr(kept) + " line 1\n")) << dump();
  EXPECT_EQ(removedLog, readFile(logOf(removed)));  // its file stopped at the reload
  // The follower goes on with the kept server's lines, and only with them.
  size_t had = follower->out.size();
  ASSERT_TRUE(waitFor(follower, addr(kept) + " line ", kStdout,
                      countOf(follower->out, addr(kept) + " line ") + 5))
      << dump();
  EXPECT_EQ(0, countOf(follower->out.substr(had), addr(added))) << follower->out;
  EXPECT_EQ(0, countOf(c->out, addr(removed) + " line 40\n"));

  ASSERT_EQ(0, runCtl({"-S", sock_, "status", "-t", "newtag"}, &ctl)) << dump();
  EXPECT_EQ(1, countOf(ctl->out, "status " + addr(retagged) + ":")) << ctl->out;
  EXPECT_EQ(1, countOf(ctl->out, "status ")) << ctl->out;

  // What qzuconwrite writes is what runs now.
  ASSERT_EQ(0, runCtl({"-S", sock_, "do", "qzuconwrite " + dir_ + "/now.ini"}, &ctl)) << dump();
  std::string now = readFile("now.ini");
  EXPECT_NE(std::string::npos, now.find("server=" + addr(added) + "\n")) << now;
  EXPECT_EQ(std::string::npos, now.find(addr(removed))) << now;
  EXPECT_NE(std::string::npos, now.find("tag=newtag\n")) << now;
  EXPECT_NE(std::string::npos, now.find("alert=many:line [0-9]+0$\n")) << now;
}

TEST_F(ReloadTest, ABadConfigurationIsRefusedWholeAndNothingChanges) {
  runProc* s = startStandin("pw", {"--rate", "5"});
  runProc* other = startStandin("pw", {"--rate", "5"});
  ASSERT_TRUE(s && other) << dump();
  ASSERT_TRUE(writeFile("site.ini", entry(s, "tag=one\n")));
  runProc* c = console();
  ASSERT_NE(nullptr, c) << dump();
  ASSERT_TRUE(waitFor(c, "->qzstandin " + addr(s) + " line 2\n")) << dump();

  struct badCase {
    const char* label;
    std::string text;   // the file's new text; "" = the file removed
    std::string named;  // in the error
  };
  const badCase cases[] = {
      {"bad alert rule", entry(other) + entry(s, "tag=two\n") + "alert=broken:(x\n",
       ini_ + " line 8: Bad alert \"broken:(x\""},
      {"server listed twice", entry(other) + entry(other),
       "server=" + addr(other) + ": listed twice"},
      {"no servers", "; nothing here\n", "No Servers Configured"},
      {"unknown token", entry(other) + "sever=1.2.3.4:5\n", ini_ + " line 4"},
      {"file gone", "", ini_ + ": Unable to read configuration file"},
  };
  for (const badCase& b : cases) {
    SCOPED_TRACE(b.label);
    if (b.text.empty()) {
      ASSERT_EQ(0, ::unlink(ini_.c_str()));
    } else {
      ASSERT_TRUE(writeFile("site.ini", b.text));
    }
    runProc* ctl = nullptr;
    EXPECT_EQ(8, runCtl({"-S", sock_, "reload"}, &ctl)) << dump();
    EXPECT_NE(std::string::npos, ctl->err.find(b.named)) << ctl->err;
    ASSERT_EQ(0, runCtl({"-S", sock_, "status"}, &ctl)) << dump();
    EXPECT_EQ(1, countOf(ctl->out, "status ")) << ctl->out;
    EXPECT_EQ(1, countOf(ctl->out, "status " + addr(s) + ":")) << ctl->out;
    EXPECT_NE(std::string::npos, ctl->out.find(", tags one\n")) << ctl->out;
  }
  // A folder where the file was.
  ASSERT_EQ(0, ::mkdir(ini_.c_str(), 0700));
  runProc* ctl = nullptr;
  EXPECT_EQ(8, runCtl({"-S", sock_, "reload", "--json"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos, ctl->out.find("\"reloaded\":false")) << ctl->out;
  EXPECT_NE(std::string::npos, ctl->out.find("Is a directory")) << ctl->out;
  ASSERT_TRUE(waitFor(c, "ERROR: Configuration reload by uid ")) << dump();
  ASSERT_EQ(0, runCtl({"-S", sock_, "metrics"}, &ctl)) << dump();
  size_t at = ctl->out.find("\nqzucon_config_last_reload_successful{");
  ASSERT_NE(std::string::npos, at) << ctl->out;
  EXPECT_EQ("} 0\n", ctl->out.substr(ctl->out.find('\n', at + 1) - 3, 4)) << ctl->out;
  // The running server never noticed.
  EXPECT_EQ(1, countOf(s->err, "challenge console=")) << dump();
  EXPECT_EQ(0, countOf(s->err, "exit console=")) << dump();
}

TEST_F(ReloadTest, CheckReadsTheConfigurationAndRunsNothing) {
  ASSERT_TRUE(writeFile("good.ini", "server=127.0.0.1:9\nlogin=a\npassword=b\nalert=x:y\n"));
  ASSERT_TRUE(writeFile("bad.ini", "server=127.0.0.1:9\ntag=bad tag\nalert=x:(\n"));
  struct checkCase {
    const char* label;
    std::string ini;
    int status;
    std::string said;
  };
  const checkCase cases[] = {
      {"good", dir_ + "/good.ini", 0,
       "qzucon: the configuration is good: 1 server, 1 alert rule, from " + dir_ + "/good.ini\n"},
      {"bad", dir_ + "/bad.ini", 6, dir_ + "/bad.ini line 3: Bad alert \"x:(\""},
      {"missing", dir_ + "/none.ini", 6, dir_ + "/none.ini: Unable to read configuration file"},
  };
  for (const checkCase& k : cases) {
    SCOPED_TRACE(k.label);
    runProc* p = startConsole({"myaddr=127.0.0.1:" + std::to_string(consolePort_), "--check",
                               "ini=" + k.ini, "controlsocket=" + sock_});
    ASSERT_NE(nullptr, p);
    ASSERT_TRUE(waitExit(p)) << dump();
    EXPECT_EQ(k.status, WEXITSTATUS(p->status)) << dump();
    EXPECT_NE(std::string::npos, (k.status ? p->err : p->out).find(k.said)) << dump();
  }
  // No log file, no socket: nothing but what was there.
  EXPECT_EQ("", readFile("qzucon.log"));
  EXPECT_EQ("", readFile("ctl.sock"));
}

}  // namespace
