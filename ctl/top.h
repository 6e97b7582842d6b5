// qzuconctl top's model, without the terminal: the console's "top" answer
// lines taken apart, what the keys do to the view (its selection, scroll,
// order, filter and typed command), the rows and the head as text of a
// given width, and the lower pane's lines. Pure: the drawing and the input
// loop (ctl/topview.*) act on what topKey returns; table tests drive it.
#ifndef QZUCON_CTL_TOP_H_
#define QZUCON_CTL_TOP_H_

#include <ctime>

#include "ctl/answer.h"
#include "fleet/tags.h"

// The exit status when the console ends while the view runs: follow's.
constexpr int kTopConsoleEnded = kCtlEnded;

constexpr int kTopAddrChars = 255;
constexpr int kTopTypedChars = 1000;  // a filter or a command, as typed
constexpr int kTopTextChars = 512;    // one pane line, cut

// The head of an answer: "top MATCHED UP TOTAL LINES/S ALERTS5MIN MYADDR NAME".
struct topHead {
  int matched = 0, up = 0, total = 0;
  double perSec = 0;
  unsigned long long alerts = 0;
  char myaddr[kTopAddrChars + 1] = "";
  char name[80] = "";
};
// A row: "row IPPORT STATE LINES/MIN AGE ALERTS COMMANDS TAGS"; age -1 when
// the server has sent no line.
struct topRow {
  char addr[kTopAddrChars + 1] = "";
  char state[24] = "";
  unsigned long perMin = 0;
  long age = -1;
  unsigned long long alerts = 0, commands = 0;
  char tags[kTagListChars + 1] = "";
};
// False when line is no such line (the fields are then unspecified).
bool parseTopHead(const char* line, topHead* out);
bool parseTopRow(const char* line, topRow* out);

// Keys as the model knows them: printable characters as themselves, the
// rest as these (the view maps the terminal's codes).
enum topKeyCode {
  kKeyCtrlC = 3,
  kKeyEnter = 10,
  kKeyEsc = 27,
  kKeyBackspace = 127,
  kKeyUp = 0x1000,
  kKeyDown,
  kKeyPageUp,
  kKeyPageDown,
  kKeyHome,
  kKeyEnd,
};

enum topMode {
  kModeList,     // moving over the rows
  kModeFilter,   // typing the filter after '/'
  kModeCommand,  // typing a command for the selected server after ':'
  kModeGroup,    // typing a command for the filtered servers after '@'
  kModeConfirm,  // y/n: the group command to the servers fetched
  kModeHelp,     // the keys, until the next key
};

// What the view is to do after a key.
enum topAct {
  kActNone,  // draw again
  kActQuit,
  kActFetch,     // ask the console for the rows again (order, filter or window changed)
  kActPaneOpen,  // follow selAddr in the pane
  kActPaneClose,
  kActSend,       // send `command` to cmdAddr, its answer into the pane
  kActGroupAsk,   // fetch the filtered servers, then ask y/n
  kActGroupSend,  // send `command` to the group fetched
};

struct topModel {
  int sort = 0;  // index in kTopSorts
  char filter[kTopTypedChars + 1] = "";
  char typed[kTopTypedChars + 1] = "";    // the command being typed
  char command[kTopTypedChars + 1] = "";  // the command to send
  topMode mode = kModeList;
  int selected = 0;                      // the selected row among the matched ones, from 0
  int offset = 0;                        // the first row shown
  int matched = 0;                       // rows the console has for the filter
  int listRows = 1;                      // rows the screen shows
  char selAddr[kTopAddrChars + 1] = "";  // the selected server, once the rows came
  // The server ':' was pressed on: the command goes there even when the rows
  // move under the selection while it is typed.
  char cmdAddr[kTopAddrChars + 1] = "";
  bool pane = false;
  char note[kTopTextChars] = "";  // one line of news for the foot
};

// What key does to m; the view then does the act.
topAct topKey(topModel* m, int key);
// After rows came: matched is their count; the selection stays inside them
// and the window follows it. True when the window moved (fetch again).
bool topSettle(topModel* m, int matched, int listRows);

// After a refresh brought rows (the window's n of them): the selection
// stays on the server it was on when that server is still in the window,
// and selAddr is the selected row's address (empty without rows).
void topKeepSelection(topModel* m, const topRow* rows, int n);

// The request for the window: "top SORT OFFSET COUNT TARGET [FILTER]" into
// out (size bytes). target is "*" or "@TAGS".
void topRequestLine(const topModel& m, const char* target, int count, char* out, int size);

// How many bytes of s fit in cols columns of the terminal (multibyte text
// as the locale reads it; a byte it cannot read takes one column). *used
// gets the columns they take.
int fitColumns(const char* s, int cols, int* used);

// text with what the terminal must not get raw replaced, into out (size
// bytes): a byte the locale cannot read, and a character it does not call
// printable (C0 and C1 controls, DEL, in any encoding), as '?'; a tab as a
// blank. Whatever the console's answers hold, only printable cells are drawn.
void topPrintable(const char* text, char* out, int size);

// A state word as people read it, and its colour: 0 none, 1 good, 2 on the
// way, 3 bad.
const char* topStateText(const char* state);
int topStateColour(const char* state);

// The row as one line of `width` columns (cut; padded by the caller); the
// columns' titles by topTitles. Into out (size bytes).
void topFormatRow(const topRow& r, int width, char* out, int size);
void topTitles(int width, char* out, int size);
// The column the state starts at in such a line.
int topStateColumn(int width);
// The head's two lines at time now (local time).
void topHeadLines(const topHead& h, const topModel& m, const struct tm& now, char* one, char* two,
                  int size);

// An age in seconds as the view shows it: "-", "42s", "12m", "5h", "3d".
void topAge(long secs, char* out, int size);

// The lower pane's last lines, a ring.
constexpr int kPaneLines = 200;
struct topPane {
  char lines[kPaneLines][kTopTextChars];
  int count = 0, next = 0;
  void add(const char* line);
  // The i-th of the last n lines kept, oldest first; n <= count.
  const char* last(int n, int i) const;
  void clear() { count = next = 0; }
};

// The screen's parts, from the top: the head's two lines, the titles, the
// list's rows, with the pane its title line and rows, and the foot line.
// The list's and the pane's rows for a screen of `lines` lines.
struct topLayout {
  int listRows, paneRows;  // paneRows 0 without the pane
};
topLayout topLayoutFor(int lines, bool pane);

#endif  // QZUCON_CTL_TOP_H_
