// Scripts driving a running console through its control socket with
// qzuconctl: commands to one server or all with the answers printed, the
// status view, following lines, ending the console, the exit statuses, and
// a socket left behind by a killed console.
#include <signal.h>
#include <sys/stat.h>

#include <set>
#include <string>

#include "runtime/clock.h"
#include "runtime/sock.h"
#include "runtime/unixsock.h"
#include "support/e2e_harness.h"
#include "support/scopedenv.h"

namespace {

class ControlTest : public e2eTest {
 protected:
  void SetUp() override {
    e2eTest::SetUp();
    sock_ = dir_ + "/ctl.sock";
  }
  // A console on the test's own socket path, its sessions with every
  // stand-in up (each greeting shown).
  runProc* consoleFor(const std::vector<runProc*>& standins) {
    std::vector<std::string> passwords(standins.size(), "pw");
    std::vector<std::string> tokens = consoleTokens(standins, passwords);
    tokens.push_back("controlsocket=" + sock_);
    return startConsoleGreeted(tokens, standins);
  }
  std::string sock_;
};

TEST_F(ControlTest, SendToOneServerPrintsItsAnswerAndLeavesTheActiveServer) {
  runProc* a = startStandin("pw", {"--rate", "0"});
  runProc* b = startStandin("pw", {"--rate", "0"});
  ASSERT_TRUE(a && b) << dump();
  runProc* console = consoleFor({a, b});
  ASSERT_NE(nullptr, console) << dump();
  type(console, "qzuconactive " + addr(a) + "\n");
  ASSERT_TRUE(waitFor(console, "Active Server: " + addr(a))) << dump();

  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"-S", sock_, "send", "-s", addr(b), "-w", "2", "status"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos, ctl->out.find(addr(b) + " ->echo: status\n")) << dump();
  EXPECT_EQ(1, countOf(b->err, "text=status")) << dump();

  // What is typed still goes to the active server, and only there.
  type(console, "typed-line\n");
  ASSERT_TRUE(waitFor(a, "text=typed-line", kStderr)) << dump();
  EXPECT_EQ(0, countOf(b->err, "typed-line")) << dump();
  EXPECT_EQ(0, countOf(a->err, "text=status")) << dump();
}

TEST_F(ControlTest, SendToAllReachesEachServerOnce) {
  std::vector<runProc*> servers;
  for (int i = 0; i < 3; i++) servers.push_back(startStandin("pw", {"--rate", "0"}));
  for (runProc* s : servers) ASSERT_NE(nullptr, s) << dump();
  ASSERT_NE(nullptr, consoleFor(servers)) << dump();
  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"-S", sock_, "send", "-a", "-w", "2", "ping"}, &ctl)) << dump();
  for (runProc* s : servers) {
    EXPECT_EQ(1, countOf(ctl->out, addr(s) + " ->echo: ping\n")) << dump();
    EXPECT_EQ(1, countOf(s->err, "text=ping")) << dump();
  }
  // Without -s or -a there is no one server to choose.
  EXPECT_EQ(1, runCtl({"-S", sock_, "send", "ping"}, &ctl));
  EXPECT_NE(std::string::npos, ctl->err.find("3 servers")) << ctl->err;
}

TEST_F(ControlTest, StatusDoFollowAndErrors) {
  runProc* s = startStandin("pw", {"--rate", "20"});
  ASSERT_NE(nullptr, s) << dump();
  runProc* console = consoleFor({s});
  ASSERT_NE(nullptr, console) << dump();
  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"-S", sock_, "status"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos, ctl->out.find("status " + addr(s) + ": challenge answered"));
  ASSERT_EQ(0, runCtl({"-S", sock_, "do", "qzuconlist"}, &ctl)) << dump();
  EXPECT_EQ(ctl->out, "server address: " + addr(s) + "   login: admin\n");

  runProc* follow = startCtl({"-S", sock_, "follow", "-s", addr(s)});
  ASSERT_TRUE(waitFor(follow, addr(s) + " ->qzstandin " + addr(s) + " line ", kStdout, 3))
      << dump();
  stop(follow);

  EXPECT_EQ(1, runCtl({"-S", sock_, "send", "-s", "10.9.9.9:1", "x"}, &ctl));
  EXPECT_NE(std::string::npos, ctl->err.find("unknown server 10.9.9.9:1")) << ctl->err;
  EXPECT_EQ(1, runCtl({"-S", dir_ + "/none.sock", "status"}, &ctl));
  EXPECT_NE(std::string::npos, ctl->err.find("cannot connect to " + dir_ + "/none.sock"));
  EXPECT_EQ(1, runCtl({"status", "now"}, &ctl));  // a usage error
}

