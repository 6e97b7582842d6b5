// qzuconctl top's model: answer lines, keys, rows as text, the pane's ring.
#include "ctl/top.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "ctlproto/words.h"
#include "runtime/text.h"

namespace {

// The next blank-ended word of *s into out (size bytes); false when none.
bool word(const char** s, char* out, int size) {
  const char* p = *s;
  int n = static_cast<int>(strcspn(p, " "));
  if (n == 0) return false;
  strzcpy(out, p, n < size - 1 ? n : size - 1);
  *s = p[n] ? p + n + 1 : p + n;
  return true;
}

bool number(const char** s, unsigned long long* out) {
  char w[32];
  char* end = nullptr;
  if (!word(s, w, sizeof w) || w[0] < '0' || w[0] > '9') return false;
  *out = strtoull(w, &end, 10);
  return *end == 0;
}

// Drops the last character of text, a whole UTF-8 sequence.
void dropLast(char* text) {
  int n = static_cast<int>(strlen(text));
  while (n > 0 && (static_cast<unsigned char>(text[n - 1]) & 0xC0) == 0x80) n--;
  if (n > 0) n--;
  text[n] = 0;
}

// Edits a typed text with key: true when it changed.
bool edit(char* text, int key) {
  if (key == kKeyBackspace || key == 8) {
    if (!text[0]) return false;
    dropLast(text);
    return true;
  }
  int n = static_cast<int>(strlen(text));
  if (key < 32 || key > 255 || key == 127 || n >= kTopTypedChars) return false;
  text[n] = static_cast<char>(key);
  text[n + 1] = 0;
  return true;
}

// The selection moved by delta rows; true when the window moved too.
bool move(topModel* m, int delta) {
  long s = static_cast<long>(m->selected) + delta;
  if (s > m->matched - 1) s = m->matched - 1;
  if (s < 0) s = 0;
  // Moved by a key: the row at the new place is the selection, whatever
  // server was selected before (topKeepSelection takes it from the rows).
  if (s != m->selected) m->selAddr[0] = 0;
  m->selected = static_cast<int>(s);
  return topSettle(m, m->matched, m->listRows);
}

topAct listKey(topModel* m, int key) {
  switch (key) {
    case 'q':
      return kActQuit;
    case 'j':
    case kKeyDown:
      return move(m, 1) ? kActFetch : kActNone;
    case 'k':
    case kKeyUp:
      return move(m, -1) ? kActFetch : kActNone;
    case kKeyPageDown:
    case ' ':
      return move(m, m->listRows) ? kActFetch : kActNone;
    case kKeyPageUp:
      return move(m, -m->listRows) ? kActFetch : kActNone;
    case kKeyHome:
    case 'g':
      return move(m, -m->matched) ? kActFetch : kActNone;
    case kKeyEnd:
    case 'G':
      return move(m, m->matched) ? kActFetch : kActNone;
    case 's':
      m->sort = (m->sort + 1) % kTopSortCount;
      m->selected = m->offset = 0;
      return kActFetch;
    case '/':
      m->mode = kModeFilter;
      return kActNone;
    case kKeyEsc:
      if (!m->filter[0]) return kActNone;
      m->filter[0] = 0;
      m->selected = m->offset = 0;
      return kActFetch;
    case kKeyEnter:
    case '\r':
      if (m->pane) return kActPaneClose;
      return m->selAddr[0] ? kActPaneOpen : kActNone;
    case ':':
    case '@':
      if (key == ':' ? !m->selAddr[0] : m->matched == 0) {
        strzcpy(m->note, "no server to send to", sizeof m->note - 1);
        return kActNone;
      }
      m->mode = key == ':' ? kModeCommand : kModeGroup;
      m->typed[0] = 0;
      strzcpy(m->cmdAddr, m->selAddr, kTopAddrChars);
      return kActNone;
    case '?':
    case 'h':
      m->mode = kModeHelp;
      return kActNone;
    default:
      return kActNone;
  }
}

}  // namespace

