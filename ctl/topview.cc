// qzuconctl top's screen, keys and connections.
#include "ctl/topview.h"

#include <curses.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ctl/answer.h"
#include "ctl/ctlconn.h"
#include "ctlproto/words.h"
#include "runtime/clock.h"
#include "runtime/flexar.h"
#include "runtime/keyboard.h"
#include "runtime/signals.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"

namespace {

constexpr long kRefreshMs = 1000;
constexpr long kAnswerWaitMs = 10000;    // for an answer of the console
constexpr unsigned kEndedShowMs = 1500;  // the screen's last word stays this long
constexpr int kLineSize = 8192;

volatile int g_topSignal = 0;
void onSignal(int sig) { g_topSignal = sig; }

// ---- drawing ----

const char* const kHelp[] = {
    "qzuconctl top: one row per server of the console",
    "",
    "  Up Down j k      move the selection (PgUp PgDn Space Home End g G too)",
    "  s                order by address, state, rate, last line in turn",
    "  /                filter as you type: address, tag or state; Enter keeps it",
    "  Esc              clear the filter",
    "  Enter            the selected server's lines below; Enter again closes them",
    "  :                type a command for the selected server; Enter sends it",
    "  @                type a command for every server the filter shows; y sends",
    "  ?                this help",
    "  q Ctrl-C         quit",
    "",
    "any key: back",
};

// Text at y, x, cut to cols columns: printable cells only (topPrintable).
void put(int y, int x, const char* text, int cols) {
  if (cols <= 0) return;
  char line[kTopTextChars + 64];
  topPrintable(text, line, sizeof line);
  mvaddnstr(y, x, line, fitColumns(line, cols, nullptr));
}

const char* footText(const topModel& m, const topScreen& s, char* out, int size) {
  switch (m.mode) {
    case kModeFilter:
      trf(out, size, "/%s", m.filter);
      break;
    case kModeCommand:
      trf(out, size, "command for %s: %s", m.cmdAddr, m.typed);
      break;
    case kModeGroup:
      trf(out, size, "command for the %d servers shown: %s", m.matched, m.typed);
      break;
    case kModeConfirm:
      trf(out, size, "send \"%s\" to %d servers? y/n", m.command, s.groupCount);
      break;
    default:
      if (s.ended) {
        trf(out, size, "%s", s.ended);
      } else if (m.note[0]) {
        trf(out, size, "%s", m.note);
      } else {
        trf(out, size, "Enter lines  : command  @ all shown  / filter  s order  ? help  q quit");
      }
  }
  return out;
}

void drawRows(const topModel& m, const topScreen& s, int top, int rows, int width) {
  char line[kTopTextChars];
  int stateCol = topStateColumn(width);
  for (int i = 0; i < rows && i < s.rowCount; i++) {
    const topRow& r = s.rows[i];
    topFormatRow(r, width, line, sizeof line);
    bool selected = m.offset + i == m.selected;
    if (selected) attron(A_REVERSE);
    put(top + i, 0, line, width - 1);
    if (selected) attroff(A_REVERSE);
    int colour = topStateColour(r.state);
    if (colour && has_colors()) {
      mvchgat(top + i, stateCol, 17, (selected ? A_REVERSE : A_NORMAL) | A_BOLD,
              static_cast<short>(colour), nullptr);
    }
  }
  if (s.rowCount == 0)
    put(top, 0, m.filter[0] ? "no server matches the filter" : "no servers", width - 1);
}

}  // namespace

bool topScreenStart(FILE* in, FILE* out) {
  if (!newterm(nullptr, out, in)) return false;
  raw();  // Ctrl-C comes as a key: the view ends as q ends it
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  if (has_colors()) {
    start_color();
    use_default_colors();
    init_pair(1, COLOR_GREEN, -1);
    init_pair(2, COLOR_YELLOW, -1);
    init_pair(3, COLOR_RED, -1);
  }
  return true;
}

void topScreenEnd() {
  endwin();
  delscreen(set_term(nullptr));  // what newterm took, given back
}

