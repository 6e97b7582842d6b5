// A team on one console: the members of its control group read, the allow=
// rules let some of them send some commands, everyone else is refused, and
// every request of a member is on record. The users and groups are made for
// the test and removed again, which needs root; the start-up refusals need
// no one else and run for anybody.
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/e2e_harness.h"

namespace {

// A group or user of this run only, removed however the test ends.
struct tempGroup {
  std::string name;
  unsigned gid = 0;
  bool make(const std::string& n) {
    name = n;
    if (system(("groupadd " + n + " 2>/dev/null").c_str()) != 0) return false;
    const group* g = getgrnam(n.c_str());
    gid = g ? g->gr_gid : 0;
    return g != nullptr;
  }
  ~tempGroup() {
    if (gid) system(("groupdel " + name + " 2>/dev/null").c_str());
  }
};

struct tempUser {
  std::string name;
  unsigned uid = 0, gid = 0;
  // A user with its own group, in the given groups too (commas between).
  bool make(const std::string& n, const std::string& groups) {
    name = n;
    std::string cmd = "useradd -M -d /nonexistent -s /usr/sbin/nologin" +
                      (groups.empty() ? "" : " -G " + groups) + " " + n + " 2>/dev/null";
    if (system(cmd.c_str()) != 0) return false;
    const passwd* pw = getpwnam(n.c_str());
    if (pw == nullptr) return false;
    uid = pw->pw_uid;
    gid = pw->pw_gid;
    return true;
  }
  ~tempUser() {
    if (uid)
      system(("userdel " + name + " 2>/dev/null; groupdel " + name + " 2>/dev/null").c_str());
  }
};

// Connections to path from a child running as uid with the given groups:
// each sends its request and the first answer line of each comes back,
// one a line, on the pipe; the child then holds them all until killed.
struct heldClients {
  int pid = -1;
  int report = -1;
  bool start(unsigned uid, unsigned gid, const std::vector<gid_t>& groups, const std::string& path,
             const std::vector<std::string>& requests) {
    int p[2];
    if (pipe(p) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      close(p[0]);
      if (setgroups(groups.size(), groups.data()) != 0 || setresgid(gid, gid, gid) != 0 ||
          setresuid(uid, uid, uid) != 0) {
        _exit(1);
      }
      std::vector<int> held;
      for (const std::string& r : requests) {
        int s = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        std::string line = "connect failed\n";
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
          for (size_t done = 0; done < r.size();) {
            ssize_t n = send(s, r.data() + done, r.size() - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
          }
          line.clear();
          char c;
          while (read(s, &c, 1) == 1 && c != '\n') line += c;
          line += '\n';
        }
        (void)!write(p[1], line.data(), line.size());
        held.push_back(s);
      }
      close(p[1]);
      pause();
      _exit(0);
    }
    close(p[1]);
    report = p[0];
    return true;
  }
  // Every line, once the child has made all its connections.
  std::string lines() {
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = read(report, buf, sizeof buf)) > 0;) got.append(buf, n);
    return got;
  }
  ~heldClients() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      int status;
      waitpid(pid, &status, 0);
    }
    if (report >= 0) close(report);
  }
};

class ControlGroupTest : public e2eTest {
 protected:
  // "Control: USER (uid N)": how a member's record line begins.
  static std::string recordOf(const tempUser& u) {
    return "Control: " + u.name + " (uid " + std::to_string(u.uid) + ")";
  }
  // A console of group's on one stand-in (standin_), its socket (sock_) in
  // a folder like the unit's runtime folder: the console's (here root's),
  // open to the group. more: further tokens. Null unless its session is up.
  runProc* teamConsole(const tempGroup& group, const std::vector<std::string>& more) {
    std::string run = dir_ + "/run";
    sock_ = run + "/control.sock";
    if (chmod(dir_.c_str(), 0711) != 0 || mkdir(run.c_str(), 0750) != 0 ||
        chown(run.c_str(), 0, group.gid) != 0) {
      return nullptr;
    }
    standin_ = startStandin("pw", {"--rate", "0"});
    if (standin_ == nullptr) return nullptr;
    std::vector<std::string> tokens = consoleTokens({standin_}, {"pw"});
    tokens.insert(tokens.end(), {"controlsocket=" + sock_, "controlgroup=" + group.name});
    tokens.insert(tokens.end(), more.begin(), more.end());
    runProc* console = startConsole(tokens);
    return waitFor(console, "->qzstandin " + addr(standin_) + " welcome") ? console : nullptr;
  }
  runProc* standin_ = nullptr;
  std::string sock_;
};

