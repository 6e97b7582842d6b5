// The application's configuration globals, the server list and the four
// program sockets. All start zero or empty; resetAppGlobals() puts them, and
// each feature's own state (kept in its module: the log writer, journal,
// alerts, control socket, metrics), back to that state for tests.
#ifndef QZUCON_APP_GLOBALS_H_
#define QZUCON_APP_GLOBALS_H_

#include <cstdint>

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
extern uint8_t g_debug;
extern uint8_t g_noscreenlog;
extern volatile int32_t g_exit;
extern serverRec g_tempServer;     // the record being configured
extern uint64_t g_emptyDatagrams;  // zero-byte datagrams on the server socket
// "metrics=": where the metrics file goes; empty for none.
extern char g_metricsPath[kNameChars + 1];

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
