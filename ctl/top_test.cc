#include "ctl/top.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace {

TEST(TopAnswer, HeadAndRowsTakenApart) {
  topHead h;
  ASSERT_TRUE(parseTopHead("top 2 1 3 4.5 7 127.0.0.1:28000 my site", &h));
  EXPECT_EQ(h.matched, 2);
  EXPECT_EQ(h.up, 1);
  EXPECT_EQ(h.total, 3);
  EXPECT_DOUBLE_EQ(h.perSec, 4.5);
  EXPECT_EQ(h.alerts, 7u);
  EXPECT_STREQ(h.myaddr, "127.0.0.1:28000");
  EXPECT_STREQ(h.name, "my site");
  topRow r;
  ASSERT_TRUE(parseTopRow("row 127.0.0.1:28100 confirmed 30 11 2 3 eu,pvp", &r));
  EXPECT_STREQ(r.addr, "127.0.0.1:28100");
  EXPECT_STREQ(r.state, "confirmed");
  EXPECT_EQ(r.perMin, 30u);
  EXPECT_EQ(r.age, 11);
  EXPECT_EQ(r.alerts, 2u);
  EXPECT_EQ(r.commands, 3u);
  EXPECT_STREQ(r.tags, "eu,pvp");
  ASSERT_TRUE(parseTopRow("row 10.0.0.1:5 waiting 0 - 0 0 ", &r));
  EXPECT_EQ(r.age, -1);
  EXPECT_STREQ(r.tags, "");
  const char* kBad[] = {"row", "row 1.2.3.4:5 up x 1 2 3", "top 1 2",
                        "ok",  "rows 1 2 3 4 5 6 7",       "row 1.2.3.4:5 up 1 2 3"};
  for (const char* line : kBad) {
    EXPECT_FALSE(parseTopRow(line, &r) || parseTopHead(line, &h)) << line;
  }
}

// A model of 10 matched rows, 4 on the screen, a server selected.
topModel model() {
  topModel m;
  topSettle(&m, 10, 4);
  strcpy(m.selAddr, "127.0.0.1:28100");
  return m;
}

TEST(TopKeys, MovingScrollsTheWindow) {
  const struct {
    const char* keys;
    int selected, offset;
    topAct last;
  } kCases[] = {
      {"j", 1, 0, kActNone},  {"jjjj", 4, 1, kActFetch}, {"k", 0, 0, kActNone},
      {"G", 9, 6, kActFetch}, {"Gk", 8, 6, kActNone},    {"Gkkkk", 5, 5, kActFetch},
      {" ", 4, 1, kActFetch}, {"Gg", 0, 0, kActFetch},   {"jjs", 0, 0, kActFetch},
  };
  for (const auto& c : kCases) {
    topModel m = model();
    topAct act = kActNone;
    for (const char* k = c.keys; *k; k++) act = topKey(&m, *k);
    EXPECT_EQ(m.selected, c.selected) << c.keys;
    EXPECT_EQ(m.offset, c.offset) << c.keys;
    EXPECT_EQ(act, c.last) << c.keys;
  }
  // Fewer rows than before: the selection stays on the last one.
  topModel m = model();
  topKey(&m, 'G');
  EXPECT_TRUE(topSettle(&m, 3, 4));
  EXPECT_EQ(m.selected, 2);
  EXPECT_EQ(m.offset, 0);
  topSettle(&m, 0, 4);
  EXPECT_EQ(m.selected, 0);
}

