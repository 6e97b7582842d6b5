// A fleet through qzuconctl: three stand-ins with tags, commands and follows
// by tag, line filters, JSON that a JSON parser reads, and a pattern alert
// counted once per matching line.
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "support/e2e_harness.h"
#include "support/scopedenv.h"

namespace {

class FleetTest : public e2eTest {
 protected:
  // Three stand-ins tagged eu,pvp / eu / us, every session up, and the
  // alert bad:dro+p; a rule and a tag that are no good are left out.
  bool startFleet() {
    sock_ = sock_.empty() ? dir_ + "/ctl.sock" : sock_;
    const char* tags[] = {"eu,pvp", "eu", "us"};
    std::vector<std::string> tokens = {"myaddr=127.0.0.1:" + std::to_string(consolePort_),
                                       "controlsocket=" + sock_, "alert=bad:dro+p",
                                       "alert=broken:(x"};
    for (const char* t : tags) {
      runProc* s = startStandin("pw", {"--rate", "0"});
      if (s == nullptr) return false;
      servers_.push_back(s);
      for (std::string tok : {"server=" + addr(s), std::string("login=admin"),
                              std::string("password=pw"), std::string("tag=") + t,
                              std::string("tag=no good")}) {
        tokens.push_back(tok);
      }
    }
    console_ = startConsoleGreeted(tokens, servers_);
    return console_ != nullptr;
  }
  // Sends numbered probe lines to the us server until each follower printed
  // one: a follower is in place only once the console took its request,
  // which nothing else shows. Bounded; false when they never do.
  bool untilFollowing(const std::vector<runProc*>& followers, const std::string& probe) {
    for (int i = 0; i < 20; i++) {
      std::string line = probe + " " + std::to_string(i) + "\n";
      if (runCtl(ctl({"send", "-t", "us", "-w", "0", line.substr(0, line.size() - 1)})) != 0) {
        return false;
      }
      bool all = true;
      for (runProc* f : followers) all = waitFor(f, line, kStdout, 1, 1000) && all;
      if (all) return true;
    }
    return false;
  }
  // The sum over servers of qzucon_alerts_total for alert name, as
  // "qzuconctl metrics" tells it; -1 when it cannot be read.
  long alertsCounted(const std::string& name) {
    runProc* out = nullptr;
    if (runCtl(ctl({"metrics"}), &out) != 0) return -1;
    long sum = 0;
    std::string key = ",alert=\"" + name + "\"} ";
    for (size_t at = 0; (at = out->out.find("\nqzucon_alerts_total{", at)) != std::string::npos;) {
      size_t end = out->out.find('\n', at + 1);
      std::string line = out->out.substr(at + 1, end - at - 1);
      size_t k = line.find(key);
      if (k != std::string::npos) sum += std::stol(line.substr(k + key.size()));
      at = end;
    }
    return sum;
  }
  // What a follower printed after the last probe line.
  static std::string afterProbes(const std::string& out, const std::string& probe) {
    size_t at = out.rfind(probe);
    return at == std::string::npos ? out : out.substr(out.find('\n', at) + 1);
  }
  std::vector<std::string> ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {"-S", sock_});
    return args;
  }
  std::string sock_;
  std::vector<runProc*> servers_;
  runProc* console_ = nullptr;
};

