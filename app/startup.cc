// Start-up: the two configuration sources, the banner, the configuration
// checks and the resolution of every server address.
#include "app/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "app/globals.h"
#include "app/journal.h"
#include "app/log.h"
#include "app/mainloop.h"
#include "app/reload.h"
#include "input/admin_input.h"
#include "runtime/bfc.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/host.h"
#include "runtime/signals.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"

namespace {

// A launcher may start the console with descriptor 0, 1 or 2 closed; the
// first socket would take that number, and keys would be read from the
// network or the screen written to it. Each closed one is opened on
// /dev/null before anything else is opened. True when standard input was
// open: keys come from no other.
bool openStandardDescriptors() {
  bool stdinGiven = trFdOpen(0) != 0;
  for (int fd = 0; fd <= 2; fd++) {
    if (trFdOpen(fd) || trOpenNullAt(fd) == fd) continue;
    log("ERROR: Unable to open /dev/null as descriptor %d: %s\n", fd, trErrorText(trLastError()));
  }
  return stdinGiven;
}

}  // namespace

bool resolveServer(serverRec* s) {
  if (s->password[0]) s->lastSend = 1;  // due for a heartbeat from the start
  const char* colon = strchr(s->address, ':');
  // Resolved before its first line is said, so that each of its lines
  // carries the address the journal knows the server by from then on.
  if (colon) {
    char host[sizeof s->address];
    strzcpy(host, s->address, static_cast<int>(colon - s->address));
    trGetip(host, s->ip);
    s->port = atoul(colon + 1);
    trf(s->ipPort, sizeof s->ipPort, "%s:%lu", s->ip, static_cast<unsigned long>(s->port));
  }
  logAbout(colon ? s : nullptr, kPrioNotice, kEventNone, "Server Address: %s\n", s->address);
  if (!colon) {
    log("**Missing Port in Server Address\n");
    showHelp();
    return false;
  }
  logAbout(s, kPrioNotice, kEventNone, "Server IP: %s\n", s->ip);
  logAbout(s, kPrioNotice, kEventNone, "Server Port: %ld\n", static_cast<long>(s->port));
  logAbout(s, kPrioNotice, kEventNone, "Login Name: %s\n", s->login);
  return true;
}

startAsk commandLineAsk(int argc, const char* const* argv) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0) return kAskHelp;
    if (strcmp(argv[i], "--version") == 0) return kAskVersion;
    if (strcmp(argv[i], "--check") == 0) return kAskCheck;
  }
  return kAskConsole;
}

int configure(int argc, char** argv) {
  holdStartup();  // until the log file and the journal are known
  initHeaderTemplate();
  memset(&g_tempServer, 0, sizeof g_tempServer);
  for (int i = 1; i < argc; i++) parseInput(argv[i]);
  commitPendingServer();
  bool named = g_inifn[0] != 0;
  if (!named) strzcpy(g_inifn, "qzucon.ini", kNameChars);
  bfc ini("rb", "%s", g_inifn);  // its name as opened, for the line of an error
  bool found = false;
  int iniError = readConfigFile(liveConfig(), ini.name(), named, &found);
  reloadNoteStart(argc, argv, found);
  commitPendingServer();
  if (!g_logfn[0]) strzcpy(g_logfn, "qzucon.log", kNameChars);
  consoleNameFor(g_consoleName, named ? g_inifn : nullptr, g_myaddr, g_consoleLabel);
  startJournal();  // before the banner: the journal gets every line of the run
  releaseStartup();

  log("QZUCON - Quazel UDP Console Applet v%s\n", kVersion);
  log("Copyright (c) 2026 the qzucon developers\n\n");
  // Said after the banner so that it reaches the log file as well; a service
  // whose user cannot read its file learns why it has no servers.
  if (iniError != 0) {
    log("ERROR: Unable to read configuration file %s: %s\n", ini.name(), trErrorText(iniError));
  }
  if (flServer.nodes() == 0) {
    log("ERROR: No Servers Configured\n");
    g_exit = 1;
  }
  if (g_exit == 1) return kExitNoServer;
  log("My Address: %s\n", g_myaddr);
  if (!strchr(g_myaddr, ':')) {
    log("**Missing Port in My Address\n");
    showHelp();
    return kExitMyPort;
  }
  log("Resolving ...\n");
  for (int i = 0; i < flServer.nodes(); i++) {
    g_server = serverAt(i);
    if (!resolveServer(g_server)) return kExitServerPort;
  }
  return kExitOk;
}

int appMain(int argc, char** argv) {
  switch (commandLineAsk(argc, argv)) {
    case kAskHelp:
      showFullHelp();
      return kExitOk;
    case kAskVersion:
      printf("qzucon %s\n", kVersion);
      return kExitOk;
    case kAskCheck:
      return checkConfiguration(argc, argv);
    default:
      break;
  }
  holdStartup();
  if (!openStandardDescriptors()) g_stdinEnded = 1;
  // A reader of standard output that goes away (`qzucon | head`) must cost
  // the screen only: the files still get every line.
  trIgnoreBrokenPipe();
  trTzset();  // once: no log line or tick reads the zone file again
  int status = configure(argc, argv);
  if (status != kExitOk) return status;
  trNetinit();
  return qzucon() ? kExitOk : kExitSocket;
}
