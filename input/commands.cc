// The console commands: exit, debug toggle, write configuration, change log
// file, list servers, choose the active server.
#include "input/commands.h"

#include <strings.h>

#include <cstring>

#include "app/config.h"
#include "app/globals.h"
#include "app/log.h"
#include "input/admin_input.h"
#include "protocol/outbound.h"
#include "runtime/text.h"

namespace {

void listServers() {
  for (int i = 0; i < flServer.nodes(); i++) {
    g_server = serverAt(i);
    log("server address: %s   login: %s\n", g_server->ipPort, g_server->login);
  }
}

void showStatus(uint32_t mono) {
  for (int i = 0; i < flServer.nodes(); i++) {
    g_server = serverAt(i);
    char line[512];
    statusLine(g_server, mono, line, sizeof line);
    log("%s", line);
  }
}

void chooseActive(const char* arg) {
  while (*arg == ' ') arg++;
  g_activeServer = findServer(arg);
  if (g_activeServer) {
    log("Active Server: %s\n", g_activeServer->address);
  } else {
    log("Unknown Server Specified, Active Server: NULL\n");
  }
}

void exitConsole(const char*, uint32_t) { g_exit = 1; }
void toggleDebug(const char*, uint32_t) { g_debug = g_debug ? 0 : 1; }
void writeIni(const char* arg, uint32_t) { writeini(arg); }
void listAll(const char*, uint32_t) { listServers(); }
void chooseActiveServer(const char* arg, uint32_t) { chooseActive(arg); }
void showAll(const char*, uint32_t mono) { showStatus(mono); }

void setLogName(const char* arg, uint32_t) {
  strzcpy(g_logfn, arg, kNameChars);
  strim(g_logfn, " \t");
}

// The console's commands, tried in this order, in any case: a whole command
// is the line and nothing else; any other matches the line's start, and what
// follows the word is its argument. A line that none matches goes to the
// active server.
struct command {
  const char* word;
  bool whole;
  void (*run)(const char* arg, uint32_t mono);
};

const command kCommands[] = {
    {"qzuconexit", true, exitConsole}, {"qzucondebug", true, toggleDebug},
    {"qzuconwrite", false, writeIni},  {"qzuconlog", false, setLogName},
    {"qzuconlist", false, listAll},    {"qzuconactive", false, chooseActiveServer},
    {"qzuconstatus", false, showAll},
};

// The row for line and its argument, or null.
const command* findCommand(const char* line, const char** arg) {
  for (const command& c : kCommands) {
    *arg = c.whole ? (strcasecmp(line, c.word) == 0 ? line + strlen(line) : nullptr)
                   : skipWordNoCase(line, c.word);
    if (*arg != nullptr) return &c;
  }
  return nullptr;
}

}  // namespace

serverRec* findServer(const char* arg) {
  for (int i = 0; i < flServer.nodes(); i++) {
    g_server = serverAt(i);
    if (strcmp(g_server->address, arg) == 0) return g_server;
  }
  // A server configured by name is also known by the address "qzuconlist" shows.
  for (int i = 0; i < flServer.nodes(); i++) {
    g_server = serverAt(i);
    if (strcmp(g_server->ipPort, arg) == 0) return g_server;
  }
  return nullptr;
}

void processInputLine(int sock, uint32_t tick, uint32_t mono, const char* line) {
  // Who sent what, for the journal's audit trail: a line that is no console
  // command goes to the active server.
  logTyped(startsWithNoCase(line, "qzucon") ? nullptr : g_activeServer, g_inputFrom, "%s\n", line);
  const char* arg;
  const command* c = findCommand(line, &arg);
  if (c != nullptr) {
    c->run(arg, mono);
  } else if (!g_activeServer) {
    log("ERROR: No active server, use 'qzuconactive ip:port'\n");
  } else {
    sendCommand(sock, tick, mono, g_activeServer, line);
  }
}