void topDraw(const topModel& m, const topScreen& s) {
  erase();
  int width = COLS;
  char one[kTopTextChars], two[kTopTextChars];
  struct tm now = {};
  trLocalTime(trTime(), &now);
  topHeadLines(s.head, m, now, one, two, sizeof one);
  attron(A_BOLD);
  put(0, 0, one, width - 1);
  attroff(A_BOLD);
  put(1, 0, two, width - 1);
  if (m.mode == kModeHelp) {
    for (int i = 0; i < static_cast<int>(sizeof kHelp / sizeof kHelp[0]) && 3 + i < LINES - 1;
         i++) {
      put(3 + i, 0, kHelp[i], width - 1);
    }
  } else {
    topLayout l = topLayoutFor(LINES, m.pane);
    topTitles(width, one, sizeof one);
    attron(A_REVERSE);
    put(2, 0, one, width - 1);
    attroff(A_REVERSE);
    drawRows(m, s, 3, l.listRows, width);
    if (m.pane) {
      int y = 3 + l.listRows;
      attron(A_REVERSE);
      mvhline(y, 0, ' ', width);
      put(y, 0, s.paneTitle, width - 1);
      attroff(A_REVERSE);
      int n = s.pane.count < l.paneRows ? s.pane.count : l.paneRows;
      for (int i = 0; i < n; i++) put(y + 1 + i, 0, s.pane.last(n, i), width - 1);
    }
  }
  char foot[kTopTextChars + 64];
  footText(m, s, foot, sizeof foot);
  if (s.ended) attron(A_BOLD);
  put(LINES - 1, 0, foot, width - 1);
  if (s.ended) attroff(A_BOLD);
  bool typing = m.mode == kModeFilter || m.mode == kModeCommand || m.mode == kModeGroup;
  curs_set(typing ? 1 : 0);
  if (typing) {
    int used = 0;
    fitColumns(foot, width - 1, &used);
    move(LINES - 1, used);
  }
  refresh();
}