TEST_F(ControlGroupTest, ViewersReadModeratorsSendWhatTheyAreAllowedAndAllIsOnRecord) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to add and remove users and groups";
  std::string tag = std::to_string(getpid() % 100000);
  tempGroup viewers, mods;
  tempUser viewer, mod, outsider;
  if (!viewers.make("qzv" + tag) || !mods.make("qzm" + tag)) GTEST_SKIP() << "no groupadd";
  ASSERT_TRUE(viewer.make("qzw" + tag, viewers.name));
  ASSERT_TRUE(mod.make("qzk" + tag, viewers.name + "," + mods.name));
  ASSERT_TRUE(outsider.make("qzx" + tag, ""));

  runProc* console = teamConsole(viewers, {"allow=@" + mods.name + ":^(say|kick) "});
  ASSERT_NE(nullptr, console) << dump();
  const std::string& sock = sock_;
  runProc* s = standin_;
  struct stat st;
  ASSERT_EQ(0, lstat(sock.c_str(), &st));
  EXPECT_EQ(0660u, st.st_mode & 0777);
  EXPECT_EQ(viewers.gid, st.st_gid);

  const struct {
    const tempUser* who;
    std::vector<std::string> args;
    int status;
    const char* says;  // on standard error; null: nothing asked
  } kCases[] = {
      {&viewer, {"status"}, 0, nullptr},
      {&viewer, {"list"}, 0, nullptr},
      {&viewer, {"send", "-a", "-w", "0", "say hi"}, 9, "denied: no allow= rule for "},
      {&viewer, {"exit"}, 9, "denied: exit is the console owner's alone"},
      {&viewer, {"do", "qzuconlist"}, 9, "denied: do is the console owner's alone"},
      {&mod, {"send", "-a", "-w", "1", "say hi"}, 0, nullptr},
      {&mod, {"send", "-a", "-w", "0", "quit"}, 9, "matches \"quit\""},
      {&outsider, {"status"}, 1, "cannot connect"},
  };
  for (const auto& c : kCases) {
    ctlUser_ = c.who->name;
    std::vector<std::string> args = {"-S", sock};
    args.insert(args.end(), c.args.begin(), c.args.end());
    runProc* ctl = nullptr;
    EXPECT_EQ(c.status, runCtl(args, &ctl)) << c.who->name << " " << c.args.back() << dump();
    if (c.says) {
      EXPECT_NE(std::string::npos, ctl->err.find(c.says)) << ctl->err;
    }
  }

  // What reached the server: only the moderator's "say hi", then the owner's mark.
  ctlUser_.clear();
  ASSERT_EQ(0, runCtl({"-S", sock, "send", "-a", "-w", "1", "mark"})) << dump();
  ASSERT_TRUE(waitFor(s, "text=mark", kStderr)) << dump();
  EXPECT_EQ(1, countOf(s->err, "text=say hi")) << dump();
  EXPECT_EQ(0, countOf(s->err, "text=quit")) << dump();

  // One screen line per request of a member: the viewer's status, list's
  // tags and servers, send's follow and send, exit and do; the moderator's
  // follow, send, unfollow and servers (a send's end), then follow and send.
  const std::string v = recordOf(viewer), m = recordOf(mod);
  EXPECT_EQ(7, countOf(console->out, v)) << console->out;
  EXPECT_EQ(1, countOf(console->out, v + ": servers\n")) << console->out;
  EXPECT_EQ(1, countOf(console->out, v + ": status\n")) << console->out;
  EXPECT_EQ(1, countOf(console->out, v + " denied: send * say hi: no allow= rule for ")) << dump();
  EXPECT_EQ(3, countOf(console->out, v + " denied: ")) << console->out;
  EXPECT_EQ(6, countOf(console->out, m)) << console->out;
  EXPECT_EQ(1, countOf(console->out, m + ": send * say hi\n")) << console->out;
  EXPECT_EQ(1, countOf(console->out, m + " denied: send * quit: ")) << console->out;
  EXPECT_EQ(0, countOf(console->out, "Control: root")) << "the owner's are not member lines";
  runProc* metrics = nullptr;
  ASSERT_EQ(0, runCtl({"-S", sock, "metrics"}, &metrics)) << dump();
  for (const std::string& want : {"user=\"" + viewer.name + "\",result=\"ok\"} 4\n",
                                  "user=\"" + viewer.name + "\",result=\"denied\"} 3\n",
                                  "user=\"" + mod.name + "\",result=\"ok\"} 5\n",
                                  "user=\"" + mod.name + "\",result=\"denied\"} 1\n"}) {
    EXPECT_NE(std::string::npos, metrics->out.find(want)) << want << metrics->out;
  }

  // Out of the group in the database, still in it in a shell started before:
  // the socket lets the process in, the console does not.
  ASSERT_EQ(0, system(("gpasswd -d " + viewer.name + " " + viewers.name + " >/dev/null").c_str()));
  ctlUser_ = viewer.name;
  ctlGroups_ = std::to_string(viewers.gid);
  runProc* ctl = nullptr;
  EXPECT_EQ(1, runCtl({"-S", sock, "status"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos,
            ctl->err.find("refused: neither the console's user nor of its group"))
      << ctl->err;
  EXPECT_TRUE(waitFor(console, "**Refused control connection from user " +
                                   std::to_string(viewer.uid) + ": another user"))
      << dump();
}

TEST_F(ControlGroupTest, MembersLeaveTheOwnerASlotAndLongRequestsAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to add and remove users and groups";
  std::string tag = std::to_string(getpid() % 100000);
  tempGroup viewers;
  tempUser viewer;
  if (!viewers.make("qzv" + tag)) GTEST_SKIP() << "no groupadd";
  ASSERT_TRUE(viewer.make("qzw" + tag, viewers.name));
  ASSERT_NE(nullptr, teamConsole(viewers, {})) << dump();
  const std::string& sock = sock_;

  // A megabyte in one request line, then connections for every slot.
  std::vector<std::string> requests = {std::string(1 << 20, 'x') + "\n"};
  for (int i = 1; i < 32; i++) requests.push_back("servers\n");
  heldClients member;
  ASSERT_TRUE(member.start(viewer.uid, viewer.gid, {viewers.gid}, sock, requests));
  std::string lines = member.lines();
  EXPECT_EQ(1, countOf(lines, "error the request is longer than 1024 characters\n")) << lines;
  EXPECT_EQ(30, countOf(lines, "myaddr ")) << lines;
  EXPECT_EQ(1, countOf(lines, "error too many control clients\n")) << lines;
  runProc* ctl = nullptr;
  EXPECT_EQ(0, runCtl({"-S", sock, "status"}, &ctl)) << dump();
  EXPECT_NE(std::string::npos, ctl->out.find("status " + addr(standin_))) << ctl->out;
}

// Refused at start, each named, and no socket made: no group, or a folder
// others may write in; bad allow= rules are named and left out.
TEST_F(ControlGroupTest, UnfitSettingsAreNamedAndOpenNoSocket) {
  std::string open = dir_ + "/open";
  ASSERT_EQ(0, mkdir(open.c_str(), 0777));
  ASSERT_EQ(0, chmod(open.c_str(), 0777));
  const struct {
    std::vector<std::string> tokens;
    std::string socket;
    std::vector<std::string> says;
  } kCases[] = {
      {{"controlgroup=qznosuchgroup"},
       dir_ + "/a.sock",
       {"ERROR: controlgroup=qznosuchgroup: no such group\n",
        "**Control socket not opened: " + dir_ +
            "/a.sock: the group qznosuchgroup does not exist\n"}},
      {{"controlgroup=root", "allow=qznosuchuser:^say ", "allow=@root:(unclosed", "allow=nocolon"},
       open + "/b.sock",
       {"ERROR: Bad allow \"qznosuchuser:^say \": qznosuchuser: no such user\n",
        "ERROR: Bad allow \"@root:(unclosed\": ", "ERROR: Bad allow \"nocolon\": ",
        "**Control socket not opened: " + open + "/b.sock: others may write in the folder " +
            open}},
  };
  runProc* s = startStandin("pw", {"--rate", "0"});
  ASSERT_NE(nullptr, s) << dump();
  for (const auto& c : kCases) {
    std::vector<std::string> tokens = consoleTokens({s}, {"pw"});
    tokens.insert(tokens.end(), c.tokens.begin(), c.tokens.end());
    tokens.push_back("controlsocket=" + c.socket);
    runProc* console = startConsole(tokens);
    for (const std::string& line : c.says) {
      EXPECT_TRUE(waitFor(console, line)) << line << dump();
    }
    struct stat st;
    EXPECT_NE(0, lstat(c.socket.c_str(), &st)) << c.socket;
    stop(console);
  }
}

}  // namespace
