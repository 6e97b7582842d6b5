#include "app/triggers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The command rule `regex` and template `command` make of text; "skip:REASON"
// when none.
std::string filled(const char* regex, const char* command, const char* text) {
  pattern p;
  char why[160];
  if (!patternCompile(&p, regex, why, sizeof why)) return why;
  patternSpan spans[kPatternCaptures + 1];
  int n = patternCaptures(&p, text, spans, kPatternCaptures + 1);
  patternFree(&p);
  char out[kTriggerCommandChars + 1];
  int skip = triggerFill(command, text, spans, n, out, sizeof out);
  return skip < 0 ? out : std::string("skip:") + kTriggerSkipNames[skip];
}

TEST(Triggers, PutsInOnlyHarmlessGroups) {
  const std::string longName(250, 'a');
  const struct {
    const char* regex;
    const char* command;
    std::string text;
    std::string want;
  } cases[] = {
      {"cheat ([a-z]+)$", "kick \\1", "cheat bob", "kick bob"},
      {"([\\w-]+) joined from (\\S+)", "say hi \\1 (\\2)", "Ann-2 joined from 10.0.0.1:27005",
       "say hi Ann-2 (10.0.0.1:27005)"},
      {"id (.*)$", "ban \\1", "id user_1@host.example-x", "ban user_1@host.example-x"},
      // A player's chat must never become a second command, nor a second word.
      {"name (.*) joined", "kick \\1", "name x;quit joined", "skip:capture"},
      {"name (.*) joined", "kick \\1", "name a b joined", "skip:capture"},
      {"name (.*)$", "kick \\1", "name x\"y", "skip:capture"},
      {"name (.*)$", "kick \\1", "name x\\y", "skip:capture"},
      {"name (.*)$", "kick \\1", "name x\xfay", "skip:capture"},  // unprintable, as shown
      {"name ([^\\n]*)", "kick \\1", "name x\rquit", "skip:capture"},
      // A line break ends what a group can take: the rest is no part of it.
      {"name (.*)", "kick \\1", "name x\nquit", "kick x"},
      // A group that matched nothing, or took no part, is empty; the
      // template's own text is taken as written.
      {"name (x*)(y)?$", "kick \\1\\2.", "name ", "kick ."},
      {"go", "say \\\\ 50% \\0 done", "go", "say \\\\ 50% \\0 done"},
      {"name (a+)", "say \\1 \\1", "name " + longName, "skip:length"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, filled(c.regex, c.command, c.text.c_str())) << c.text;
  }
}

TEST(Triggers, CommandsNamedAtStart) {
  const struct {
    const char* command;
    int groups;
    const char* why;  // null: valid
  } cases[] = {
      {"kick \\1", 1, nullptr},
      {"say \\9", 9, nullptr},
      {"restart", 0, nullptr},
      {"", 1, "the command is empty"},
      {"kick \\2", 1, "\\2: the alert's rule has 1 group"},
      {"kick \\1", 0, "\\1: the alert's rule has 0 groups"},
      {"say a\tb", 0, "the command holds a control character"},
  };
  for (const auto& c : cases) {
    char why[160] = "";
    EXPECT_EQ(c.why == nullptr, triggerCommandValid(c.command, c.groups, why, sizeof why))
        << c.command;
    if (c.why) {
      EXPECT_STREQ(c.why, why);
    }
  }
  char why[160];
  std::string longest(kTriggerCommandChars, 'x');
  EXPECT_TRUE(triggerCommandValid(longest.c_str(), 0, why, sizeof why));
  EXPECT_FALSE(triggerCommandValid((longest + "x").c_str(), 0, why, sizeof why));
  EXPECT_STREQ("the command is longer than 256 characters", why);

  alertset alerts;
  ASSERT_TRUE(alerts.add("cheat:cheat ([a-z]+)$", why, sizeof why)) << why;
  triggerset set;
  EXPECT_FALSE(set.add(alerts, "nosuch:kick", why, sizeof why));
  EXPECT_STREQ("no alert= of that name before it", why);
  EXPECT_FALSE(set.add(alerts, "cheat", why, sizeof why));
  EXPECT_FALSE(set.add(alerts, "cheat:kick \\2", why, sizeof why));
  EXPECT_FALSE(set.add(alerts, "cheat:", why, sizeof why));
  EXPECT_TRUE(set.add(alerts, "cheat:kick \\1", why, sizeof why)) << why;
  EXPECT_EQ(1, set.count());
}

