#include "ctl/ctlout.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/text.h"

namespace {

TEST(CtlSplit, TellsTheLinesApart) {
  const struct {
    const char* line;
    const char* kind;
    const char* server;
    const char* text;
    const char* state;
    const char* alert;
  } kCases[] = {
      {"127.0.0.1:28100 ->echo: keep me", "server", "127.0.0.1:28100", "echo: keep me", "", ""},
      {"127.0.0.1:28100 ->", "server", "127.0.0.1:28100", "", "", ""},
      {"console Active Server: a:1 ->x", "console", "", "Active Server: a:1 ->x", "", ""},
      {"sent 127.0.0.1:28100 up", "sent", "127.0.0.1:28100", "", "up", ""},
      {"status 127.0.0.1:1: challenge answered, lines 3, tags eu,pvp", "status", "127.0.0.1:1",
       "challenge answered, lines 3", "", ""},
      {"alert bad 127.0.0.1:2 ->drop me", "alert", "127.0.0.1:2", "drop me", "", "bad"},
      // An arrow in the text is the text's, wherever it comes.
      {"alert bad 127.0.0.1:2 ->a -> b ->", "alert", "127.0.0.1:2", "a -> b ->", "", "bad"},
      {"127.0.0.1:2 ->x ->y", "server", "127.0.0.1:2", "x ->y", "", ""},
      {"alert bad 127.0.0.1:2 x ->y", "other", "", "alert bad 127.0.0.1:2 x ->y", "", ""},
      {"dropped 4 lines", "other", "", "dropped 4 lines", "", ""},
      {"a b ->c", "other", "", "a b ->c", "", ""},  // an address holds no blank
  };
  for (const auto& c : kCases) {
    std::string line = c.line;
    ctlParts p;
    ctlSplit(&line[0], &p);
    EXPECT_STREQ(c.kind, p.kind) << c.line;
    EXPECT_STREQ(c.server, p.server) << c.line;
    EXPECT_STREQ(c.text, p.text) << c.line;
    EXPECT_STREQ(c.state, p.state) << c.line;
    EXPECT_STREQ(c.alert, p.alert) << c.line;
  }
}

TEST(CtlFilter, KeepsAnyOfEAndNoneOfV) {
  const char* keep[] = {"keep", "^x"};
  const char* hide[] = {"secret"};
  ctlFilter f;
  char err[200];
  ASSERT_TRUE(ctlFilterCompile(&f, keep, 2, hide, 1, err, sizeof err)) << err;
  const struct {
    const char* text;
    bool pass;
  } kCases[] = {{"keep me", true},
                {"drop me", false},
                {"x marks", true},
                {"keep secret", false},
                {"", false}};
  for (const auto& c : kCases) EXPECT_EQ(c.pass, ctlFilterPass(f, c.text)) << c.text;

  ctlFilter none;
  EXPECT_TRUE(ctlFilterCompile(&none, nullptr, 0, nullptr, 0, err, sizeof err));
  EXPECT_TRUE(ctlFilterPass(none, "anything"));

  const char* bad[] = {"ok", "(open"};
  ctlFilter broken;
  EXPECT_FALSE(ctlFilterCompile(&broken, keep, 1, bad, 2, err, sizeof err));
  EXPECT_EQ(0u, std::string(err).find("bad expression \"(open\": ")) << err;

  // The console's engine and syntax: Perl classes on, back references out.
  const char* words[] = {"^\\w+@\\w+\\.com$"};
  ctlFilter mail;
  ASSERT_TRUE(ctlFilterCompile(&mail, words, 1, nullptr, 0, err, sizeof err)) << err;
  EXPECT_TRUE(ctlFilterPass(mail, "bob@host.com"));
  EXPECT_FALSE(ctlFilterPass(mail, "bob at host.com"));
  const char* backRef[] = {"(a)\\1"};
  ctlFilter refused;
  EXPECT_FALSE(ctlFilterCompile(&refused, backRef, 1, nullptr, 0, err, sizeof err));
  EXPECT_STREQ("bad expression \"(a)\\1\": back reference \\1: cannot be matched in linear time",
               err);
}

// Whatever bytes a server sends come out as valid JSON in valid UTF-8: its
// UTF-8 as it is, every other byte as U+FFFD, control characters escaped.
TEST(Json, StringsAreValidUtf8) {
  const struct {
    const char* bytes;
    const char* json;
  } kCases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\" \\o/", "\"say \\\"hi\\\" \\\\o/\""},
      {"tab\there\x01\x7f", "\"tab\\u0009here\\u0001\\u007f\""},
      {"caf\xc3\xa9 \xd0\xbf\xd1\x80\xd0\xb8", "\"caf\xc3\xa9 \xd0\xbf\xd1\x80\xd0\xb8\""},
      {"caf\xfa\xfa", "\"caf\xef\xbf\xbd\xef\xbf\xbd\""},
      {"\xff"
       "a\xe2\x82",
       "\"\xef\xbf\xbd"
       "a\xef\xbf\xbd\xef\xbf\xbd\""},
      {"\xc0\xaf\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
      {"", "\"\""},
  };
  for (const auto& c : kCases) {
    char out[128];
    int len = 0;
    ASSERT_TRUE(jsonString(c.bytes, out, sizeof out, &len)) << c.bytes;
    EXPECT_STREQ(c.json, out);
    EXPECT_EQ(static_cast<int>(strlen(c.json)), len);
  }
  // Every byte from 1 to 255: no raw control byte, nothing that is not UTF-8.
  std::string all;
  for (int b = 1; b < 256; b++) all += static_cast<char>(b);
  char out[2048];
  int len = 0;
  ASSERT_TRUE(jsonString(all.c_str(), out, sizeof out, &len));
  EXPECT_EQ(utf8Clean(out, len, nullptr, 0), len) << "only UTF-8";
  for (int i = 0; i < len; i++) EXPECT_GE(static_cast<unsigned char>(out[i]), 0x20) << i;
  // Too small a buffer is refused, never cut into invalid JSON.
  len = 0;
  EXPECT_FALSE(jsonString("abc\x01", out, 8, &len));
  EXPECT_EQ(0, len);
}

