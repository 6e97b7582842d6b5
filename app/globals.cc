// Definitions of the application globals. The sockets are defined before the
// server list so that they are constructed first and destroyed last.
#include "app/globals.h"

#include <cstring>

#include "app/alerts.h"
#include "app/bounded.h"
#include "app/control.h"
#include "app/ctlaccess.h"
#include "app/ctltop.h"
#include "app/journal.h"
#include "app/log.h"
#include "app/metrics.h"
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
uint8_t g_debug;
uint8_t g_noscreenlog;
volatile int32_t g_exit;
serverRec g_tempServer;
uint64_t g_emptyDatagrams;
char g_metricsPath[kNameChars + 1];

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
  g_debug = 0;
  g_noscreenlog = 0;
  g_exit = 0;
  memset(&g_tempServer, 0, sizeof g_tempServer);
  g_emptyDatagrams = 0;
  g_metricsPath[0] = 0;
  // Each feature's own state, in its module.
  resetBounded();
  resetControl();
  resetMetrics();
  resetJournal();
  resetAlerts();
  resetLog();
  resetTop();
  resetCtlAccess();
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
