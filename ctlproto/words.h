// The words of the control protocol, in the one place both ends take them
// from: the console (app/control.*) writes answers and reads requests with
// them, qzuconctl (ctl/) writes requests and reads answers with them. A line
// is WORD, or WORD, one blank and the rest; a server's followed line is the
// exception, "IPPORT ->TEXT", told apart by its arrow. What each request does
// and answers is described atop app/control.h.
#ifndef QZUCON_CTLPROTO_WORDS_H_
#define QZUCON_CTLPROTO_WORDS_H_

// Requests, client to console.
constexpr char kReqDo[] = "do";              // do LINE
constexpr char kReqSend[] = "send";          // send TARGET LINE
constexpr char kReqServers[] = "servers";    // servers
constexpr char kReqFollow[] = "follow";      // follow TARGET | console | alerts
constexpr char kReqUnfollow[] = "unfollow";  // unfollow
constexpr char kReqTags[] = "tags";          // tags [TARGET]
constexpr char kReqStatus[] = "status";      // status [TARGET]
constexpr char kReqExit[] = "exit";          // exit
constexpr char kReqMetrics[] = "metrics";    // metrics
constexpr char kReqTop[] = "top";            // top SORT OFFSET COUNT TARGET [FILTER]
constexpr char kReqReload[] = "reload";      // reload (the owner's)

// What a TARGET may be besides one server's address.
constexpr char kTargetAll[] = "*";            // every server
constexpr char kTargetTags = '@';             // "@TAG[,TAG...]": servers with any of them
constexpr char kFollowConsole[] = "console";  // follow's: the console's own messages
constexpr char kFollowAlerts[] = "alerts";    // follow's: lines that matched an alert

// Answers, console to client.
constexpr char kAnsOk[] = "ok";            // ok: the request is done
constexpr char kAnsError[] = "error";      // error TEXT: refused, and why
constexpr char kErrDenied[] = "denied";    // error denied: TEXT: not the sender's to ask
constexpr char kAnsSent[] = "sent";        // sent IPPORT STATE
constexpr char kAnsMyaddr[] = "myaddr";    // myaddr ADDRESS (servers' first line)
constexpr char kAnsName[] = "name";        // name NAME: the console's name (servers' second)
constexpr char kAnsServer[] = "server";    // server IPPORT STATE
constexpr char kAnsTags[] = "tags";        // tags IPPORT LIST
constexpr char kAnsStatus[] = "status";    // status IPPORT: TEXT (protocol/health.h's statusLine)
constexpr char kAnsConsole[] = "console";  // console TEXT: a console message
constexpr char kAnsAlert[] = "alert";      // alert NAME IPPORT ->TEXT
constexpr char kAnsDropped[] = "dropped";  // dropped N lines: followed lines lost
constexpr char kAnsArrow[] = " ->";        // IPPORT ->TEXT: a followed server's line
// The separators of a "status" line: "status IPPORT: TEXT", and a tagged
// server's tags closing it, "..., tags eu,pvp".
constexpr char kAnsStatusColon[] = ": ";
constexpr char kAnsStatusTags[] = ", tags ";
// top MATCHED UP TOTAL LINES/S ALERTS5MIN MYADDR NAME: the fleet view's head
constexpr char kAnsTop[] = "top";
// row IPPORT STATE LINES/MIN AGE ALERTS COMMANDS TAGS: one server of the view
constexpr char kAnsRow[] = "row";
// reload's: "reloaded ADDED REMOVED CHANGED KEPT", then "restart WORD" for
// each setting kept until a restart; or "invalid TEXT" for each error of a
// configuration refused whole, then the error line.
constexpr char kAnsReloaded[] = "reloaded";
constexpr char kAnsRestart[] = "restart";
constexpr char kAnsInvalid[] = "invalid";

// A server's session state, the STATE of "sent" and "server" lines.
constexpr char kStateConfirmed[] = "confirmed";  // up, and its text showed the password right
constexpr char kStateUp[] = "up";                // its challenge answered
constexpr char kStateWaiting[] = "waiting";      // no challenge answered yet
constexpr char kStateMismatch[] = "mismatch";    // its text shows a wrong password
constexpr char kStateNoAnswer[] = "noanswer";    // it has stopped answering
// Its port reported closed, or a command to it unanswered after a silence.
constexpr char kStateUnreachable[] = "unreachable";

// The orders of a "top" answer's rows: by address, by state (the worst
// first), by lines in the last minute (the most first), by the last line
// (the latest first). Each keeps the address order among equals.
constexpr const char* kTopSorts[] = {"address", "state", "rate", "last"};
constexpr int kTopSortCount = 4;
// The index of word in kTopSorts, -1 when it is none.
int topSortOf(const char* word);

// A state word as people read it ("password mismatch"), and its rank in the
// view's order by state (0 the worst). Both ends use it: the console to
// filter by what the view shows, the view to show it. An unknown word is
// shown as it is, ranked last.
// The one place a new state word is added, with its text and rank.
struct stateText {
  const char* word;
  const char* text;
  int rank;
};
const stateText& stateTextOf(const char* word);

// What follows word and one blank at the start of line: afterWord("sent
// 1.2.3.4:5 up", kAnsSent) is "1.2.3.4:5 up". Null when line does not start
// with word and a blank, so a word alone, or one that only begins the line's
// first word ("sentence"), is not taken. Case matters: the protocol's words
// are written by programs, unlike the configuration's (skipWordNoCase).
const char* afterWord(const char* line, const char* word);

// The tag list of a TARGET "@TAG[,TAG...]" ("eu,us" of "@eu,us"), or null
// when target names no tags. The tags themselves are not checked here.
const char* targetTags(const char* target);

#endif  // QZUCON_CTLPROTO_WORDS_H_