TEST(Json, LineHasTheFieldsOfItsKind) {
  const struct {
    const char* line;
    const char* tags;
    const char* json;
  } kCases[] = {
      {"127.0.0.1:1 ->hi", "eu,pvp",
       R"({"server":"127.0.0.1:1","tags":["eu","pvp"],"time":"2026-12-11T02:35:16.123Z",)"
       R"("kind":"server","text":"hi"})"},
      {"console started", "",
       R"({"server":null,"tags":[],"time":"2026-12-11T02:35:16.123Z","kind":"console",)"
       R"("text":"started"})"},
      {"sent 127.0.0.1:1 waiting", "us",
       R"({"server":"127.0.0.1:1","tags":["us"],"time":"2026-12-11T02:35:16.123Z",)"
       R"("kind":"sent","text":"","state":"waiting"})"},
      {"alert bad 127.0.0.1:1 ->drop", "",
       R"({"server":"127.0.0.1:1","tags":[],"time":"2026-12-11T02:35:16.123Z",)"
       R"("kind":"alert","text":"drop","alert":"bad"})"},
  };
  for (const auto& c : kCases) {
    std::string line = c.line;
    ctlParts p;
    ctlSplit(&line[0], &p);
    char out[512];
    int len = ctlJson(p, c.tags, 1796956516123LL, out, sizeof out);
    EXPECT_STREQ(c.json, out);
    EXPECT_EQ(static_cast<int>(strlen(c.json)), len);
  }
  // A server of list, with its console's socket, address and name.
  ctlParts listed;
  strcpy(listed.server, "127.0.0.1:1");
  strcpy(listed.state, "confirmed");
  listed.kind = "list";
  listed.socket = "/run/q.sock";
  listed.myaddr = "127.0.0.1:2";
  listed.console = "site";
  char out[512];
  ASSERT_GT(ctlJson(listed, "", 1796956516123LL, out, sizeof out), 0);
  EXPECT_STREQ(out, R"({"server":"127.0.0.1:1","tags":[],"time":"2026-12-11T02:35:16.123Z",)"
                    R"("kind":"list","text":"","state":"confirmed","socket":"/run/q.sock",)"
                    R"("myaddr":"127.0.0.1:2","console":"site"})");
  ctlParts p;
  std::string line = "127.0.0.1:1 ->hi";
  ctlSplit(&line[0], &p);
  char small[40];
  EXPECT_EQ(-1, ctlJson(p, "", 0, small, sizeof small));
}

}  // namespace