TEST_F(ControlTest, MismatchAndSilenceHaveTheirOwnStatuses) {
  runProc* s = startStandin("right", {"--rate", "0"});
  ASSERT_NE(nullptr, s) << dump();
  // Bound but never read: its datagrams vanish without a word from the
  // kernel, as behind a firewall that drops them.
  trsock hole;
  hole.handle = trSocket(0);
  int holePort = freePort(0);
  ASSERT_EQ(0, trBind(hole.handle, static_cast<unsigned>(holePort), "127.0.0.1"));
  std::string silent = "127.0.0.1:" + std::to_string(holePort);
  runProc* console =
      startConsole({"myaddr=127.0.0.1:" + std::to_string(consolePort_), "server=" + addr(s),
                    "login=admin", "password=wrong", "server=" + silent, "login=admin",
                    "password=pw", "controlsocket=" + sock_});
  ASSERT_NE(nullptr, console);
  // A wrong password shows after a few lines of noise: each empty line asks
  // the server for a new challenge, and so for one more greeting.
  bool told = false;
  for (int i = 0; i < 8 && !told; i++) {
    runCtl({"-S", sock_, "send", "-s", addr(s), "-w", "1", ""});
    told = waitFor(console, "**Password mismatch for " + addr(s), kStdout, 1, 2000);
  }
  ASSERT_TRUE(told) << dump();
  EXPECT_EQ(2, runCtl({"-S", sock_, "send", "-s", addr(s), "-w", "0", "x"}));
  // The one end-to-end run of the real 10 s timer: the silent server is
  // named once, with the likely causes, and the status view says so too.
  std::string line =
      "**No answer from " + silent + " after 10 s: server down, wrong myaddr= or a firewall?\n";
  ASSERT_TRUE(waitFor(console, line, kStdout, 1, 40000)) << dump();
  EXPECT_EQ(3, runCtl({"-S", sock_, "send", "-s", silent, "-w", "0", "x"}));
  EXPECT_EQ(2, runCtl({"-S", sock_, "send", "-a", "-w", "0", "x"}));
  type(console, "qzuconstatus\n");
  std::string status = "status " + silent + ": challenge not answered, last line never, lines 0, ";
  ASSERT_TRUE(waitFor(console, status)) << dump();
  std::string rest = console->out.substr(console->out.find(status) + status.size());
  EXPECT_EQ(0u, rest.find("heartbeats ")) << rest;
  EXPECT_LT(rest.find(", no answer\n"), rest.find('\n')) << rest;
  EXPECT_EQ(1, countOf(console->out, "**No answer from")) << dump();
}

