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
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/e2e_harness.h"

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

}  // namespace
