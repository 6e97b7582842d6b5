// qzuconctl top's terminal side: the screen drawn with ncurses from the
// model (ctl/top.h), the keys read, and the two connections to the console:
// one asks for the rows the screen shows once a second, the other follows
// the selected server's lines for the lower pane and sends commands.
#ifndef QZUCON_CTL_TOPVIEW_H_
#define QZUCON_CTL_TOPVIEW_H_

#include <cstdio>

#include "ctl/ctlargs.h"
#include "ctl/top.h"

constexpr int kTopMaxRows = 512;  // rows asked for at most: a screen's

// What the screen shows besides the model: the answer and the pane.
struct topScreen {
  topHead head;
  topRow rows[kTopMaxRows];
  int rowCount = 0;
  topPane pane;
  char paneTitle[kTopTextChars] = "";
  char paneAddr[kTopAddrChars + 1] = "";  // the server the pane follows
  int groupCount = 0;                     // for the y/n question
  const char* ended = nullptr;            // why the view ends, said in the foot
};

// Starts ncurses on the terminal of in and out (colours where it has them,
// keys as they come, no echo, no cursor); false when it cannot.
bool topScreenStart(FILE* in, FILE* out);
void topScreenEnd();
// Draws the whole screen from m and s and puts it out.
void topDraw(const topModel& m, const topScreen& s);

// Runs the view against the console at path until q, Ctrl-C or a
// termination signal (0; 1 for the signal), or until the console ends
// (kTopConsoleEnded, after the screen said so). Without a terminal on
// standard input and output, or with TERM unset or "dumb": a message on
// stderr and 1, before anything is drawn; so too when the console cannot
// be reached or refuses the request.
int topView(const ctlArgs& a, const char* path);

#endif  // QZUCON_CTL_TOPVIEW_H_
