#include "app/journalentry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/text.h"

namespace {

std::string entryOf(const std::string& text, const journalTags& tags, int room = 1 << 16) {
  std::string out(static_cast<size_t>(room), '\0');
  int n = journalEntry(text.data(), static_cast<int>(text.size()), tags, &out[0], room);
  return out.substr(0, static_cast<size_t>(n));
}

// The binary form of one field: name, line end, 64-bit little-endian length.
std::string binaryField(const std::string& name, const std::string& value) {
  std::string f = name + "\n";
  for (int i = 0; i < 8; i++) f += static_cast<char>((value.size() >> (8 * i)) & 0xFF);
  return f + value + "\n";
}

journalTags serverLine() {
  journalTags t;
  t.kind = kJournalServer;
  t.priority = kPrioInfo;
  t.server = "10.0.0.7:2302";
  return t;
}

TEST(JournalEntry, FieldsOfEachKindOfLine) {
  journalTags mismatch;
  mismatch.priority = kPrioWarning;
  mismatch.server = "10.0.0.7:2302";
  mismatch.event = kEventMismatch;
  journalTags command;
  command.kind = kJournalCommand;
  command.server = "10.0.0.7:2302";
  command.source = kSourceControl;
  command.uid = 1000;
  journalTags alerted = serverLine();
  alerted.priority = kPrioWarning;
  alerted.tags = "eu,pvp";
  const char* const kNames[] = {"oom", "crash"};
  alerted.alerts = kNames;
  alerted.alertCount = 2;
  journalTags typed;
  typed.kind = kJournalCommand;
  typed.source = kSourceKeyboard;
  journalTags member;
  member.kind = kJournalCommand;
  member.source = kSourceControl;
  member.uid = 1001;
  member.user = "alice";
  journalTags triggered = command;
  triggered.source = kSourceTrigger;
  triggered.uid = -1;
  struct {
    const char* label;
    std::string text;
    journalTags tags;
    std::string want;
  } cases[] = {
      {"server line", "->hello world\n", serverLine(),
       "MESSAGE=10.0.0.7:2302 ->hello world\nPRIORITY=6\nSYSLOG_IDENTIFIER=qzucon\n"
       "QZUCON_KIND=server\nQZUCON_SERVER=10.0.0.7:2302\n"},
      {"tagged line that matched two alerts", "->out of memory: crash\n", alerted,
       "MESSAGE=10.0.0.7:2302 ->out of memory: crash\nPRIORITY=4\nSYSLOG_IDENTIFIER=qzucon\n"
       "QZUCON_KIND=server\nQZUCON_SERVER=10.0.0.7:2302\nQZUCON_TAGS=eu,pvp\n"
       "QZUCON_ALERT=oom\nQZUCON_ALERT=crash\n"},
      {"console notice, no line end", "Resolving ...", journalTags(),
       "MESSAGE=Resolving ...\nPRIORITY=5\nSYSLOG_IDENTIFIER=qzucon\nQZUCON_KIND=console\n"},
      {"event", "**Password mismatch for 10.0.0.7:2302\n", mismatch,
       "MESSAGE=**Password mismatch for 10.0.0.7:2302\nPRIORITY=4\nSYSLOG_IDENTIFIER=qzucon\n"
       "QZUCON_KIND=console\nQZUCON_SERVER=10.0.0.7:2302\n"
       "MESSAGE_ID=0e4b9dc419634ca69e98ef10a6d76519\n"},
      {"control command", "Control: to 10.0.0.7:2302: status\n", command,
       "MESSAGE=Control: to 10.0.0.7:2302: status\nPRIORITY=5\nSYSLOG_IDENTIFIER=qzucon\n"
       "QZUCON_KIND=command\nQZUCON_SERVER=10.0.0.7:2302\nQZUCON_SOURCE=control\nQZUCON_UID="
       "1000\n"},
      {"a member's request", "Control: alice (uid 1001): send * say hi\n", member,
       "MESSAGE=Control: alice (uid 1001): send * say hi\nPRIORITY=5\nSYSLOG_IDENTIFIER=qzucon\n"
       "QZUCON_KIND=command\nQZUCON_SOURCE=control\nQZUCON_UID=1001\nQZUCON_USER=alice\n"},
      {"typed command", "qzuconlist\n", typed,
       "MESSAGE=qzuconlist\nPRIORITY=5\nSYSLOG_IDENTIFIER=qzucon\nQZUCON_KIND=command\n"
       "QZUCON_SOURCE=keyboard\n"},
      {"trigger's command", "Trigger cheat: to 10.0.0.7:2302: kick bob\n", triggered,
       "MESSAGE=Trigger cheat: to 10.0.0.7:2302: kick bob\nPRIORITY=5\nSYSLOG_IDENTIFIER=qzucon\n"
       "QZUCON_KIND=command\nQZUCON_SERVER=10.0.0.7:2302\nQZUCON_SOURCE=trigger\n"},
      {"empty line", "\n", journalTags(),
       "MESSAGE=\nPRIORITY=5\nSYSLOG_IDENTIFIER=qzucon\nQZUCON_KIND=console\n"},
      {"newlines inside: binary form", "->a\nb\n", serverLine(),
       binaryField("MESSAGE", "10.0.0.7:2302 ->a\nb") +
           "PRIORITY=6\nSYSLOG_IDENTIFIER=qzucon\nQZUCON_KIND=server\n"
           "QZUCON_SERVER=10.0.0.7:2302\n"},
      {"only the last line end dropped", "x\n\n", journalTags(),
       binaryField("MESSAGE", "x\n") +
           "PRIORITY=5\nSYSLOG_IDENTIFIER=qzucon\nQZUCON_KIND=console\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(entryOf(c.text, c.tags), c.want) << c.label;
}

// A server line's MESSAGE is its own text behind its server, as UTF-8
// whatever it sent; the screen's printable form is left for the screen.
// Every other field is UTF-8 too, and names its console.
TEST(JournalEntry, ServerTextAsUtf8BehindItsServer) {
  const std::string kBad = kReplacementChar;
  struct {
    const char* label;
    const char* own;
    std::string message;
  } cases[] = {
      {"UTF-8 kept", "caf\xC3\xA9 \xD0\xBF\xD1\x80\xD0\xB8\n",
       "10.0.0.7:2302 ->caf\xC3\xA9 \xD0\xBF\xD1\x80\xD0\xB8"},
      {"0xFF and 0xFA replaced", "a\xFF\xFA!", "10.0.0.7:2302 ->a" + kBad + kBad + "!"},
      {"cut sequence at the end", "x\xD0", "10.0.0.7:2302 ->x" + kBad},
  };
  for (const auto& c : cases) {
    journalTags t = serverLine();
    t.own = c.own;
    t.console = "site";
    // The screen's form, which the journal does not take.
    std::string entry = entryOf("->\xFA\xFA\n", t);
    EXPECT_EQ(entry, "MESSAGE=" + c.message +
                         "\nPRIORITY=6\nSYSLOG_IDENTIFIER=qzucon\nQZUCON_KIND=server\n"
                         "QZUCON_CONSOLE=site\nQZUCON_SERVER=10.0.0.7:2302\n")
        << c.label;
  }
  journalTags about;
  about.server = "h\xE9te:1";
  about.console = "\xFF";
  EXPECT_EQ(entryOf("Server Address: h\xE9te:1\n", about),
            "MESSAGE=Server Address: h" + kBad +
                "te:1\nPRIORITY=5\nSYSLOG_IDENTIFIER=qzucon\n"
                "QZUCON_KIND=console\nQZUCON_CONSOLE=" +
                kBad + "\nQZUCON_SERVER=h" + kBad + "te:1\n");
  // The binary form's length counts the replacement's three bytes.
  journalTags multi = serverLine();
  multi.own = "a\xFF\nb";
  EXPECT_EQ(entryOf("->?", multi), binaryField("MESSAGE", "10.0.0.7:2302 ->a" + kBad + "\nb") +
                                       "PRIORITY=6\nSYSLOG_IDENTIFIER=qzucon\nQZUCON_KIND=server\n"
                                       "QZUCON_SERVER=10.0.0.7:2302\n");
}

TEST(JournalEntry, LongLinesWholeOrNotAtAll) {
  std::string longText = "->" + std::string(1498, 'x') + "\n";  // a full datagram's text
  std::string whole = entryOf(longText, serverLine());
  ASSERT_FALSE(whole.empty());
  EXPECT_EQ(whole.compare(0, 24, "MESSAGE=10.0.0.7:2302 ->"), 0);
  EXPECT_NE(whole.find(std::string(1498, 'x') + "\nPRIORITY=6\n"), std::string::npos);
  // Exactly the room it needs, and one byte less: never a cut entry.
  int need = static_cast<int>(whole.size());
  EXPECT_EQ(entryOf(longText, serverLine(), need), whole);
  EXPECT_EQ(entryOf(longText, serverLine(), need - 1), "");
  // A long line with line ends: the length field says the value's size exactly.
  std::string many = std::string(70000, 'y');
  many[100] = '\n';
  std::string bin = entryOf(many, journalTags(), 1 << 17);
  EXPECT_EQ(bin.compare(0, 8, "MESSAGE\n"), 0);
  uint64_t size = 0;
  for (int i = 0; i < 8; i++) size |= uint64_t(static_cast<unsigned char>(bin[8 + i])) << (8 * i);
  EXPECT_EQ(size, 70000u);
}

TEST(JournalEntry, MessageIdsAreDistinctAndWellFormed) {
  EXPECT_EQ(journalMessageId(kEventNone), nullptr);
  for (int e = kEventNone + 1; e < kJournalEvents; e++) {
    const char* id = journalMessageId(static_cast<journalEvent>(e));
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(strlen(id), 32u);
    EXPECT_EQ(strspn(id, "0123456789abcdef"), 32u) << id;
    for (int o = e + 1; o < kJournalEvents; o++) {
      EXPECT_STRNE(id, journalMessageId(static_cast<journalEvent>(o)));
    }
  }
}

TEST(JournalEntry, StreamIdentity) {
  struct {
    const char* value;
    bool want;
  } cases[] = {
      {"2049:123456", true},
      {"2049:123457", false},
      {"2050:123456", false},
      {"2049:123456x", false},
      {"2049:", false},
      {":123456", false},
      {"", false},
      {nullptr, false},
      {"2049123456", false},
      {"-1:123456", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(journalStreamIs(c.value, 2049, 123456), c.want) << (c.value ? c.value : "null");
  }
}

}  // namespace