TEST(TopKeys, TheSelectionStaysOnItsServer) {
  topRow rows[3];
  const char* kAddrs[] = {"10.0.0.1:1", "10.0.0.2:1", "10.0.0.3:1"};
  for (int i = 0; i < 3; i++) strcpy(rows[i].addr, kAddrs[i]);
  topModel m;
  topSettle(&m, 3, 10);
  topKeepSelection(&m, rows, 3);  // the first rows: the first is selected
  EXPECT_STREQ(m.selAddr, "10.0.0.1:1");
  topKey(&m, 'j');  // a key moved the selection: the row at its place now
  EXPECT_STREQ(m.selAddr, "");
  topKeepSelection(&m, rows, 3);
  EXPECT_EQ(m.selected, 1);
  EXPECT_STREQ(m.selAddr, "10.0.0.2:1");
  // The order changed (by rate, say): the selection follows the server.
  std::swap(rows[0], rows[1]);
  topKeepSelection(&m, rows, 3);
  EXPECT_EQ(m.selected, 0);
  EXPECT_STREQ(m.selAddr, "10.0.0.2:1");
  // Its server left the window: the row at the selection's place.
  strcpy(rows[0].addr, "10.0.0.9:1");
  topKeepSelection(&m, rows, 3);
  EXPECT_EQ(m.selected, 0);
  EXPECT_STREQ(m.selAddr, "10.0.0.9:1");
  topKeepSelection(&m, rows, 0);
  EXPECT_STREQ(m.selAddr, "");

  // Down past the window's last row: the window moves, and the new rows'
  // last is the selection (as the view does it: the rows come, then this).
  topRow all[6];
  for (int i = 0; i < 6; i++) snprintf(all[i].addr, sizeof all[i].addr, "10.0.1.%d:1", i);
  topModel w;
  topSettle(&w, 6, 4);
  topKeepSelection(&w, all, 4);
  for (int i = 0; i < 3; i++) EXPECT_EQ(topKey(&w, 'j'), kActNone);
  topKeepSelection(&w, all, 4);
  EXPECT_STREQ(w.selAddr, "10.0.1.3:1");
  EXPECT_EQ(topKey(&w, 'j'), kActFetch);
  topKeepSelection(&w, all + w.offset, 4);
  EXPECT_EQ(w.selected, 4);
  EXPECT_STREQ(w.selAddr, "10.0.1.4:1");
}

TEST(TopKeys, FilterCommandGroupAndQuit) {
  topModel m = model();
  EXPECT_EQ(topKey(&m, '/'), kActNone);
  EXPECT_EQ(topKey(&m, 'u'), kActFetch);
  EXPECT_EQ(topKey(&m, 's'), kActFetch);  // typed, not the order key
  EXPECT_STREQ(m.filter, "us");
  EXPECT_EQ(m.sort, 0);
  EXPECT_EQ(topKey(&m, kKeyBackspace), kActFetch);
  EXPECT_STREQ(m.filter, "u");
  EXPECT_EQ(topKey(&m, kKeyEnter), kActNone);
  EXPECT_EQ(m.mode, kModeList);
  EXPECT_EQ(topKey(&m, kKeyEsc), kActFetch);  // Esc clears the filter
  EXPECT_STREQ(m.filter, "");

  // Enter opens and closes the pane (the view keeps m.pane).
  EXPECT_EQ(topKey(&m, kKeyEnter), kActPaneOpen);
  m.pane = true;
  EXPECT_EQ(topKey(&m, kKeyEnter), kActPaneClose);

  // ':' types a command for the selected server; 'q' in it is a letter.
  // Rows that move meanwhile do not change where it goes.
  topKey(&m, ':');
  for (const char* k = "qu"; *k; k++) EXPECT_EQ(topKey(&m, *k), kActNone);
  strcpy(m.selAddr, "127.0.0.1:28101");  // a refresh selected another row
  for (const char* k = "it"; *k; k++) EXPECT_EQ(topKey(&m, *k), kActNone);
  EXPECT_EQ(topKey(&m, kKeyEnter), kActSend);
  EXPECT_STREQ(m.command, "quit");
  EXPECT_STREQ(m.cmdAddr, "127.0.0.1:28100");
  topKey(&m, ':');
  topKey(&m, 'x');
  EXPECT_EQ(topKey(&m, kKeyEsc), kActNone);  // nothing sent
  EXPECT_EQ(m.mode, kModeList);

  // '@': the group, then y or n.
  topKey(&m, '@');
  topKey(&m, 'h');
  topKey(&m, 'i');
  EXPECT_EQ(topKey(&m, kKeyEnter), kActGroupAsk);
  m.mode = kModeConfirm;
  EXPECT_EQ(topKey(&m, 'x'), kActNone);
  EXPECT_EQ(m.mode, kModeConfirm);
  EXPECT_EQ(topKey(&m, 'y'), kActGroupSend);
  m.mode = kModeConfirm;
  EXPECT_EQ(topKey(&m, 'n'), kActNone);
  EXPECT_STREQ(m.note, "nothing sent");

  // Ctrl-C quits from any mode; q only from the list.
  topKey(&m, '/');
  EXPECT_EQ(topKey(&m, 'q'), kActFetch);
  EXPECT_EQ(topKey(&m, kKeyCtrlC), kActQuit);
  m.mode = kModeList;
  EXPECT_EQ(topKey(&m, 'q'), kActQuit);

  // Nothing selected: no command, a note instead.
  topModel none;
  EXPECT_EQ(topKey(&none, ':'), kActNone);
  EXPECT_EQ(none.mode, kModeList);
  EXPECT_STREQ(none.note, "no server to send to");
}