TEST_F(FleetTest, SendFollowAndStatusByTag) {
  ASSERT_TRUE(startFleet()) << dump();
  runProc* out = nullptr;
  ASSERT_EQ(0, runCtl(ctl({"send", "-t", "eu", "-w", "2", "ping"}), &out)) << dump();
  EXPECT_EQ(1, countOf(out->out, addr(servers_[0]) + " ->echo: ping\n")) << out->out;
  EXPECT_EQ(1, countOf(out->out, addr(servers_[1]) + " ->echo: ping\n")) << out->out;
  EXPECT_EQ(0, countOf(out->out, addr(servers_[2]))) << out->out;
  EXPECT_EQ(1, countOf(servers_[0]->err, "text=ping")) << dump();
  EXPECT_EQ(1, countOf(servers_[1]->err, "text=ping")) << dump();
  EXPECT_EQ(0, countOf(servers_[2]->err, "text=ping")) << dump();

  // Only the us server's "keep" lines, while both lines go to all three.
  runProc* follow = startCtl(ctl({"follow", "-t", "us", "-e", "keep"}));
  ASSERT_TRUE(untilFollowing({follow}, "keep probe")) << dump();
  ASSERT_EQ(0, runCtl(ctl({"send", "-a", "-w", "1", "keep me"}))) << dump();
  ASSERT_EQ(0, runCtl(ctl({"send", "-a", "-w", "1", "drop me"}))) << dump();
  ASSERT_EQ(0, runCtl(ctl({"send", "-t", "us", "-w", "1", "keep last"}))) << dump();
  ASSERT_TRUE(waitFor(follow, "keep last")) << dump();
  stop(follow);
  EXPECT_EQ(afterProbes(follow->out, "keep probe"),
            addr(servers_[2]) + " ->echo: keep me\n" + addr(servers_[2]) + " ->echo: keep last\n");

  // Several -t mean any of them; -v hides.
  ASSERT_EQ(0, runCtl(ctl({"status", "-t", "pvp", "-t", "us"}), &out)) << dump();
  EXPECT_EQ(1, countOf(out->out, "status " + addr(servers_[0]) + ": challenge answered"));
  EXPECT_EQ(1, countOf(out->out, ", tags eu,pvp\n")) << out->out;
  EXPECT_EQ(1, countOf(out->out, ", tags us\n")) << out->out;
  EXPECT_EQ(0, countOf(out->out, addr(servers_[1]))) << out->out;

  EXPECT_EQ(1, runCtl(ctl({"send", "-t", "asia", "x"}), &out));
  EXPECT_NE(std::string::npos, out->err.find("no server has the tag asia")) << out->err;
  EXPECT_EQ(1, runCtl(ctl({"follow", "-t", "asia"}), &out));
  EXPECT_NE(std::string::npos, out->err.find("no server has the tag asia")) << out->err;
  EXPECT_EQ(1, runCtl(ctl({"follow", "-e", "(open"}), &out));
  EXPECT_NE(std::string::npos, out->err.find("bad expression \"(open\"")) << out->err;
}

TEST_F(FleetTest, AlertsAreCountedAndFollowed) {
  ASSERT_TRUE(startFleet()) << dump();
  // Named at start, and the console runs on without them.
  EXPECT_EQ(1, countOf(console_->out, "ERROR: Bad alert \"broken:(x\": ")) << dump();
  EXPECT_EQ(1, countOf(console_->out, "ERROR: Bad tag \"no good\" for server " +
                                          addr(servers_[2]) + ": a tag is letters"))
      << dump();
  runProc* alerts = startCtl(ctl({"follow", "--alerts"}));
  runProc* usAlerts = startCtl(ctl({"follow", "--alerts", "-t", "us"}));
  ASSERT_TRUE(untilFollowing({alerts, usAlerts}, "drop probe")) << dump();
  long before = alertsCounted("bad");  // the probes match as well
  ASSERT_EQ(0, runCtl(ctl({"send", "-a", "-w", "1", "drop me"}))) << dump();
  ASSERT_EQ(0, runCtl(ctl({"send", "-a", "-w", "1", "keep me"}))) << dump();
  for (runProc* s : servers_) {
    EXPECT_TRUE(waitFor(alerts, "alert bad " + addr(s) + " ->echo: drop me\n")) << dump();
  }
  ASSERT_TRUE(waitFor(usAlerts, "->echo: drop me")) << dump();
  stop(alerts);
  stop(usAlerts);
  std::string all = afterProbes(alerts->out, "drop probe");
  std::string us = afterProbes(usAlerts->out, "drop probe");
  EXPECT_EQ(3, countOf(all, "alert bad ")) << all;
  EXPECT_EQ(0, countOf(all, "keep")) << all;
  EXPECT_EQ("alert bad " + addr(servers_[2]) + " ->echo: drop me\n", us);
  // The screen line itself is as ever.
  EXPECT_EQ(3, countOf(console_->out, "\n->echo: drop me\n")) << dump();
  EXPECT_EQ(3, alertsCounted("bad") - before) << "qzucon_alerts_total{alert=\"bad\"}";
}