namespace {

struct groupEntry {
  char addr[kTopAddrChars + 1];
};
int byAddr(const void* a, const void* b) {
  return strcmp(static_cast<const groupEntry*>(a)->addr, static_cast<const groupEntry*>(b)->addr);
}

struct view {
  const char* path = nullptr;
  bool named = false;  // the path came with -S
  char target[kTagListChars + 3] = "*";
  ctlConn list;             // the rows
  ctlConn* pane = nullptr;  // followed lines and sends, once the pane is used
  topModel m;
  topScreen s;
  flexar group{sizeof(groupEntry), "topgroup"};
  bool groupPane = false;  // the pane follows the group: only its servers' lines
};

int listRows(const view& v) { return topLayoutFor(LINES, v.m.pane).listRows; }

// Reads the answer to a top request: the head and rows into s, or with
// collect the rows' addresses into group. False when the console is gone;
// an error line goes into the note.
bool readRows(view* v, bool collect) {
  char line[kLineSize];
  if (!collect) v->s.rowCount = 0;
  for (;;) {
    if (v->list.readLine(line, sizeof line, kAnswerWaitMs) != 1) return false;
    answerKind kind = answerKindOf(line);
    if (kind == kAnswerOk) return true;
    if (kind == kAnswerError) {
      strzcpy(v->m.note, afterWord(line, kAnsError), sizeof v->m.note - 1);
      return true;
    }
    topRow r;
    if (parseTopHead(line, &v->s.head) || !parseTopRow(line, &r)) continue;
    if (collect) {
      groupEntry e;
      strzcpy(e.addr, r.addr, kTopAddrChars);
      v->group.add(&e);
    } else if (v->s.rowCount < kTopMaxRows) {
      v->s.rows[v->s.rowCount++] = r;
    }
  }
}

// Asks for the rows the screen shows; again when the window had to move
// (fewer rows than before).
bool fetch(view* v) {
  for (int tries = 0; tries < 2; tries++) {
    char req[kLineSize];
    int rows = listRows(*v) < kTopMaxRows ? listRows(*v) : kTopMaxRows;
    topRequestLine(v->m, v->target, rows, req, sizeof req);
    if (!v->list.request("%s", req) || !readRows(v, false)) return false;
    if (!topSettle(&v->m, v->s.head.matched, listRows(*v))) break;
  }
  topKeepSelection(&v->m, v->s.rows, v->s.rowCount);
  return true;
}

// A line from the pane's connection, as the pane shows it.
void paneLine(view* v, const char* line) {
  char text[kTopTextChars];
  const char* rest = nullptr;
  switch (answerKindOf(line)) {
    case kAnswerOk:
      return;
    case kAnswerSent: {
      rest = afterWord(line, kAnsSent);
      const char* state = strrchr(rest, ' ');
      trf(text, sizeof text, "sent to %.*s (%s)", static_cast<int>(strcspn(rest, " ")), rest,
          topStateText(state ? state + 1 : ""));
      v->s.pane.add(text);
      return;
    }
    case kAnswerError:
      trf(text, sizeof text, "error: %s", afterWord(line, kAnsError));
      v->s.pane.add(text);
      return;
    default:
      break;
  }
  const char* arrow = strstr(line, kAnsArrow);
  if (v->groupPane && arrow) {
    groupEntry e;
    int n = static_cast<int>(arrow - line);
    strzcpy(e.addr, line, n < kTopAddrChars ? n : kTopAddrChars);
    if (!bsearch(&e, v->group.data(0), static_cast<size_t>(v->group.nodes()), sizeof e, byAddr)) {
      return;
    }
  }
  v->s.pane.add(line);
}

// Takes what the pane's connection has sent; false when the console is gone.
// (A wait of 1 ms: one of none would take only lines already read ahead.)
bool drainPane(view* v) {
  if (!v->pane) return true;
  char line[kLineSize];
  int got;
  while ((got = v->pane->readLine(line, sizeof line, 1)) == 1) paneLine(v, line);
  return got == 0;
}

// One request on the pane's connection, read up to its "ok" or error (the
// followed lines on the way go to the pane), so that requests never pile up
// unread. False when the console is gone.
bool paneRequest(view* v, const char* line) {
  if (!v->pane->request("%s", line)) return false;
  char got[kLineSize];
  for (;;) {
    if (v->pane->readLine(got, sizeof got, kAnswerWaitMs) != 1) return false;
    paneLine(v, got);
    answerKind kind = answerKindOf(got);
    if (kind == kAnswerOk || kind == kAnswerError) return true;
  }
}

// The pane follows `what` (a server's address, or "*" for a group) from
// now on, under title.
bool follow(view* v, const char* what, const char* title) {
  if (!v->pane) {
    v->pane = new ctlConn;
    if (!v->pane->open(v->path, true, v->named)) return false;
  }
  char req[kLineSize];
  if (!paneRequest(v, kReqUnfollow)) return false;
  v->s.pane.clear();
  v->m.pane = true;
  v->groupPane = false;
  strzcpy(v->s.paneTitle, title, sizeof v->s.paneTitle - 1);
  strzcpy(v->s.paneAddr, what, kTopAddrChars);
  trf(req, sizeof req, "%s %s", kReqFollow, what);
  return paneRequest(v, req);
}

// Server addr's lines in the pane, unless they are there already.
bool followServer(view* v, const char* addr) {
  if (v->m.pane && !v->groupPane && strcmp(v->s.paneAddr, addr) == 0) return true;
  char title[kTopTextChars];
  trf(title, sizeof title, "lines of %s (Enter closes)", addr);
  return follow(v, addr, title);
}

// '@': the servers the filter shows, all of them, for the y/n question.
bool askGroup(view* v) {
  v->group.reset();
  char req[kLineSize];
  topModel all = v->m;
  all.offset = 0;
  topRequestLine(all, v->target, 1 << 30, req, sizeof req);
  if (!v->list.request("%s", req) || !readRows(v, true)) return false;
  v->s.groupCount = v->group.nodes();
  if (v->s.groupCount == 0) {
    strzcpy(v->m.note, "no server matches: nothing sent", sizeof v->m.note - 1);
    return true;
  }
  qsort(v->group.data(0), static_cast<size_t>(v->s.groupCount), sizeof(groupEntry), byAddr);
  v->m.mode = kModeConfirm;
  return true;
}

bool sendGroup(view* v) {
  char text[kTopTextChars];
  trf(text, sizeof text, "lines of the %d servers of \"%s\" (Enter closes)", v->s.groupCount,
      v->m.command);
  if (!follow(v, kTargetAll, text)) return false;
  v->groupPane = true;
  char req[kLineSize];
  for (int i = 0; i < v->group.nodes(); i++) {
    trf(req, sizeof req, "%s %s %s", kReqSend, static_cast<groupEntry*>(v->group.data(i))->addr,
        v->m.command);
    if (!paneRequest(v, req)) return false;
  }
  trf(v->m.note, sizeof v->m.note, "sent \"%s\" to %d servers", v->m.command, v->group.nodes());
  return true;
}

// The act a key asked for; false when the console is gone.
bool act(view* v, topAct a) {
  char req[kLineSize];
  switch (a) {
    case kActFetch:
      return fetch(v);
    case kActPaneOpen:
      return followServer(v, v->m.selAddr) && fetch(v);
    case kActPaneClose:
      v->m.pane = false;
      v->groupPane = false;
      return paneRequest(v, kReqUnfollow) && fetch(v);
    case kActSend:
      if (!followServer(v, v->m.cmdAddr)) return false;
      trf(req, sizeof req, "%s %s %s", kReqSend, v->m.cmdAddr, v->m.command);
      return paneRequest(v, req) && fetch(v);
    case kActGroupAsk:
      return askGroup(v);
    case kActGroupSend:
      return sendGroup(v) && fetch(v);
    default:
      return true;
  }
}

// The terminal's key as the model knows it.
int modelKey(int ch) {
  switch (ch) {
    case KEY_UP:
      return kKeyUp;
    case KEY_DOWN:
      return kKeyDown;
    case KEY_PPAGE:
      return kKeyPageUp;
    case KEY_NPAGE:
      return kKeyPageDown;
    case KEY_HOME:
      return kKeyHome;
    case KEY_END:
      return kKeyEnd;
    case KEY_ENTER:
    case '\r':
    case '\n':
      return kKeyEnter;
    case KEY_BACKSPACE:
    case 8:
    case 127:
      return kKeyBackspace;
    default:
      return ch;
  }
}

// Milliseconds since the first call: differences of the tick survive its wrap.
long elapsedMs() {
  static const uint32_t base = GetTickCount();
  return static_cast<long>(GetTickCount() - base);
}

// Whether the list's connection, idle between requests, has ended: it is
// readable only then.
bool listEnded(view* v) {
  char line[kLineSize];
  return v->list.readLine(line, sizeof line, 1) < 0;
}

// The loop: draws, waits for a key, a pane line or the next refresh.
int loop(view* v) {
  long last = -kRefreshMs;
  for (;;) {
    if (g_topSignal) return kCtlError;
    long now = elapsedMs();
    bool alive = true;
    if (now - last >= kRefreshMs) {
      alive = fetch(v);
      last = now;
    }
    if (!alive || !drainPane(v)) return kTopConsoleEnded;
    topDraw(v->m, v->s);
    int fds[3] = {trStdinFd(), v->list.fd(), v->pane ? v->pane->fd() : -1};
    int ready[3] = {};
    long wait = kRefreshMs - (elapsedMs() - last);
    trWaitInput(fds, 3, static_cast<unsigned>(wait > 0 ? wait : 0), ready);
    if (ready[1] && listEnded(v)) return kTopConsoleEnded;
    for (int ch; (ch = getch()) != ERR;) {
      if (ch == KEY_RESIZE) {
        if (!fetch(v)) return kTopConsoleEnded;
        continue;
      }
      if (v->m.mode == kModeList) v->m.note[0] = 0;
      topAct a = topKey(&v->m, modelKey(ch));
      if (a == kActQuit) return kCtlOk;
      // A key may have moved the selection within the rows there are; one
      // that moved the window has it taken from the new rows.
      if (a != kActFetch) topKeepSelection(&v->m, v->s.rows, v->s.rowCount);
      if (!act(v, a)) return kTopConsoleEnded;
      topDraw(v->m, v->s);
    }
  }
}

}  // namespace

