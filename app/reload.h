// Reading the configuration again while the console runs ("qzuconctl
// reload") and reading it without running at all ("qzucon --check"). The
// configuration is read whole into a draft, apart from the running one, from
// the same sources as at start (the command-line tokens, then the file of
// ini=); a draft with any error is refused whole and nothing changes. An
// accepted draft is applied as a difference, servers keyed by their
// configured address: added ones start as at start-up, removed ones get the
// exit notice and lose their files and series, one whose login or password
// changed starts its session again, and every other keeps its session,
// counts, followers and files. The settings that need a restart (myaddr=,
// the local input ports, controlsocket=) are named and kept.
#ifndef QZUCON_APP_RELOAD_H_
#define QZUCON_APP_RELOAD_H_

#include <cstdint>

#include "app/config.h"
#include "app/alerts.h"
#include "app/ctlaccess.h"
#include "app/triggers.h"
#include "app/globals.h"

// A whole configuration read apart from the running one. About 100 KB and
// the records: trAlloc'd by newDraft, never on the stack.
struct configDraft {
  char inifn[kNameChars + 1] = "";
  char logfn[kNameChars + 1] = "";
  char myaddr[kNameChars + 1] = "";
  char consoleName[kConsoleNameChars + 1] = "";
  char ctlsocket[kNameChars + 1] = "";
  char metricsPath[kNameChars + 1] = "";
  uint32_t tcpPort = 0, udpPort = 0;
  uint8_t localusers = kLocalUsersOwner;
  journalMode journal = kJournalAuto;
  uint8_t debug = 0;
  bool iniNamed = false;  // ini= was given
  bool fileRead = false;  // the file was there and read
  serverRec pending = {};
  flexar servers{sizeof(serverRec), "draft"};
  alertset alerts;
  ctlAccess access;
  triggerset triggers;
  configErrors errors;

  configTarget target();
};

// A draft, or null when memory is short; freeDraft releases it.
configDraft* newDraft();
void freeDraft(configDraft* d);

// Reads the configuration as start-up does: argv's tokens (argc of them from
// argv[1]), then the file ini= names ("qzucon.ini" when none), which must be
// there when named or when fileExpected; then checks it whole: at least one
// server, ports in myaddr= and every server address, no address twice.
// Returns the errors found (d->errors). Logs nothing, opens nothing but the
// file.
int readDraft(int argc, char* const* argv, bool fileExpected, configDraft* d);

// How a new list of servers relates to the running one.
struct reloadCounts {
  int added = 0, removed = 0, changed = 0, kept = 0;
};
// For each of the n records of next, the index of the record of the same
// configured address among the m of old, or -1 (added): into oldOf (n).
// newOf (m) gets the reverse, -1 for a record removed. changed counts the
// kept ones whose login or password differ. Addresses are unique in next
// (readDraft sees to it); in old the first of an address is taken. False
// when memory is short. Pure.
bool planReload(const serverRec* old, int m, const serverRec* next, int n, int* oldOf, int* newOf,
                reloadCounts* counts);

// What a reload did: applied, with its counts and the settings kept until a
// restart, or refused, with its errors.
constexpr int kRestartWords = 5;
struct reloadResult {
  bool applied = false;
  reloadCounts counts;
  const char* restart[kRestartWords] = {};  // "myaddr", "TCPlistenport", ...
  int restarts = 0;
  configErrors errors;
};

// Reads the configuration again and applies it, on behalf of the control
// client of user uid, with the pass's server socket and times. Says what it
// did in one line (screen, files, journal with its own MESSAGE_ID) and in
// the metrics. The result stays valid until the next call.
const reloadResult& reloadConfiguration(int sock, uint32_t tick, uint32_t mono, long uid);

// Start-up's side: the tokens the console was started with (kept for the
// reload to read again) and whether the configuration file was there.
void reloadNoteStart(int argc, char* const* argv, bool fileRead);

// qzucon --check: reads the configuration as start-up would and prints one
// line saying what it holds (standard output, status 0), or each error
// (standard error, status kExitBadConfig). Binds nothing, writes no file.
int checkConfiguration(int argc, char* const* argv);

#endif  // QZUCON_APP_RELOAD_H_
