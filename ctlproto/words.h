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

// A server's session state, the STATE of "sent" and "server" lines.
constexpr char kStateConfirmed[] = "confirmed";  // up, and its text showed the password right
constexpr char kStateUp[] = "up";                // its challenge answered
constexpr char kStateWaiting[] = "waiting";      // no challenge answered yet
constexpr char kStateMismatch[] = "mismatch";    // its text shows a wrong password
constexpr char kStateNoAnswer[] = "noanswer";    // it has stopped answering
// Its port reported closed, or a command to it unanswered after a silence.
constexpr char kStateUnreachable[] = "unreachable";

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
