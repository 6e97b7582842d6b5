// Definitions of the protocol layer's globals.
#include "protocol/server.h"

#include <cstring>

unsigned char g_HEADER[kHeaderSize];
unsigned char g_pkt[kPktSize];
serverRec* g_server;
serverRec* g_activeServer;
char g_temp[257];
srvindex g_senders;
heartbeatQuiet g_hbQuiet;

void initHeaderTemplate() {
  memset(g_HEADER, 0, sizeof g_HEADER);
  memcpy(g_HEADER + kMagicOffset, "\xFF\xFF\xFF\xFFQZ_U", 8);
}

void resetProtocolGlobals() {
  memset(g_HEADER, 0, sizeof g_HEADER);
  memset(g_pkt, 0, sizeof g_pkt);
  g_server = nullptr;
  g_activeServer = nullptr;
  g_temp[0] = 0;
  g_senders.clear();
  g_hbQuiet = heartbeatQuiet{};
}