TEST(TopText, RequestRowsAndWidths) {
  topModel m = model();
  char line[256];
  topRequestLine(m, "*", 20, line, sizeof line);
  EXPECT_STREQ(line, "top address 0 20 *");
  strcpy(m.filter, "no answer");
  m.sort = 2;
  topRequestLine(m, "@eu,us", 5, line, sizeof line);
  EXPECT_STREQ(line, "top rate 0 5 @eu,us no answer");

  topRow r;
  ASSERT_TRUE(parseTopRow("row 127.0.0.1:28100 mismatch 1234 3700 2 3 eu,pvp,a-long-tag", &r));
  topFormatRow(r, 80, line, sizeof line);
  EXPECT_EQ(std::string(line),
            "127.0.0.1:28100       eu,pvp,a-lon password mismatch    1234   61m      2     3");
  EXPECT_LT(strlen(line), 80u);
  topTitles(80, line, sizeof line);
  EXPECT_EQ(std::string(line),
            "ADDRESS               TAGS         STATE             LINES/M  LAST ALERTS  CMDS");

  const struct {
    long secs;
    const char* text;
  } kAges[] = {{-1, "-"},      {0, "0s"},    {119, "119s"}, {120, "2m"},
               {7199, "119m"}, {7200, "2h"}, {172800, "2d"}};
  for (const auto& a : kAges) {
    topAge(a.secs, line, sizeof line);
    EXPECT_STREQ(line, a.text) << a.secs;
  }
  EXPECT_STREQ(topStateText("waiting"), "challenge sent");
  EXPECT_STREQ(topStateText("later"), "later");
  EXPECT_EQ(topStateColour("confirmed"), 1);
  EXPECT_EQ(topStateColour("up"), 2);
  EXPECT_EQ(topStateColour("noanswer"), 3);
}

TEST(TopText, FitsColumnsAndDrawsOnlyPrintableCells) {
  const char* old = setlocale(LC_CTYPE, nullptr);
  std::string saved = old ? old : "C";
  ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  const struct {
    const char* text;
    int cols, bytes, used;
  } kCases[] = {
      {"abc", 2, 2, 2},
      {"h\xc3\xa9llo", 2, 3, 2},              // é is two bytes, one column
      {"\xe6\xbc\xa2\xe5\xad\x97", 3, 3, 2},  // a wide character takes two columns
      {"a\xff"
       "b",
       3, 3, 3},  // a stray byte takes one column
      {"", 5, 0, 0},
  };
  for (const auto& c : kCases) {
    int used = -1;
    EXPECT_EQ(fitColumns(c.text, c.cols, &used), c.bytes) << c.text;
    EXPECT_EQ(used, c.used) << c.text;
  }
  // Nothing the terminal would act on is drawn, in any encoding.
  const struct {
    const char* text;
    const char* shown;
  } kShown[] = {
      {"plain \xc3\xa9t\xc3\xa9", "plain \xc3\xa9t\xc3\xa9"},
      {"\x1b]0;title\x07x", "?]0;title?x"},        // C0: an escape, a bell
      {"a\xc2\x9b" "2J", "a?2J"},                 // C1 in UTF-8: a CSI
      {"a\x9b" "2J\x7f", "a?2J?"},                // C1 as a lone byte, DEL
      {"tab\there", "tab here"},
  };
  for (const auto& c : kShown) {
    char out[64];
    topPrintable(c.text, out, sizeof out);
    EXPECT_STREQ(out, c.shown) << c.text;
  }
  setlocale(LC_CTYPE, saved.c_str());
}

TEST(TopPane, KeepsTheLastLines) {
  static topPane p;
  for (int i = 0; i < kPaneLines + 5; i++) p.add(std::to_string(i).c_str());
  EXPECT_EQ(p.count, kPaneLines);
  EXPECT_STREQ(p.last(2, 0), std::to_string(kPaneLines + 3).c_str());
  EXPECT_STREQ(p.last(2, 1), std::to_string(kPaneLines + 4).c_str());
}

}  // namespace
