// The application's configuration and control globals, the server list and
// the four program sockets. All start zero or empty; resetAppGlobals() puts
// them back to that state for tests.
#ifndef QZUCON_APP_GLOBALS_H_
#define QZUCON_APP_GLOBALS_H_

#include <cstdint>

#include "app/alerts.h"
#include "app/control.h"
#include "app/ctltop.h"
#include "app/journal.h"
#include "app/log.h"
#include "app/logbatch.h"
#include "app/logfiles.h"
#include "app/metrics.h"
#include "limits/linekinds.h"
#include "protocol/server.h"
#include "runtime/flexar.h"
#include "runtime/sock.h"

constexpr int kNameChars = 256;  // configured file names and own address

extern char g_inifn[kNameChars + 1];
// 267 bytes: reception puts a per-server name of up to 259 characters here
// for the duration of one log call.
extern char g_logfn[267];
extern char g_myaddr[kNameChars + 1];
// "name=" as configured (empty when not given), and the name in use, which
// configure sets (consoleNameFor): what tells this console from others on
// the host, in every metrics series (console="...") and journal entry
// (QZUCON_CONSOLE=), and in qzuconctl list.
constexpr int kConsoleNameChars = 64;
extern char g_consoleName[kConsoleNameChars + 1];
extern char g_consoleLabel[kConsoleNameChars + 1];
extern uint32_t g_TCPlistenport;
extern uint32_t g_UDPlistenport;
// Who may send local input: the console's own user and root (the default),
// or every local process ("localusers=any").
enum { kLocalUsersOwner = 0, kLocalUsersAny = 1 };
extern uint8_t g_localusers;
// "controlsocket=": empty (the default folder), "off", or the socket's path.
extern char g_ctlsocket[kNameChars + 1];
extern ctlState g_ctl;  // the control socket and its clients (app/control.h)
// The server whose line log() is writing; null for the console's own messages.
extern const serverRec* g_lineFrom;
// That server's own text of the line, before it was made printable, for the
// journal and followers (who take it as UTF-8); null when neither is there.
extern const char* g_lineOwn;
extern uint8_t g_debug;
extern uint8_t g_noscreenlog;
extern volatile int32_t g_exit;
extern serverRec g_tempServer;  // the record being configured
// Per-second bounds of the lines strangers can cause, by kind (app/bounded.h).
extern lineLimit g_lineLimits[kLineKinds];
// Whether some server's own limit has a second running, and the tick at
// which the earliest of them began: until its second is over a pass need not
// walk the records (ten thousand in a large configuration) to sum them up.
extern bool g_serverLimitsRunning;
extern uint32_t g_serverLimitsStart;
// Events of each bounded kind, whether their line was logged or held back:
// the metrics file's count of datagrams ignored by reason.
extern uint64_t g_lineCounts[kLineKinds];
extern uint64_t g_emptyDatagrams;  // zero-byte datagrams on the server socket
extern uint64_t g_logWriteErrors;  // failed writes to log files
// "metrics=": where the metrics file goes; empty for none.
extern char g_metricsPath[kNameChars + 1];
extern metricsState g_metrics;
extern logfail g_logFailures;   // log files that could not be written lately
extern logbatch g_logBatch;     // the messages of the pass, until written
extern startlines g_startLines;  // the messages of start-up, until its log is known
extern logfiles g_logFiles;     // log files kept open between passes
extern journalState g_journal;  // the journal copy of the lines (app/journal.h)
extern uint64_t g_journalDropped;  // entries the journal did not take, since start
extern alertset g_alerts;       // the alert rules and their counts (app/alerts.h)
extern topState g_top;          // the fleet view's snapshots and answers (app/ctltop.h)

// Declared in this order so that the server list dies before the sockets.
extern trsock g_sock;            // the server socket
extern trsock g_TCPsock;         // local TCP listener
extern trsock g_UDPsock;         // local UDP input
extern trsock g_TCPsockActive;   // the one admitted local TCP connection
extern flexar flServer;          // serverRec records in configuration order

// Back to program-start state: closes the sockets, empties the server list.
void resetAppGlobals();

// The whole console back to program-start state: every layer's globals, the
// generator and the header template. Test fixtures and fuzz targets start
// each case from here.
void resetProgramState();

// The record at index i of flServer (no bounds check beyond flexar's).
inline serverRec* serverAt(int i) { return static_cast<serverRec*>(flServer.data(i)); }
// The index in flServer of a record from it: the list is one array.
inline int serverIndexOf(const serverRec* r) { return static_cast<int>(r - serverAt(0)); }

#endif  // QZUCON_APP_GLOBALS_H_