int topView(const ctlArgs& a, const char* path) {
  if (!trIsTerminal(trStdinFd()) || !trIsTerminal(1)) {
    fprintf(stderr, "qzuconctl: top needs a terminal on its standard input and output\n");
    return kCtlError;
  }
  const char* term = trEnv("TERM");
  if (!term || !term[0] || strcmp(term, "dumb") == 0) {
    fprintf(stderr, "qzuconctl: top needs a terminal that can place the cursor; TERM is %s\n",
            term && term[0] ? term : "not set");
    return kCtlError;
  }
  static view v;  // large: kept off the stack
  v.path = path;
  v.named = a.socket != nullptr;
  if (a.tagCount) tagTarget(a, v.target, sizeof v.target);
  if (!v.list.open(path, false, v.named)) return kCtlError;
  // The console's word on the request before the screen is taken: a tag no
  // server has is said as any other command says it.
  char line[kLineSize];
  if (!v.list.request("%s address 0 0 %s", kReqTop, v.target) ||
      v.list.readLine(line, sizeof line, kAnswerWaitMs) != 1) {
    fprintf(stderr, "qzuconctl: the console closed the connection\n");
    return kCtlError;
  }
  if (answerKindOf(line) == kAnswerError) {
    fprintf(stderr, "qzuconctl: %s\n", afterWord(line, kAnsError));
    return kCtlError;
  }
  while (answerKindOf(line) != kAnswerOk &&
         v.list.readLine(line, sizeof line, kAnswerWaitMs) == 1) {
  }
  setlocale(LC_ALL, "");  // the servers' UTF-8 as the terminal's characters
  if (!topScreenStart(stdin, stdout)) {
    fprintf(stderr, "qzuconctl: top cannot use the terminal %s\n", term);
    return kCtlError;
  }
  trOnTerminate(onSignal);
  int status = loop(&v);
  if (status == kTopConsoleEnded) {
    v.s.ended = "the console has ended";
    topDraw(v.m, v.s);
    trSleep(kEndedShowMs);
  }
  topScreenEnd();
  if (status == kTopConsoleEnded) fprintf(stderr, "qzuconctl: the console has ended\n");
  if (g_topSignal) status = kCtlError;
  delete v.pane;
  return status;
}
