// The control socket on a shared host, with a second local user made for
// the test: a stranger who squats the /tmp folder or serves a socket where
// qzuconctl looks gets nothing and stops nobody, and whatever answers cannot
// drive the terminal. Needs root to add and remove the users; skipped
// otherwise.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runtime/clock.h"
#include "runtime/sock.h"
#include "support/e2e_harness.h"
#include "support/proc.h"

namespace {

// A user of this run only, removed however the test ends.
struct tempUser {
  std::string name;
  unsigned uid = 0;
  std::string home;
  bool make(const std::string& n) {
    name = n;
    std::string cmd = "useradd -m -d /tmp/" + n + ".home " + n + " 2>/dev/null";
    if (system(cmd.c_str()) != 0) return false;
    const passwd* pw = getpwnam(n.c_str());
    if (pw == nullptr) return false;
    uid = pw->pw_uid;
    home = pw->pw_dir;
    return true;
  }
  ~tempUser() {
    if (!home.empty()) system(("userdel -r " + name + " 2>/dev/null").c_str());
  }
};

// A socket at path served by a child running as uid: it answers every
// connection with terminal commands and an "ok", and reports on a pipe each
// connection ('c') and each byte it received ('b').
struct fakeServer {
  int pid = -1;
  int report = -1;
  bool start(unsigned uid, const std::string& path) {
    int p[2];
    if (pipe(p) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) serve(uid, path, p[1]);
    close(p[1]);
    report = p[0];
    fcntl(report, F_SETFL, O_NONBLOCK);
    return true;
  }
  [[noreturn]] static void serve(unsigned uid, const std::string& path, int out) {
    if (uid != 0 && (setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0)) _exit(1);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 8) != 0) _exit(1);
    chmod(path.c_str(), 0666);  // anyone may connect: the bait
    (void)!write(out, "r", 1);
    for (;;) {
      int c = accept(s, nullptr, nullptr);
      if (c < 0) continue;
      (void)!write(out, "c", 1);
      const char kAnswer[] = "\x1b]0;owned\x07\x1b[2Jstatus x\x1b[1;1H\nerror \x1b[31mred\n";
      (void)!send(c, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
      char b;
      while (read(c, &b, 1) == 1) (void)!write(out, "b", 1);
      close(c);
    }
  }
  // All the pipe has said so far.
  std::string heard() {
    char buf[256];
    for (ssize_t n; (n = read(report, buf, sizeof buf)) > 0;) got.append(buf, n);
    return got;
  }
  std::string got;
  ~fakeServer() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      int status;
      waitpid(pid, &status, 0);
    }
    if (report >= 0) close(report);
  }
};

bool raw(const std::string& text) {
  for (unsigned char c : text) {
    if ((c < 32 && c != '\t' && c != '\n') || c == 127) return true;
  }
  return false;
}

class SharedHostTest : public e2eTest {
 protected:
  // The users go once the programs that ran as them have been stopped.
  void TearDown() override {
    e2eTest::TearDown();
    for (const std::string& made : made_) system(("rm -rf " + made).c_str());
    owner_.reset();
    stranger_.reset();
  }
  std::unique_ptr<tempUser> owner_ = std::make_unique<tempUser>();
  std::unique_ptr<tempUser> stranger_ = std::make_unique<tempUser>();
  std::vector<std::string> made_;  // outside the scratch folder: removed at the end
};

TEST_F(SharedHostTest, WhateverAnswersCannotDriveTheTerminal) {
  std::string path = dir_ + "/fake.sock";
  fakeServer fake;
  ASSERT_TRUE(fake.start(0, path));
  for (int i = 0; i < 500 && fake.heard().empty(); i++) usleep(10000);
  runProc* ctl = nullptr;
  EXPECT_EQ(1, runCtl({"-S", path, "status"}, &ctl));
  EXPECT_NE(std::string::npos, ctl->out.find("?]0;owned??[2Jstatus x?[1;1H\n")) << ctl->out;
  EXPECT_NE(std::string::npos, ctl->err.find("?[31mred")) << ctl->err;
  EXPECT_FALSE(raw(ctl->out) || raw(ctl->err));
}

