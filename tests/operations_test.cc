// Fleet operations end to end: rolling sends through a tagged group, one
// server after the other, and on= triggers that answer a server's line with
// a command, at most once in their cooldown, never with a player's text as
// a command of its own.
#include <csignal>
#include <string>
#include <vector>

#include "support/e2e_harness.h"
#include "support/proc.h"

namespace {

class OperationsTest : public e2eTest {
 protected:
  // A console with one server per stand-in (each with the options given),
  // all tagged eu, and the extra tokens; every session up.
  bool startConsoleFor(const std::vector<std::vector<std::string>>& standins,
                       const std::vector<std::string>& extra = {}) {
    sock_ = dir_ + "/ctl.sock";
    std::vector<std::string> tokens = {"myaddr=127.0.0.1:" + std::to_string(consolePort_),
                                       "controlsocket=" + sock_};
    tokens.insert(tokens.end(), extra.begin(), extra.end());
    for (const auto& options : standins) {
      runProc* s = startStandin("pw", options);
      if (s == nullptr) return false;
      servers_.push_back(s);
      for (std::string tok : {"server=" + addr(s), std::string("login=admin"),
                              std::string("password=pw"), std::string("tag=eu")}) {
        tokens.push_back(tok);
      }
    }
    console_ = startConsoleGreeted(tokens, servers_);
    return console_ != nullptr;
  }
  std::vector<std::string> ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {"-S", sock_});
    return args;
  }
  // The "time" members of the rolling result objects, in milliseconds of
  // the day.
  static std::vector<long> resultTimes(const std::string& json) {
    std::vector<long> times;
    for (size_t at = 0; (at = json.find("\"kind\":\"rolling\"", at)) != std::string::npos; at++) {
      size_t t = json.rfind("\"time\":\"", at) + 8 + 11;  // past the date: "HH:MM:SS.mmm"
      long ms = std::stol(json.substr(t, 2)) * 3600000 + std::stol(json.substr(t + 3, 2)) * 60000 +
                std::stol(json.substr(t + 6, 2)) * 1000 + std::stol(json.substr(t + 9, 3));
      times.push_back(ms);
    }
    return times;
  }
  std::string sock_;
  std::vector<runProc*> servers_;
  runProc* console_ = nullptr;
};

TEST_F(OperationsTest, RollingSendOneServerAfterTheOther) {
  ASSERT_TRUE(startConsoleFor({{"--rate", "0"}, {"--rate", "0"}, {"--rate", "0"}})) << dump();
  runProc* out = nullptr;
  ASSERT_EQ(0,
            runCtl(ctl({"send", "-t", "eu", "--rolling", "--gap", "1", "--json", "cmd one"}), &out))
      << dump();
  for (runProc* s : servers_) {
    EXPECT_EQ(1, countOf(s->err, "text=cmd one")) << dump();
    EXPECT_EQ(1, countOf(out->out, "{\"server\":\"" + addr(s) + "\",\"time\":")) << out->out;
  }
  std::vector<long> times = resultTimes(out->out);
  ASSERT_EQ(3u, times.size()) << out->out;
  for (int i = 1; i < 3; i++) {
    long gap = (times[i] - times[i - 1] + 86400000) % 86400000;
    EXPECT_GE(gap, 1000) << "the second turn ended before the gap was over\n" << out->out;
  }
  // Text result lines, in configuration order after each turn's own lines.
  ASSERT_EQ(0, runCtl(ctl({"send", "-t", "eu", "--rolling", "cmd two"}), &out)) << dump();
  size_t last = 0;
  for (runProc* s : servers_) {
    size_t echo = out->out.find(addr(s) + " ->echo: cmd two\n");
    size_t result = out->out.find(addr(s) + " ok ");
    EXPECT_TRUE(echo != std::string::npos && echo >= last && result > echo) << out->out;
    last = result;
  }
  EXPECT_EQ(3, countOf(out->out, " s\n")) << out->out;

  // One server gone: the run stops there.
  stop(servers_[1]);
  ASSERT_EQ(6, runCtl(ctl({"send", "-t", "eu", "--rolling", "cmd three"}), &out)) << dump();
  EXPECT_EQ(1, countOf(servers_[0]->err, "text=cmd three")) << dump();
  EXPECT_EQ(0, countOf(servers_[2]->err, "text=cmd three")) << dump();
  EXPECT_NE(std::string::npos, out->out.find(addr(servers_[0]) + " ok ")) << out->out;
  EXPECT_NE(std::string::npos, out->out.find(addr(servers_[1]) + " failed: unreachable\n"))
      << out->out;
  EXPECT_NE(std::string::npos,
            out->out.find(addr(servers_[2]) + " not sent: an earlier server failed\n"))
      << out->out;
  // With --keep-going the third gets its turn all the same.
  ASSERT_EQ(6, runCtl(ctl({"send", "-t", "eu", "--rolling", "--keep-going", "cmd four"}), &out))
      << dump();
  EXPECT_EQ(1, countOf(servers_[2]->err, "text=cmd four")) << dump();

  EXPECT_EQ(1, runCtl(ctl({"send", "-t", "asia", "--rolling", "x"}), &out));
  EXPECT_NE(std::string::npos, out->err.find("no server has the tag asia")) << out->err;
  EXPECT_EQ(1, runCtl(ctl({"send", "-a", "--rolling", "--gap", "soon", "x"}), &out));
  EXPECT_NE(std::string::npos, out->err.find("--gap takes seconds")) << out->err;
}

