#include "ctl/ctlargs.h"

#include <gtest/gtest.h>

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
  p = parse({"reload", "--json"});
  EXPECT_TRUE(p.ok && p.args.command == kCmdReload && p.args.json) << p.err;
  EXPECT_TRUE(parse({"--help"}).args.help);
  // --version before the command, even after an option, ends the reading.
  p = parse({"-p", "27000", "--version", "nonsense"});
  EXPECT_TRUE(p.ok && p.args.version && !p.args.help) << p.err;
  EXPECT_FALSE(parse({"status", "--version"}).ok) << "after the command it is no option of status";
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
  p = parse({"-p", "27000", "top", "-t", "eu"});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_EQ(p.args.command, kCmdTop);
  EXPECT_EQ(p.args.tagCount, 1);

  const std::vector<std::vector<const char*>> bad = {
      {"send", "-t", "eu", "-a", "x"},  // a group and all
      {"send", "-s", "a:1", "-t", "eu", "x"},
      {"send", "-t", "e u", "x"},  // not a tag
      {"send", "-t", "", "x"},
      {"status", "-e", "x"},  // filters are follow's
      {"send", "--alerts", "x"},
      {"do", "--json", "x"},  // a typed line answers in console messages only
      {"top", "-s", "a:1"},   // the view is of the fleet, or of tags
      {"top", "--json"},
      {"top", "x"},
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

TEST(CtlArgs, RollingSend) {
  parsed p = parse({"send", "-t", "eu", "--rolling", "--gap", "1.5", "--until", "ready$",
                    "--timeout", "30", "--keep-going", "--json", "restart"});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_TRUE(p.args.rolling && p.args.keepGoing && p.args.json);
  EXPECT_EQ(1500, p.args.gapMs);
  EXPECT_EQ(30000, p.args.timeoutMs);
  EXPECT_STREQ("ready$", p.args.until);
  p = parse({"send", "-a", "--rolling", "x"});
  ASSERT_TRUE(p.ok) << p.err;
  EXPECT_EQ(0, p.args.gapMs);
  EXPECT_EQ(kCtlUntilTimeoutMs, p.args.timeoutMs);
  EXPECT_EQ(nullptr, p.args.until);

  const struct {
    std::vector<const char*> words;
    const char* err;
  } bad[] = {
      {{"send", "--rolling", "x"}, "--rolling needs -s, -a or -t"},
      {{"send", "-a", "--rolling", "--gap", "soon", "x"},
       "--gap takes seconds from 0 to 86400: soon"},
      {{"send", "-a", "--rolling", "--gap", "-1", "x"}, "--gap takes seconds"},
      {{"send", "-a", "--rolling", "--timeout", "2m", "x"}, "--timeout takes seconds"},
      {{"send", "-a", "--rolling", "--timeout", "", "x"}, "--timeout takes seconds"},
      {{"send", "-a", "--rolling", "--until"}, "missing value after: --until"},
      {{"send", "-a", "--gap", "1", "x"}, "need --rolling"},
      {{"send", "-a", "--keep-going", "x"}, "need --rolling"},
      {{"status", "--rolling"}, "unknown option: --rolling"},
      {{"follow", "-a", "--until", "x"}, "unknown option"},
  };
  for (const auto& c : bad) {
    parsed q = parse(c.words);
    EXPECT_FALSE(q.ok) << c.err;
    EXPECT_NE(std::string::npos, q.err.find(c.err)) << q.err;
  }
}

TEST(CtlArgs, HostsBeforeTheCommand) {
  const struct {
    std::vector<const char*> words;
    const char* hosts;
    int hostsAt;  // argv index of -H, 0 when not given
  } rows[] = {
      {{"-H", "h1,h2", "status"}, "h1,h2", 1},
      {{"-S", "/x.sock", "-H", "ssh://u@h:22", "send", "-a", "--", "-H"}, "ssh://u@h:22", 3},
      {{"-p", "27000", "list"}, nullptr, 0},
  };
  for (const auto& row : rows) {
    parsed p = parse(row.words);
    ASSERT_TRUE(p.ok) << p.err;
    if (row.hosts) {
      EXPECT_STREQ(p.args.hosts, row.hosts);
    } else {
      EXPECT_EQ(p.args.hosts, nullptr);
    }
    EXPECT_EQ(p.args.hostsAt, row.hostsAt);
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
      {"reload", "site.ini"},             // a reload reads the sources of the start
      {"follow", "-a"},                   // -a is send's
      {"send", "two\nlines"},             // a line break would be a second request
      {"-H"},                             // -H without its hosts
      {"-H", "", "status"},               // -H with none
      {"status", "-H", "h1"},             // -H is an option before the command
      {"-H", "h1", "-H", "h2", "status"}, // the hosts would run the second one
  };
  for (const auto& words : bad) {
    parsed p = parse(words);
    std::string shown;
    for (const char* w : words) shown += std::string(w) + " ";
    EXPECT_FALSE(p.ok) << shown;
    EXPECT_FALSE(p.err.empty()) << shown;
  }
}

}  // namespace