// Lines through alerts and triggers as the receive pass takes them.
struct fixture {
  alertset alerts;
  triggerset triggers;
  fixture() {
    char why[160];
    for (const char* a : {"cheat:cheat ([a-z;]+)$", "stuck:round stuck", "other:nothing"}) {
      EXPECT_TRUE(alerts.add(a, why, sizeof why)) << why;
    }
    for (const char* t : {"cheat:kick \\1", "stuck:restart", "cheat:say bye \\1"}) {
      EXPECT_TRUE(triggers.add(alerts, t, why, sizeof why)) << why;
    }
  }
  // What one line of server `server` at tick sends and skips: "kick bob,
  // !say:capture*" (* when said).
  std::string line(int server, const char* text, uint32_t tick) {
    const char* names[kAlertsMax];
    int hits[kAlertsMax];
    int n = alerts.match(server, text, names, hits);
    if (n > 0) triggers.note(alerts, hits, n, server, text);
    std::string out;
    n = triggers.decide(tick);
    for (int i = 0; i < n; i++) {
      const triggerset::decision& d = triggers.decided(i);
      if (!out.empty()) out += ",";
      out += d.skip < 0 ? std::string(d.command)
                        : std::string("!") + kTriggerSkipNames[d.skip] + (d.say ? "*" : "");
    }
    triggers.clearDecided();
    return out;
  }
};

TEST(Triggers, OncePerTriggerAndServerInTheCooldown) {
  fixture f;
  const struct {
    int server;
    const char* text;
    uint32_t tick;
    const char* want;
  } steps[] = {
      {0, "nothing to see", 1000, ""},
      {0, "cheat bob", 1000, "kick bob,say bye bob"},
      {0, "cheat bob", 1001, "!cooldown,!cooldown"},
      {0, "cheat eve", 10999, "!cooldown,!cooldown"},   // a trigger, not a name, cools down
      {1, "cheat eve", 10999, "kick eve,say bye eve"},  // each server has its own
      {0, "round stuck", 10999, "restart"},
      {0, "cheat eve", 11000, "kick eve,say bye eve"},
      // A capture that is no name is said once per trigger and server.
      {0, "cheat x;quit", 30000, "!capture*,!capture*"},
      {0, "cheat x;quit", 30001, "!capture,!capture"},
      {1, "cheat x;quit", 30001, "!capture*,!capture*"},
      // The cooldown across the tick's wrap.
      {2, "round stuck", 0xFFFFF000u, "restart"},
      {2, "round stuck", 0x00000100u, "!cooldown"},
      {2, "round stuck", 0x00002000u, "restart"},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(s.want, f.line(s.server, s.text, s.tick)) << s.text << " at " << s.tick;
  }
  // Counted under the alert: two triggers of cheat add up.
  EXPECT_EQ(4u, f.triggers.sent(0, 0));
  EXPECT_EQ(4u, f.triggers.skipped(0, 0, kSkipCooldown));
  EXPECT_EQ(4u, f.triggers.skipped(0, 0, kSkipCapture));
  EXPECT_EQ(2u, f.triggers.sent(1, 2));
  EXPECT_EQ(0u, f.triggers.sent(2, 0));
  EXPECT_TRUE(f.triggers.firstOfAlert(0));
  EXPECT_TRUE(f.triggers.firstOfAlert(1));
  EXPECT_FALSE(f.triggers.firstOfAlert(2));

  f.triggers.setCooldownMs(0);
  EXPECT_EQ("kick bob,say bye bob", f.line(0, "cheat bob", 30002));
  EXPECT_EQ("kick bob,say bye bob", f.line(0, "cheat bob", 30002));
}

}  // namespace
