#include "ctl/ctlcore.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <string>
#include <vector>

namespace {

struct parsed {
  bool ok;
  ctlArgs args;
  std::string err;
};

parsed parse(std::vector<const char*> words) {
  words.insert(words.begin(), "qzuconctl");
  parsed p;
  char err[256] = "";
  p.ok = parseCtlArgs(static_cast<int>(words.size()), words.data(), &p.args, err, sizeof err);
  p.err = err;
  return p;
}

TEST(CtlArgs, AcceptsTheDocumentedForms) {
  parsed p = parse({"-p", "27000", "send", "-s", "1.2.3.4:5", "-w", "0.5", "status", "list x"});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_EQ(p.args.command, kCmdSend);
  EXPECT_EQ(p.args.port, 27000);
  EXPECT_STREQ(p.args.server, "1.2.3.4:5");
  EXPECT_EQ(p.args.waitMs, 500);
  ASSERT_EQ(p.args.lineCount, 2);
  EXPECT_STREQ(p.args.lines[1], "list x");

  // Once the LINEs begin, a dash is text; "--" lets a LINE begin with one.
  p = parse({"send", "-a", "--", "-x", "-s"});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_TRUE(p.args.all);
  EXPECT_EQ(p.args.waitMs, 2000);
  EXPECT_EQ(p.args.lineCount, 2);

  p = parse({"-S", "/run/x.sock", "follow", "-s", "h:1"});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_STREQ(p.args.socket, "/run/x.sock");
  EXPECT_TRUE(parse({"do", "qzuconactive", "1.2.3.4:5"}).ok);
  EXPECT_EQ(parse({"-p", "27000", "metrics"}).args.command, kCmdMetrics);
  EXPECT_TRUE(parse({"--help"}).args.help);
}

TEST(CtlArgs, FleetOptions) {
  parsed p = parse({"follow", "-t", "us", "-t", "eu", "-e", "keep", "-v", "me$", "-e", "x",
                    "--json", "--alerts"});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_TRUE(p.args.json);
  EXPECT_TRUE(p.args.alerts);
  ASSERT_EQ(2, p.args.keepCount);
  EXPECT_STREQ("x", p.args.keep[1]);
  ASSERT_EQ(1, p.args.hideCount);
  char target[64];
  tagTarget(p.args, target, sizeof target);
  EXPECT_STREQ("@us,eu", target);
  EXPECT_TRUE(parse({"send", "-t", "eu", "--json", "x"}).ok);
  EXPECT_TRUE(parse({"status", "-t", "eu", "--json"}).ok);
  EXPECT_TRUE(parse({"list", "--json"}).ok);

  const std::vector<std::vector<const char*>> bad = {
      {"send", "-t", "eu", "-a", "x"},  // a group and all
      {"send", "-s", "a:1", "-t", "eu", "x"},
      {"send", "-t", "e u", "x"},  // not a tag
      {"send", "-t", "", "x"},
      {"status", "-e", "x"},  // filters are follow's
      {"send", "--alerts", "x"},
      {"do", "--json", "x"},  // a typed line answers in console messages only
      {"follow", "-t"},       // missing value
      {"follow", "-t", "a", "-t", "b", "-t", "c", "-t", "d", "-t", "e", "-t", "f", "-t", "g", "-t",
       "h", "-t", "i"},  // more tags than a server can have
  };
  for (const auto& words : bad) {
    parsed q = parse(words);
    std::string shown;
    for (const char* w : words) shown += std::string(w) + " ";
    EXPECT_FALSE(q.ok) << shown;
    EXPECT_FALSE(q.err.empty()) << shown;
  }
}

TEST(CtlArgs, RefusesUsageErrors) {
  const std::vector<std::vector<const char*>> bad = {
      {},                                 // no command
      {"frobnicate"},                     // unknown command
      {"-p", "65536", "status"},          // port out of range
      {"-p", "27x", "status"},            // not a number
      {"-p", "1", "-S", "/x", "status"},  // both ways to name a console
      {"send"},                           // nothing to send
      {"send", "-s", "a:1", "-a", "x"},   // one server and all
      {"send", "-w", "-1", "x"},          // negative wait
      {"send", "-w"},                     // missing value
      {"status", "extra"},                // stray argument
      {"metrics", "-s", "a:1"},           // metrics are the whole console's
      {"follow", "-a"},                   // -a is send's
      {"send", "two\nlines"},             // a line break would be a second request
  };
  for (const auto& words : bad) {
    parsed p = parse(words);
    std::string shown;
    for (const char* w : words) shown += std::string(w) + " ";
    EXPECT_FALSE(p.ok) << shown;
    EXPECT_FALSE(p.err.empty()) << shown;
  }
}

TEST(CtlReplies, KindsAndStatuses) {
  EXPECT_EQ(ctlKind("ok"), kLineOk);
  EXPECT_EQ(ctlKind("okay"), kLineOther);
  EXPECT_EQ(ctlKind("error unknown server x"), kLineError);
  EXPECT_EQ(ctlKind("sent 1.2.3.4:5 up"), kLineSent);
  EXPECT_EQ(ctlKind("console **hello"), kLineConsole);
  EXPECT_EQ(ctlKind("dropped 3 lines"), kLineDropped);
  EXPECT_EQ(ctlKind("1.2.3.4:5 ->ok"), kLineOther);

  EXPECT_EQ(stateStatus("confirmed"), kCtlOk);
  EXPECT_EQ(stateStatus("up"), kCtlUnconfirmed) << "answered is not shown right";
  EXPECT_EQ(stateStatus("mismatch"), kCtlMismatch);
  EXPECT_EQ(stateStatus("noanswer"), kCtlNoAnswer);
  EXPECT_EQ(stateStatus("waiting"), kCtlWaiting);
  EXPECT_EQ(worseStatus(kCtlOk, kCtlWaiting), kCtlWaiting);
  EXPECT_EQ(worseStatus(kCtlNoAnswer, kCtlMismatch), kCtlMismatch);
  EXPECT_EQ(worseStatus(kCtlWaiting, kCtlNoAnswer), kCtlNoAnswer);
  EXPECT_EQ(worseStatus(kCtlUnconfirmed, kCtlWaiting), kCtlWaiting);
  EXPECT_EQ(worseStatus(kCtlOk, kCtlUnconfirmed), kCtlUnconfirmed);
  EXPECT_EQ(worseStatus(kCtlOk, kCtlOk), kCtlOk);
}

TEST(CtlReplies, NothingATerminalWouldObeyIsPrinted) {
  const struct {
    const char* in;
    const char* out;
  } kCases[] = {
      {"\x1b]0;owned\x07\x1b[2J", "?]0;owned??[2J"},   // title, bell, clear screen
      {"1.2.3.4:5 ->a\x1b[1;1Hb\x7f", "1.2.3.4:5 ->a?[1;1Hb?"},  // cursor move, DEL
      {"tab\tstays \r\b\x0e", "tab\tstays ???"},
      {"caf\xc3\xa9 ok", "caf\xc3\xa9 ok"},  // text beyond ASCII passes
  };
  for (const auto& c : kCases) {
    char line[64];
    snprintf(line, sizeof line, "%s", c.in);
    tameLine(line);
    EXPECT_STREQ(line, c.out) << c.in;
  }
}

// A send's wait ends once every server it went to has answered and then
// kept quiet; lines of others, and sent lines, do not count.
TEST(CtlAnswerWait, EndsWhenEveryServerAnsweredAndWentQuiet) {
  answerWait w;
  EXPECT_EQ(-1, w.left(0)) << "no server: only the deadline ends it";
  w.add("10.0.0.1:1 up");
  w.add("10.0.0.2:2 confirmed");
  w.add("10.0.0.1:1 up");  // a second LINE to the same servers
  w.heard("10.0.0.1:1 ->echo: status", 100);
  w.heard("10.0.0.3:3 ->not addressed", 100);
  w.heard("10.0.0.2:2x ->a longer address", 100);
  EXPECT_EQ(-1, w.left(150)) << "10.0.0.2:2 has not answered";
  EXPECT_TRUE(w.answered("10.0.0.1:1"));
  EXPECT_FALSE(w.answered("10.0.0.2:2"));
  w.heard("10.0.0.2:2 ->echo: status", 200);
  EXPECT_EQ(200 + kCtlQuietMs - 250, w.left(250)) << "the last to speak sets the end";
  w.heard("10.0.0.1:1 ->more", 400);
  EXPECT_EQ(kCtlQuietMs, w.left(400)) << "a line starts the quiet again";
  EXPECT_EQ(0, w.left(400 + kCtlQuietMs));

  answerWait big;
  for (int i = 0; i <= kCtlWaitServers; i++) big.add(("10.1.0.1:" + std::to_string(i)).c_str());
  for (int i = 0; i <= kCtlWaitServers; i++) {
    big.heard(("10.1.0.1:" + std::to_string(i) + " ->x").c_str(), 0);
  }
  EXPECT_EQ(-1, big.left(10000)) << "servers it cannot track: the wait runs to -w";
}

}  // namespace