bool parseTopHead(const char* line, topHead* out) {
  const char* s = afterWord(line, kAnsTop);
  unsigned long long matched, up, total, alerts;
  char rate[32];
  if (!s || !number(&s, &matched) || !number(&s, &up) || !number(&s, &total) ||
      !word(&s, rate, sizeof rate) || !number(&s, &alerts) ||
      !word(&s, out->myaddr, sizeof out->myaddr)) {
    return false;
  }
  out->matched = static_cast<int>(matched);
  out->up = static_cast<int>(up);
  out->total = static_cast<int>(total);
  out->perSec = strtod(rate, nullptr);
  out->alerts = alerts;
  strzcpy(out->name, s, sizeof out->name - 1);
  return true;
}

bool parseTopRow(const char* line, topRow* out) {
  const char* s = afterWord(line, kAnsRow);
  unsigned long long perMin, alerts, commands;
  char age[24];
  if (!s || !word(&s, out->addr, sizeof out->addr) || !word(&s, out->state, sizeof out->state) ||
      !number(&s, &perMin) || !word(&s, age, sizeof age) || !number(&s, &alerts) ||
      !number(&s, &commands)) {
    return false;
  }
  out->perMin = static_cast<unsigned long>(perMin);
  out->age = strcmp(age, "-") == 0 ? -1 : atol(age);
  out->alerts = alerts;
  out->commands = commands;
  strzcpy(out->tags, s, sizeof out->tags - 1);
  return true;
}

topAct topKey(topModel* m, int key) {
  if (key == kKeyCtrlC) return kActQuit;
  switch (m->mode) {
    case kModeHelp:
      m->mode = kModeList;
      return kActNone;
    case kModeConfirm:
      if (key == 'y' || key == 'Y') {
        m->mode = kModeList;
        return kActGroupSend;
      }
      if (key == 'n' || key == 'N' || key == kKeyEsc) {
        m->mode = kModeList;
        strzcpy(m->note, "nothing sent", sizeof m->note - 1);
      }
      return kActNone;
    case kModeFilter:
      if (key == kKeyEnter || key == '\r') {
        m->mode = kModeList;
        return kActNone;
      }
      if (key == kKeyEsc) {
        m->mode = kModeList;
        m->filter[0] = 0;
      } else if (!edit(m->filter, key)) {
        return kActNone;
      }
      m->selected = m->offset = 0;
      return kActFetch;
    case kModeCommand:
    case kModeGroup:
      if (key == kKeyEsc) {
        m->mode = kModeList;
      } else if (key == kKeyEnter || key == '\r') {
        topAct act = m->mode == kModeCommand ? kActSend : kActGroupAsk;
        m->mode = kModeList;
        strzcpy(m->command, m->typed, kTopTypedChars);
        return act;
      } else {
        edit(m->typed, key);
      }
      return kActNone;
    default:
      return listKey(m, key);
  }
}

bool topSettle(topModel* m, int matched, int listRows) {
  m->matched = matched;
  m->listRows = listRows < 1 ? 1 : listRows;
  if (m->selected > matched - 1) m->selected = matched - 1;
  if (m->selected < 0) m->selected = 0;
  int offset = m->offset;
  if (m->selected < offset) offset = m->selected;
  if (m->selected >= offset + m->listRows) offset = m->selected - m->listRows + 1;
  // No empty rows below the last while rows above are hidden.
  if (offset > matched - m->listRows) offset = matched - m->listRows;
  if (offset < 0) offset = 0;
  bool moved = offset != m->offset;
  m->offset = offset;
  return moved;
}

void topKeepSelection(topModel* m, const topRow* rows, int n) {
  for (int i = 0; i < n && m->selAddr[0]; i++) {
    if (strcmp(rows[i].addr, m->selAddr) == 0) {
      m->selected = m->offset + i;
      return;
    }
  }
  int at = m->selected - m->offset;
  m->selAddr[0] = 0;
  if (at >= 0 && at < n) strzcpy(m->selAddr, rows[at].addr, kTopAddrChars);
}

void topRequestLine(const topModel& m, const char* target, int count, char* out, int size) {
  trf(out, size, "%s %s %d %d %s%s%s", kReqTop, kTopSorts[m.sort], m.offset, count, target,
      m.filter[0] ? " " : "", m.filter);
}

int fitColumns(const char* s, int cols, int* used) {
  mbstate_t st;
  memset(&st, 0, sizeof st);
  int at = 0, width = 0;
  int len = static_cast<int>(strlen(s));
  while (at < len) {
    wchar_t wc;
    size_t n = mbrtowc(&wc, s + at, static_cast<size_t>(len - at), &st);
    int w = 1;
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
      n = 1;
      memset(&st, 0, sizeof st);
    } else {
      w = wcwidth(wc);
      if (w < 0) w = 1;
    }
    if (width + w > cols) break;
    width += w;
    at += static_cast<int>(n);
  }
  if (used) *used = width;
  return at;
}