TEST_F(SharedHostTest, ASquatterGetsNothingAndStopsNobody) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to add and remove users";
  tempUser& owner = *owner_;
  tempUser& stranger = *stranger_;
  std::string tag = std::to_string(getpid() % 100000);
  if (!owner.make("qzo" + tag) || !stranger.make("qzs" + tag)) GTEST_SKIP() << "no useradd";
  ASSERT_EQ(0, chown(dir_.c_str(), owner.uid, owner.uid));

  // The stranger's folder where the owner's would be, and a socket in it.
  std::string squat = "/tmp/qzucon-" + std::to_string(owner.uid);
  std::string port = std::to_string(consolePort_);
  std::string theirs = "/tmp/qzs" + tag + "-dir";
  made_ = {squat, theirs};
  for (const std::string& made : made_) system(("rm -rf " + made).c_str());
  ASSERT_EQ(0, mkdir(squat.c_str(), 0700));
  ASSERT_EQ(0, chmod(squat.c_str(), 0711));  // open for the bait to be reached
  ASSERT_EQ(0, chown(squat.c_str(), stranger.uid, stranger.uid));
  fakeServer fake;
  ASSERT_TRUE(fake.start(stranger.uid, squat + "/" + port + ".sock"));
  for (int i = 0; i < 500 && fake.heard().empty(); i++) usleep(10000);

  runProc* s = startStandin("pw", {"--rate", "0"});
  ASSERT_NE(nullptr, s) << dump();
  std::vector<std::string> tokens = consoleTokens({s}, {"pw"});
  tokens.push_back("controlsocket=on");
  runProc* console = startConsoleVia("exec /usr/bin/setpriv --reuid " + owner.name + " --regid " +
                                         owner.name + " --init-groups --reset-env \"$0\" \"$@\"",
                                     tokens);
  std::string state = owner.home + "/.local/state/qzucon";
  ASSERT_TRUE(waitFor(console, "**Control socket in " + state + " instead: " + squat +
                                   ": it belongs to another user"))
      << dump();
  ASSERT_TRUE(waitFor(console, "welcome")) << dump();
  struct stat st;
  ASSERT_EQ(0, lstat(state.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);

  ctlUser_ = owner.name;
  std::string server = "127.0.0.1:" + std::to_string(portOf(s));
  runProc* ctl = nullptr;
  ASSERT_EQ(0, runCtl({"send", "-w", "1", "one"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos, ctl->err.find("not looking in " + squat)) << ctl->err;
  ASSERT_EQ(0, runCtl({"-p", port, "send", "-w", "1", "two"}, &ctl)) << dump();
  ASSERT_TRUE(waitFor(s, "text=two", kStderr)) << dump();

  // Given the stranger's socket by name, qzuconctl says why it stops.
  EXPECT_EQ(1, runCtl({"-S", squat + "/" + port + ".sock", "send", "-w", "0", "three"}, &ctl));
  EXPECT_NE(std::string::npos, ctl->err.find("served by user " + std::to_string(stranger.uid)))
      << ctl->err;
  EXPECT_FALSE(raw(ctl->out) || raw(ctl->err));

  // A link in the folder's place, to a folder of the stranger's.
  ASSERT_EQ(0, rename(squat.c_str(), theirs.c_str()));
  ASSERT_EQ(0, symlink(theirs.c_str(), squat.c_str()));
  ASSERT_EQ(0, lchown(squat.c_str(), stranger.uid, stranger.uid));
  ASSERT_EQ(0, runCtl({"-p", port, "send", "-w", "0", "four"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos, ctl->err.find("not looking in " + squat + ": it is not a folder"));

  // One connection (the -S one), closed before a byte was sent.
  EXPECT_EQ("rc", fake.heard());
}

// A stranger's UDP socket on 127.0.0.1:port (SO_REUSEADDR when shared), in
// a child running as uid; it sends text to the console's input once bound,
// then holds the socket until killed, or closes it at once when !hold.
int strangerUdp(unsigned uid, bool shared, bool hold, const std::string& dest,
                const std::string& text, int* port) {
  int p[2];
  if (pipe(p) != 0) return -1;
  int pid = fork();
  if (pid == 0) {
    int got = -1;
    if (setresgid(uid, uid, uid) == 0 && setresuid(uid, uid, uid) == 0) {
      int h = trSocket(0);
      if ((!shared || trReuseAddr(h) == 0) && trBind(h, 0, "127.0.0.1") == 0) {
        got = trSockPort(h);
        trSendto(h, text.data(), static_cast<unsigned>(text.size()), dest.c_str());
        if (!hold) close(h);
      }
    }
    (void)!write(p[1], &got, sizeof got);
    if (hold) pause();
    _exit(0);
  }
  close(p[1]);
  if (read(p[0], port, sizeof *port) != sizeof *port) *port = -1;
  close(p[0]);
  return pid;
}

TEST_F(SharedHostTest, LocalUdpInputSharesNoPortWithAStranger) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to add and remove users";
  tempUser& stranger = *stranger_;
  if (!stranger.make("qzs" + std::to_string(getpid() % 100000))) GTEST_SKIP() << "no useradd";
  runProc* s = startStandin("pw", {"--rate", "0"});
  ASSERT_NE(nullptr, s) << dump();
  int udp = freePort(0);
  std::vector<std::string> tokens = consoleTokens({s}, {"pw"});
  tokens.push_back("UDPlistenport=" + std::to_string(udp));
  runProc* console = startConsole(tokens);
  ASSERT_TRUE(waitFor(console, "plaintext input on port " + std::to_string(udp))) << dump();
  std::string dest = "127.0.0.1:" + std::to_string(udp);
  std::string server = "127.0.0.1:" + std::to_string(portOf(s));

  // The stranger binds first; the owner's script binds the same address and
  // port beside it and sends.
  int port = 0;
  int pid = strangerUdp(stranger.uid, true, true, dest, "stranger-line\n", &port);
  ASSERT_GT(port, 0);
  std::string from = "**Refused local UDP input from 127.0.0.1:" + std::to_string(port) + ": ";
  ASSERT_TRUE(waitFor(console, from)) << dump();
  trsock mine;
  mine.handle = trSocket(0);
  ASSERT_EQ(0, trReuseAddr(mine.handle));
  ASSERT_EQ(0, trBind(mine.handle, static_cast<unsigned>(port), "127.0.0.1"));
  std::string line = "qzuconactive " + server + "\n";
  for (int i = 0; i < 3; i++) trSendto(mine.handle, line.data(), line.size(), dest.c_str());
  ASSERT_TRUE(waitFor(console, from, kStdout, 2)) << dump();
  kill(pid, SIGKILL);
  int status;
  waitpid(pid, &status, 0);
  mine.sClose();
  EXPECT_EQ(0, countOf(console->out, "Active Server: ")) << dump();

  // The owner binds the port a stranger has just left, and is let in soon.
  pid = strangerUdp(stranger.uid, false, true, dest, "stranger-line\n", &port);
  from = "**Refused local UDP input from 127.0.0.1:" + std::to_string(port) + ": another user";
  ASSERT_TRUE(waitFor(console, from)) << dump();
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  usleep(70000);
  mine.handle = trSocket(0);
  ASSERT_EQ(0, trBind(mine.handle, static_cast<unsigned>(port), "127.0.0.1"));
  uint64_t start = trMonoUs();
  bool in = false;
  while (!in && trMonoUs() - start < 15000000) {
    trSendto(mine.handle, line.data(), line.size(), dest.c_str());
    in = waitFor(console, "Active Server: " + server, kStdout, 1, 10);
  }
  ASSERT_TRUE(in) << dump();
  printf("owner let in %.3f s after binding, 0.07 s after the stranger left\n",
         (trMonoUs() - start) / 1e6);
}

// qzuconwrite killed halfway leaves its temporary file, passwords and all;
// the next write of the same file removes it.
TEST_F(SharedHostTest, AWriteCutShortLeavesNoCopyOfThePasswords) {
  std::string ini = "myaddr=127.0.0.1:" + std::to_string(consolePort_) + "\n";
  for (int i = 0; i < 10000; i++) {
    ini += "server=127.0.0.2:" + std::to_string(20000 + i) + "\nlogin=a\npassword=secret\n";
  }
  ASSERT_TRUE(writeFile("many.ini", ini));
  auto leftovers = [&] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      n += e.path().filename().string().rfind("big.ini.", 0) == 0 ? 1 : 0;
    }
    return n;
  };
  int cut = 0;
  for (int delayMs : {0, 2, 5, 10, 20}) {
    runProc* console = startConsole({"ini=many.ini"});
    ASSERT_TRUE(waitFor(console, "**Console active")) << dump();
    type(console, "qzuconwrite big.ini\n");
    usleep(delayMs * 1000);
    kill(console->pid, SIGKILL);
    ASSERT_TRUE(waitExit(console));
    if (leftovers() > 0) cut++;
  }
  runProc* console = startConsole({"ini=many.ini"});
  ASSERT_TRUE(waitFor(console, "**Console active")) << dump();
  type(console, "qzuconwrite big.ini\n");
  ASSERT_TRUE(waitFor(console, "Configuration written to file: big.ini")) << dump();
  EXPECT_EQ(0, leftovers());
  printf("%d of 5 kills left a temporary file\n", cut);
}

}  // namespace