// A stand-in killed: the kernel's word that its port is closed marks it at
// once, a send to it fails with its own status, and it is probed, so that
// the stand-in started again on its port is heard within seconds rather
// than at the next heartbeat, 30 s on. The other server is not hurt: a send
// right behind one that met the closed port still goes out.
TEST_F(ControlTest, AServerGoneIsUnreachableUntilItIsBack) {
  runProc* s = startStandin("pw", {"--rate", "0"});
  // The other keeps talking: on a slow machine a silent one could meet the
  // silence limit with a late echo and be marked too.
  runProc* other = startStandin("pw", {"--rate", "1"});
  ASSERT_TRUE(s && other) << dump();
  runProc* console = consoleFor({s, other});
  ASSERT_NE(nullptr, console) << dump();
  const std::string port = std::to_string(portOf(s));
  const std::string a = addr(s);
  ASSERT_EQ(0, procKill(s->pid, SIGKILL));
  ASSERT_TRUE(waitExit(s)) << dump();
  trSleep(2500);
  runProc* ctl = nullptr;
  EXPECT_EQ(6, runCtl({"-S", sock_, "send", "-s", a, "status"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos,
            ctl->err.find("qzuconctl: " + a + ": unreachable: its port is closed"))
      << ctl->err;
  EXPECT_EQ(6, runCtl({"-S", sock_, "send", "-a", "-w", "2", "ping"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos, ctl->out.find(addr(other) + " ->echo: ping\n")) << dump();
  EXPECT_TRUE(
      waitFor(console, "**Server " + a + " unreachable: port unreachable, reported by 127.0.0.1\n"))
      << dump();
  ASSERT_EQ(0, runCtl({"-S", sock_, "status"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos, ctl->out.find(", unreachable\n")) << ctl->out;

  runProc* back = startStandin("pw", {"--rate", "0", "--port", port});
  ASSERT_NE(nullptr, back) << dump();
  ASSERT_TRUE(waitFor(console, "**Answer again from " + a + "\n")) << dump();
  ASSERT_TRUE(waitFor(console, "->qzstandin " + a + " welcome", kStdout, 2)) << dump();
  EXPECT_EQ(1, countOf(console->out, "**Answer again from")) << dump();
  EXPECT_EQ(1, countOf(console->out, " unreachable: ")) << "once, for every probe it met";
  EXPECT_EQ(0, runCtl({"-S", sock_, "send", "-s", a, "-w", "2", "status"}, &ctl)) << dump();
}

// A stand-in stopped keeps its port, so the kernel says nothing: a command
// that meets 10 s of silence marks it, and its answer, once it runs again,
// clears that.
TEST_F(ControlTest, AServerThatStopsAnsweringIsUnreachableAfterTheSilence) {
  runProc* s = startStandin("pw", {"--rate", "0"});
  ASSERT_NE(nullptr, s) << dump();
  runProc* console = consoleFor({s});
  ASSERT_NE(nullptr, console) << dump();
  const std::string a = addr(s);
  ASSERT_EQ(0, procKill(s->pid, SIGSTOP));
  // Before the silence limit a send is judged as usual; from it on, 6.
  int status = -1;
  for (int i = 0; i < 20 && status != 6; i++) {
    status = runCtl({"-S", sock_, "send", "-s", a, "-w", "2", "status"});
  }
  EXPECT_EQ(6, status) << dump();
  EXPECT_TRUE(waitFor(console, "**Server " + a +
                                   " unreachable: no answer to a command, nothing "
                                   "from it for "))
      << dump();
  ASSERT_EQ(0, procKill(s->pid, SIGCONT));
  EXPECT_TRUE(waitFor(console, "**Answer again from " + a + "\n")) << dump();
  EXPECT_EQ(1, countOf(console->out, " unreachable: ")) << dump();
}

// follow ends when the console does, with a word and a status of its own.
TEST_F(ControlTest, FollowEndsWithItsOwnStatusWhenTheConsoleEnds) {
  runProc* s = startStandin("pw", {"--rate", "0"});
  ASSERT_NE(nullptr, s) << dump();
  runProc* console = consoleFor({s});
  ASSERT_NE(nullptr, console) << dump();
  runProc* follow = startCtl({"-S", sock_, "follow"});
  ASSERT_NE(nullptr, follow);
  // Its console messages show that it follows.
  bool following = false;
  for (int i = 0; i < 20 && !following; i++) {
    type(console, "qzuconlist\n");
    following = waitFor(follow, "server address: " + addr(s), kStdout, 1, 1000);
  }
  ASSERT_TRUE(following) << dump();
  ASSERT_EQ(0, runCtl({"-S", sock_, "exit"})) << dump();
  ASSERT_TRUE(waitExit(follow)) << dump();
  ASSERT_TRUE(procExited(follow->status)) << dump();
  EXPECT_EQ(7, procExitCode(follow->status)) << dump();
  EXPECT_EQ("qzuconctl: the console has ended: nothing more to follow\n", follow->err);
}

TEST_F(ControlTest, ExitEndsTheConsoleAndRemovesTheSocket) {
  runProc* s = startStandin("pw", {"--rate", "0"});
  ASSERT_NE(nullptr, s) << dump();
  runProc* console = consoleFor({s});
  ASSERT_NE(nullptr, console) << dump();
  struct stat st;
  ASSERT_EQ(0, lstat(sock_.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  ASSERT_EQ(0, runCtl({"-S", sock_, "exit"})) << dump();
  // qzuconctl returns once the console is done: notices out, socket gone.
  EXPECT_EQ(1, countOf(s->err, "qzstandin: exit console=")) << dump();
  ASSERT_TRUE(waitExit(console)) << dump();
  EXPECT_NE(0, lstat(sock_.c_str(), &st));
}

TEST_F(ControlTest, DefaultFolderIsPrivateAndALeftoverSocketIsReplaced) {
  std::string run = dir_ + "/run";
  ASSERT_EQ(0, mkdir(run.c_str(), 0700));
  envSwap xdg("XDG_RUNTIME_DIR", run.c_str());
  std::string folder = run + "/qzucon";
  std::string sock = folder + "/" + std::to_string(consolePort_) + ".sock";
  runProc* s = startStandin("pw", {"--rate", "0"});
  ASSERT_NE(nullptr, s) << dump();

  // The default place, as an operator gets it.
  std::vector<std::string> tokens = consoleTokens({s}, {"pw"});
  tokens.push_back("controlsocket=on");

  // A folder others may enter is refused, with the reason; the console runs on.
  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  runProc* console = startConsole(tokens);
  ASSERT_TRUE(
      waitFor(console, "**Control socket not opened: " + folder + ": other users may enter it"))
      << dump();
  ASSERT_TRUE(waitFor(console, "welcome")) << dump();
  stop(console);
  ASSERT_EQ(0, chmod(folder.c_str(), 0700));

  console = startConsole(tokens);
  ASSERT_TRUE(waitFor(console, "**Console active")) << dump();
  ASSERT_EQ(0, runCtl({"-p", std::to_string(consolePort_), "status"})) << dump();
  kill(console->pid, SIGKILL);
  ASSERT_TRUE(waitExit(console));
  struct stat st;
  ASSERT_EQ(0, lstat(sock.c_str(), &st)) << "a killed console leaves its socket";

  console = startConsole(tokens);
  ASSERT_TRUE(waitFor(console, "**Console active")) << dump();
  EXPECT_EQ(0, countOf(console->out, "Control socket")) << dump();
  ASSERT_EQ(0, runCtl({"-p", std::to_string(consolePort_), "status"})) << dump();
  // Found without naming it. Consoles the user runs elsewhere on this host
  // (in /tmp/qzucon-UID) are listed too and then have to be chosen from.
  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"list"}, &ctl)) << dump();
  // Named by its own port, as nothing else names it.
  std::string port = std::to_string(consolePort_);
  std::string ours = port + ": " + sock + " 127.0.0.1:" + port + " " + addr(s) + "\n";
  ASSERT_NE(std::string::npos, ctl->out.find(ours)) << ctl->out;
  if (ctl->out == ours) {
    EXPECT_EQ(0, runCtl({"status"})) << dump();
  } else {
    EXPECT_EQ(1, runCtl({"status"}, &ctl)) << dump();
    EXPECT_NE(std::string::npos, ctl->err.find("consoles are running")) << ctl->err;
  }
}

// Answers of many lines are written as the client reads: none is cut, for
// 10,000 servers; and idle clients do not keep others out.
TEST_F(ControlTest, LongAnswersArriveWholeAndIdleClientsKeepNoneOut) {
  std::string ini = "myaddr=127.0.0.1:" + std::to_string(consolePort_) + "\n";
  const int kServers = 10000;
  for (int i = 0; i < kServers; i++) {
    ini += "server=127.0.0.2:" + std::to_string(20000 + i) + "\nlogin=a\npassword=p\n";
  }
  ASSERT_TRUE(writeFile("many.ini", ini));
  runProc* console = startConsole({"ini=many.ini", "controlsocket=" + sock_});
  ASSERT_TRUE(waitFor(console, "**Console active")) << dump();

  std::vector<trsock> idle(8);
  for (trsock& c : idle) {
    c.handle = trUnixSocket();
    ASSERT_EQ(0, trUnixConnect(c.handle, sock_.c_str()));
  }
  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"-S", sock_, "status"}, &ctl)) << ctl->err;
  EXPECT_EQ(kServers, countOf(ctl->out, "status 127.0.0.2:"));
  EXPECT_EQ(0, countOf(ctl->err, "dropped")) << ctl->err;
  // Each server is reported in a "sent" line and named: waiting, or
  // unreachable once the kernel has told of its closed port (it tells of
  // some of them only: it bounds its ICMP messages a second).
  EXPECT_EQ(6, runCtl({"-S", sock_, "send", "-a", "-w", "0", "x"}, &ctl));
  std::set<std::string> named;
  for (size_t at = 0; (at = ctl->err.find("qzuconctl: 127.0.0.2:", at)) != std::string::npos;) {
    size_t end = ctl->err.find(": ", at + 11);
    named.insert(ctl->err.substr(at + 11, end - at - 11));
    at = end;
  }
  EXPECT_EQ(static_cast<size_t>(kServers), named.size());
  EXPECT_GT(countOf(ctl->err, ": unreachable: its port is closed"), 0);
  EXPECT_EQ(0, countOf(ctl->err, "dropped"));
}

}  // namespace