TEST_F(OperationsTest, CtrlCEndsARollingSendAfterTheServerInProgress) {
  ASSERT_TRUE(startConsoleFor({{"--rate", "0"}, {"--rate", "0"}, {"--rate", "0"}})) << dump();
  runProc* run = startCtl(ctl({"send", "-t", "eu", "--rolling", "--gap", "60", "cmd"}));
  ASSERT_TRUE(waitFor(run, addr(servers_[0]) + " ok ")) << dump();
  ASSERT_EQ(0, procKill(run->pid, SIGINT));  // cuts the gap short
  ASSERT_TRUE(waitExit(run)) << dump();
  ASSERT_TRUE(procExited(run->status)) << dump();
  EXPECT_EQ(11, procExitCode(run->status)) << dump();
  EXPECT_NE(std::string::npos, run->out.find(addr(servers_[1]) + " not sent: stopped\n")) << dump();
  EXPECT_NE(std::string::npos, run->out.find(addr(servers_[2]) + " not sent: stopped\n")) << dump();
  EXPECT_NE(std::string::npos, run->err.find("qzuconctl: stopped after 1 of 3 servers")) << dump();
  EXPECT_EQ(0, countOf(servers_[1]->err, "text=cmd")) << dump();
}

TEST_F(OperationsTest, RollingSendWaitsForItsLine) {
  // Its lines come every 2 s after the command: "server ready" is awaited.
  ASSERT_TRUE(startConsoleFor({{"--rate", "0.5", "--text", "server ready"}})) << dump();
  std::string s = addr(servers_[0]);
  runProc* out = nullptr;
  ASSERT_EQ(
      0,
      runCtl(ctl({"send", "-s", s, "--rolling", "--until", "ready$", "--timeout", "60", "restart"}),
             &out))
      << dump();
  size_t ready = out->out.find(s + " ->server ready\n", out->out.find("->echo: restart"));
  EXPECT_NE(std::string::npos, ready) << out->out;
  EXPECT_NE(std::string::npos, out->out.find(s + " ok ", ready)) << out->out;

  EXPECT_EQ(10, runCtl(ctl({"send", "-s", s, "--rolling", "--until", "never seen", "--timeout", "1",
                           "restart"}),
                      &out))
      << dump();
  EXPECT_NE(std::string::npos, out->out.find(s + " failed: no line matched --until within 1.0 s\n"))
      << out->out;
}