TEST_F(FleetTest, JsonIsOneValidObjectALine) {
  if (std::system("command -v jq >/dev/null 2>&1") != 0) GTEST_SKIP() << "no jq to parse JSON";
  // In a folder where list finds it.
  std::string run = dir_ + "/run";
  ASSERT_EQ(0, mkdir(run.c_str(), 0700));
  ASSERT_EQ(0, mkdir((run + "/qzucon").c_str(), 0700));
  envSwap xdg("XDG_RUNTIME_DIR", run.c_str());
  sock_ = run + "/qzucon/" + std::to_string(consolePort_) + ".sock";
  ASSERT_TRUE(startFleet()) << dump();
  runProc* out = nullptr;
  // A server text with a quote, a backslash, UTF-8 and a byte that is none.
  ASSERT_EQ(0,
            runCtl(ctl({"send", "-t", "us", "-w", "1", "--json", "say \"hi\" \\ caf\xc3\xa9 \xff"}),
                   &out))
      << dump();
  std::string sent = out->out;
  ASSERT_EQ(0, runCtl(ctl({"status", "--json"}), &out)) << dump();
  std::string status = out->out;
  ASSERT_EQ(0, runCtl(ctl({"list", "--json"}), &out)) << dump();
  std::string list = out->out;
  ASSERT_TRUE(writeFile("sent.json", sent) && writeFile("status.json", status) &&
              writeFile("list.json", list));
  // jq reads each line as one value; the summary is compared as text. The
  // list may show other consoles of this user too; ours is named by its port.
  std::string port = std::to_string(consolePort_);
  std::string cmd = "cd '" + dir_ +
                    "' && jq -c '[.kind,.server,.tags,.state,.text]' sent.json status.json "
                    ">parsed.txt 2>&1 && jq -e 'type == \"object\" and (.time | test(\"Z$\"))' "
                    "list.json >/dev/null && jq -s -e 'map(select(.myaddr == \"127.0.0.1:" +
                    port + "\")) | length == 3 and all(.console == \"" + port +
                    "\")' list.json "
                    ">/dev/null";
  ASSERT_EQ(0, std::system(cmd.c_str())) << readFile("parsed.txt") << sent << status << list;
  std::string parsed = readFile("parsed.txt");
  std::string us = addr(servers_[2]);
  EXPECT_NE(std::string::npos, parsed.find("[\"sent\",\"" + us + "\",[\"us\"],\"confirmed\",\"\"]"))
      << parsed;
  // The server's UTF-8 as it sent it, U+FFFD for the byte that is none
  // (the console's screen shows both as 0xFA), as jq prints them too.
  EXPECT_NE(std::string::npos, parsed.find("[\"server\",\"" + us +
                                           "\",[\"us\"],null,\"echo: say \\\"hi\\\" \\\\ "
                                           "caf\xc3\xa9 \xef\xbf\xbd\"]"))
      << parsed;
  EXPECT_NE(std::string::npos, sent.find("caf\xc3\xa9 \xef\xbf\xbd\"")) << sent;
  EXPECT_NE(std::string::npos, parsed.find("[\"status\",\"" + addr(servers_[0]) +
                                           "\",[\"eu\",\"pvp\"],null,\"challenge answered"))
      << parsed;
  EXPECT_EQ(3, countOf(list, "\"kind\":\"list\",\"text\":\"\",\"state\":\"confirmed\",\"socket\":\"" +
                                 sock_ + "\""))
      << list;
  EXPECT_EQ(1, countOf(list, "\"server\":\"" + us + "\",\"tags\":[\"us\"]")) << list;
}

}  // namespace
