// The control socket: a private Unix stream socket through which the
// console's own user (or root) drives it from scripts and gets answers back.
// It lives in a folder only that user may enter (ctlproto/ctlpath.h), is
// created mode 0600, and every connection's peer user is checked once more
// with the kernel's credentials. With controlgroup= the socket is mode 0660
// and that group's, at a path the group can reach, and the group's members
// may read and send what allow= rules grant them (app/ctlaccess.h); the
// last client slot is the owner's. Several clients may be connected; each is
// read and written without blocking and has a bounded output queue
// (app/ctlqueue.h), so no client can hold up the console.
//
// The protocol is lines both ways, its words in ctlproto/words.h. Requests:
//   do LINE            run LINE as if typed; the console messages it causes
//                      come back as "console TEXT"
//   send TARGET LINE   LINE as a command to server TARGET (configured address
//                      or ipPort), or to every server when TARGET is "*";
//                      the active server stays as it is. One "sent IPPORT
//                      STATE" per server, STATE being confirmed (up, and
//                      its text has shown the password right), up (its
//                      challenge answered), waiting (no challenge answered
//                      yet), mismatch or noanswer
//   servers            "myaddr ADDRESS", "name NAME" (the console's name), then
//                      "server IPPORT STATE" per server
//   follow TARGET      from now on every line of server TARGET ("*" = all) as
//                      "IPPORT ->TEXT", or with "console" the console's own
//                      messages as "console TEXT", or with "alerts" each
//                      line that matched an alert as "alert NAME IPPORT
//                      ->TEXT" (once per alert); "unfollow" stops all
//   tags [TARGET]      "tags IPPORT LIST" per server, LIST its tags joined
//                      by commas (empty when it has none)
//   status [TARGET]    the "status ..." lines, a tagged server's ending in
//                      ", tags LIST"
//   exit               ends the console as "qzuconexit" does
//   metrics            the metrics text (app/metrics.h)
//   top SORT OFFSET COUNT TARGET [FILTER]
//                      the fleet view (app/ctltop.h): "top MATCHED UP TOTAL
//                      LINES/S ALERTS5MIN MYADDR NAME", then "row IPPORT STATE
//                      LINES/MIN AGE ALERTS COMMANDS TAGS" for at most COUNT
//                      of the servers of TARGET ("*" or "@TAGS") that FILTER
//                      is part of the address, tags or state of, from OFFSET
//                      on in SORT's order (address, state, rate or last)
//   reload             the configuration read again and applied
//                      (app/reload.h): "reloaded ADDED REMOVED CHANGED KEPT"
//                      and a "restart WORD" per setting kept until a
//                      restart; or, refused, an "invalid TEXT" per error and
//                      the error line. The owner's (and root's) only
// TARGET "@TAG[,TAG...]" names the servers with any of those tags (send,
// status, follow and tags).
// Every request is answered by "ok" after its lines, or by "error TEXT".
// The answers of status, servers, tags, metrics and "send *" are written as
// the client reads them, so none is ever cut, whatever the number of servers (a "sent"
// line's STATE is the server's as the line is written; the command went to
// every server at once). Followed lines a client lost by not reading show as
// "dropped N lines". A client that has sent nothing and follows nothing for
// kCtlIdleMs is closed, so that idle ones cannot hold every slot.
#ifndef QZUCON_APP_CONTROL_H_
#define QZUCON_APP_CONTROL_H_

#include <cstdint>

#include "app/ctlqueue.h"
#include "app/line.h"
#include "app/metrics.h"
#include "ctlproto/ctlpath.h"
#include "protocol/server.h"
#include "runtime/groups.h"
#include "runtime/sock.h"

constexpr int kCtlClients = 32;         // with the five other inputs, one wait holds all
constexpr int kCtlRequestChars = 1024;  // longer request lines are refused
constexpr int kCtlReadChars = 4096;     // request bytes taken from a client at a time
constexpr uint32_t kCtlIdleMs = 30000;  // a client that asks and follows nothing this long goes

// A long answer being written as its client reads: one line per server, or
// the metrics text a line at a time.
enum ctlJob { kJobNone, kJobStatus, kJobServers, kJobSent, kJobTags, kJobMetrics, kJobTop };

