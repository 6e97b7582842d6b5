// Definitions of the application globals. The sockets are defined before the
// server list so that they are constructed first and destroyed last.
#include "app/globals.h"

#include <cstring>

#include "app/triggers.h"
#include "crypto/mt.h"
#include "input/admin_input.h"

char g_inifn[kNameChars + 1];
char g_logfn[267];
char g_myaddr[kNameChars + 1];
char g_consoleName[kConsoleNameChars + 1];
char g_consoleLabel[kConsoleNameChars + 1];
uint32_t g_TCPlistenport;
uint32_t g_UDPlistenport;
uint8_t g_localusers;
char g_ctlsocket[kNameChars + 1];
ctlState g_ctl;
const serverRec* g_lineFrom;
const char* g_lineOwn;
uint8_t g_debug;
uint8_t g_noscreenlog;
volatile int32_t g_exit;
serverRec g_tempServer;
lineLimit g_lineLimits[kLineKinds];
bool g_serverLimitsRunning;
uint32_t g_serverLimitsStart;
uint64_t g_lineCounts[kLineKinds];
uint64_t g_emptyDatagrams;
uint64_t g_logWriteErrors;
char g_metricsPath[kNameChars + 1];
metricsState g_metrics;
logfail g_logFailures;
logbatch g_logBatch;
startlines g_startLines;
logfiles g_logFiles;
journalState g_journal;
uint64_t g_journalDropped;
alertset g_alerts;

trsock g_sock;
trsock g_TCPsock;
trsock g_UDPsock;
trsock g_TCPsockActive;
flexar flServer(sizeof(serverRec), "");

void resetAppGlobals() {
  g_inifn[0] = 0;
  g_logfn[0] = 0;
  g_myaddr[0] = 0;
  g_consoleName[0] = 0;
  g_consoleLabel[0] = 0;
  g_TCPlistenport = 0;
  g_UDPlistenport = 0;
  g_localusers = kLocalUsersOwner;
  g_ctlsocket[0] = 0;
  resetControl();
  g_lineFrom = nullptr;
  g_lineOwn = nullptr;
  g_debug = 0;
  g_noscreenlog = 0;
  g_exit = 0;
  memset(&g_tempServer, 0, sizeof g_tempServer);
  memset(g_lineLimits, 0, sizeof g_lineLimits);
  g_serverLimitsRunning = false;
  g_serverLimitsStart = 0;
  memset(g_lineCounts, 0, sizeof g_lineCounts);
  g_emptyDatagrams = 0;
  g_logWriteErrors = 0;
  g_metricsPath[0] = 0;
  resetMetrics();
  g_logFailures.reset();
  g_logBatch.reset();
  g_startLines.reset();
  g_logFiles.reset();
  resetJournal();
  g_journalDropped = 0;
  g_alerts.reset();
  g_triggers.reset();
  g_TCPsockActive.sClose();
  g_UDPsock.sClose();
  g_TCPsock.sClose();
  g_sock.sClose();
  flServer.reset();
}

void resetProgramState() {
  resetAppGlobals();
  resetProtocolGlobals();
  resetInputGlobals();
  resetGenerator();
  initHeaderTemplate();
}