// The sum of a trigger metric's samples of one alert (and reason).
long triggerCount(const std::string& metrics, const std::string& family, const std::string& alert,
                  const std::string& reason = "") {
  long sum = 0;
  std::string key =
      "alert=\"" + alert + "\"" + (reason.empty() ? "" : ",reason=\"" + reason + "\"") + "} ";
  for (size_t at = 0; (at = metrics.find("\n" + family + "{", at)) != std::string::npos; at++) {
    std::string line = metrics.substr(at + 1, metrics.find('\n', at + 1) - at - 1);
    size_t k = line.find(key);
    if (k != std::string::npos) sum += std::stol(line.substr(k + key.size()));
  }
  return sum;
}

TEST_F(OperationsTest, TriggersAnswerALineOnceInTheirCooldown) {
  // Four "cheat bob" lines in about two seconds; a name that is no name.
  ASSERT_TRUE(startConsoleFor({{"--rate", "2", "--count", "4", "--text", "cheat bob"},
                               {"--rate", "2", "--count", "4", "--text", "name x;quit joined"}},
                              {"alert=cheat:cheat ([a-z]+)$", "on=cheat:kick \\1",
                               "alert=join:name (.+) joined$", "on=join:say welcome \\1",
                               "on=nosuch:x", "on=cheat:kick \\2", "on=cheat:", "oncooldown=soon"}))
      << dump();
  EXPECT_EQ(1, countOf(console_->out,
                       "ERROR: Bad trigger \"nosuch:x\": no alert= of that name "
                       "before it"))
      << dump();
  EXPECT_EQ(1, countOf(console_->out,
                       "ERROR: Bad trigger \"cheat:kick \\2\": \\2: the alert's "
                       "rule has 1 group"))
      << dump();
  EXPECT_EQ(1, countOf(console_->out, "ERROR: Bad trigger \"cheat:\": the command is empty"))
      << dump();
  EXPECT_EQ(1, countOf(console_->out, "ERROR: Bad value in token \"oncooldown=soon\"")) << dump();
  std::string bob = addr(servers_[0]), joiner = addr(servers_[1]);
  ASSERT_TRUE(waitFor(servers_[0], "count-reached", kStderr)) << dump();
  ASSERT_TRUE(waitFor(servers_[1], "count-reached", kStderr)) << dump();
  ASSERT_TRUE(waitFor(console_, "->cheat bob\n", kStdout, 4)) << dump();
  ASSERT_TRUE(waitFor(console_, "->name x;quit joined\n", kStdout, 4)) << dump();
  // A command after the lines is heard after any trigger they caused.
  ASSERT_EQ(0, runCtl(ctl({"send", "-a", "-w", "1", "probe"}))) << dump();
  for (runProc* s : servers_) ASSERT_TRUE(waitFor(s, "text=probe", kStderr)) << dump();
  EXPECT_EQ(1, countOf(servers_[0]->err, "text=kick bob\n")) << dump();
  EXPECT_EQ(0, countOf(servers_[1]->err, "text=say")) << dump();
  EXPECT_EQ(0, countOf(servers_[1]->err, "text=quit")) << dump();
  EXPECT_EQ(1, countOf(console_->out, "Trigger cheat: to " + bob + ": kick bob\n")) << dump();
  EXPECT_EQ(1, countOf(console_->out, "Trigger join: not sent to " + joiner +
                                          ": a group holds more than letters, digits and _-.:@ "
                                          "(said once)\n"))
      << dump();
  runProc* out = nullptr;
  ASSERT_EQ(0, runCtl(ctl({"metrics"}), &out)) << dump();
  EXPECT_EQ(1, triggerCount(out->out, "qzucon_triggers_total", "cheat")) << out->out;
  EXPECT_EQ(3, triggerCount(out->out, "qzucon_triggers_skipped_total", "cheat", "cooldown"))
      << out->out;
  EXPECT_EQ(0, triggerCount(out->out, "qzucon_triggers_total", "join")) << out->out;
  EXPECT_EQ(4, triggerCount(out->out, "qzucon_triggers_skipped_total", "join", "capture"))
      << out->out;
}

}  // namespace