struct ctlClient {
  int fd = -1;  // -1 when the slot is free
  unsigned uid = 0;  // its user, as the kernel says
  // Its user's name (the metrics count requests by it) and whether it is a
  // member of the control group, not the owner (app/ctlaccess.h), with the
  // member's groups: as the database said when it connected.
  bool member = false;
  char user[kUserNameChars + 1] = {};
  unsigned groups[kUserGroupsMax] = {};
  int groupCount = 0;
  char in[kCtlRequestChars + 1] = {};
  int inLen = 0;
  bool overlong = false;   // the line being read is too long: skipped to its end
  bool closing = false;    // the client has ended its side: closed once its queue is out
  bool followAll = false;  // every server's lines
  bool followConsole = false;
  const serverRec* follow = nullptr;  // one server's lines
  ctlJob job = kJobNone;
  int next = 0;         // the job's next server
  char jobTags[kTagListChars + 1] = {};  // when set, the job's servers are those with these
  metricsCursor cursor;    // kJobMetrics: where its text is
  metricsFigures figures;  // ... and the console-wide figures it shows
  uint32_t heard = 0;   // when the client last sent something (monotonic ms)
  // Request bytes read and not yet run: a client's further requests wait
  // while a long answer is written or its queue is short of room.
  char pend[kCtlReadChars];
  int pendOff = 0, pendLen = 0;
  char followTags[kTagListChars + 1] = {};  // the lines of servers with any of these
  bool followAlerts = false;                // lines that matched an alert
  ctlqueue out;
};

struct ctlState {
  int listener = -1;  // -1 when there is no control socket
  char path[kCtlPathSize] = {};
  unsigned long long dev = 0, ino = 0;  // the socket file made: removed only if still it
  ctlClient clients[kCtlClients];
  ctlClient* doer = nullptr;  // the client whose "do" line runs: it hears the messages
  uint64_t droppedLines = 0;  // followed lines lost by clients since closed
  bool following = false;     // some client follows something: lines must be offered
  // The last wait found a connection waiting: an accept that finds none costs
  // the kernel a socket made and freed, too dear for every pass under load.
  bool knocked = true;
};

// Opens the control socket unless g_ctlsocket is "off": at g_ctlsocket when
// that names a path, else at PORT.sock in the user's private folder (made
// when missing). A leftover socket file nobody answers is replaced. Prints
// nothing when it works; otherwise one line saying why there is none.
void controlOpen(unsigned port);

// Closes every client and the socket, and removes the socket file if it is
// still the one controlOpen made.
void controlClose();

// Once a pass: admits new clients, runs their finished request lines (with
// the server socket and tick, as typed lines are run) and writes what waits.
void controlPass(int sock, uint32_t tick, uint32_t mono);

// The descriptors the pass's one wait should also watch, into fds (room
// entries at most); returns how many.
int controlWaitFds(int* fds, int room);
// What that wait found: ready holds the kFd bits of the n descriptors
// controlWaitFds gave. The next pass admits clients only when the socket
// itself was ready.
void controlNoteWait(const int* ready, int n);

// Offers one line to the clients: a server's line to those following its
// server, any other to those following the console. The text is as the
// screen has it; a server line goes out with the server's own text (l.own)
// as UTF-8 instead, where reception kept it.
void controlPublish(const line& l);

// Runs request bytes as if client c had sent them, and hands everything
// they cause to sink as a reader that keeps up would take it; returns once
// all is answered (or the sink reports the reader gone). For the fuzzer.
void controlFeed(ctlClient* c, int sock, uint32_t tick, uint32_t mono, const char* data, int n,
                 ctlSink sink, void* ctx);

// Offers a server line that matched alerts (l.alerts) to the clients that
// follow alerts, once for each alert, as controlPublish does.
void controlPublishAlerts(const line& l);

// A server's session state as the protocol's STATE word (ctlproto/words.h).
const char* linkWord(const serverRec* r);

// The server list is being replaced (a reload): what clients point at in the
// m records at oldBase moves to newBase (n records), record i to newOf[i],
// or nowhere when that is -1 (a client following only it follows nothing).
void controlServersMoved(const serverRec* oldBase, int m, const int* newOf,
                         const serverRec* newBase, int n);

// Program-start state: no socket, no clients (closes whatever is open).
void resetControl();

extern ctlState g_ctl;  // the control socket and its clients

#endif  // QZUCON_APP_CONTROL_H_