void topPrintable(const char* text, char* out, int size) {
  mbstate_t st;
  memset(&st, 0, sizeof st);
  int len = static_cast<int>(strlen(text));
  int at = 0, put = 0;
  while (at < len && put < size - 1) {
    wchar_t wc;
    size_t n = mbrtowc(&wc, text + at, static_cast<size_t>(len - at), &st);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
      memset(&st, 0, sizeof st);
      out[put++] = '?';
      at++;
      continue;
    }
    if (wc == L'\t' || !iswprint(static_cast<wint_t>(wc)) || put + static_cast<int>(n) > size - 1) {
      out[put++] = wc == L'\t' ? ' ' : '?';
    } else {
      memcpy(out + put, text + at, n);
      put += static_cast<int>(n);
    }
    at += static_cast<int>(n);
  }
  out[put] = 0;
}

const char* topStateText(const char* state) { return stateTextOf(state).text; }

int topStateColour(const char* state) {
  int rank = stateTextOf(state).rank;
  return rank <= 2 ? 3 : rank <= 4 ? 2 : rank == 5 ? 1 : 0;
}

void topAge(long secs, char* out, int size) {
  if (secs < 0) {
    trf(out, size, "-");
  } else if (secs < 120) {
    trf(out, size, "%lds", secs);
  } else if (secs < 7200) {
    trf(out, size, "%ldm", secs / 60);
  } else if (secs < 172800) {
    trf(out, size, "%ldh", secs / 3600);
  } else {
    trf(out, size, "%ldd", secs / 86400);
  }
}

namespace {
// Columns: address, tags (what is left), state, lines a minute, last line,
// alerts, commands.
constexpr int kFixedCols = 21 + 1 + 1 + 17 + 1 + 7 + 1 + 5 + 1 + 6 + 1 + 5;
int tagCols(int width) {
  int t = width - kFixedCols - 1;  // the last column left free: no wrap at the edge
  return t < 4 ? 4 : t;
}
}  // namespace

int topStateColumn(int width) { return 21 + 1 + tagCols(width) + 1; }

void topTitles(int width, char* out, int size) {
  trf(out, size, "%-21s %-*s %-17s %7s %5s %6s %5s", "ADDRESS", tagCols(width), "TAGS", "STATE",
      "LINES/M", "LAST", "ALERTS", "CMDS");
}

void topFormatRow(const topRow& r, int width, char* out, int size) {
  char age[16];
  topAge(r.age, age, sizeof age);
  int t = tagCols(width);
  trf(out, size, "%-21.255s %-*.*s %-17.17s %7lu %5s %6llu %5llu", r.addr, t, t, r.tags,
      topStateText(r.state), r.perMin, age, r.alerts, r.commands);
}

void topHeadLines(const topHead& h, const topModel& m, const struct tm& now, char* one, char* two,
                  int size) {
  trf(one, size, "%s%s%s  up %d/%d  %.1f lines/s  %llu alerts in 5 min  %02d:%02d:%02d", h.name,
      h.name[0] ? " " : "", h.myaddr, h.up, h.total, h.perSec, h.alerts, now.tm_hour, now.tm_min,
      now.tm_sec);
  trf(two, size, "order: %s  filter: %s  %d of %d servers  ? help", kTopSorts[m.sort],
      m.filter[0] ? m.filter : "-", h.matched, h.total);
}

void topPane::add(const char* line) {
  strzcpy(lines[next], line, kTopTextChars - 1);
  next = (next + 1) % kPaneLines;
  if (count < kPaneLines) count++;
}

const char* topPane::last(int n, int i) const {
  return lines[(next - n + i + kPaneLines) % kPaneLines];
}

topLayout topLayoutFor(int lines, bool pane) {
  int avail = lines - 4;  // the head, the titles, the foot
  topLayout l = {avail, 0};
  if (pane) {
    l.paneRows = avail / 2 - 1;  // under its title line
    l.listRows = avail - l.paneRows - 1;
  }
  if (l.paneRows < 0) l.paneRows = 0;
  if (l.listRows < 1) l.listRows = 1;
  return l;
}
