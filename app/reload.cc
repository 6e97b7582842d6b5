// The configuration read again while the console runs, and read alone for
// qzucon --check: the draft, its checks, the plan by address and applying it.
#include "app/reload.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "app/control.h"
#include "app/journal.h"
#include "app/log.h"
#include "app/logfiles.h"
#include "app/startup.h"
#include "protocol/outbound.h"
#include "protocol/peer.h"
#include "runtime/bfc.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/mem.h"
#include "runtime/text.h"

namespace {

// What start-up was given, for a reload to read again: argv lives as long
// as the program.
struct startSources {
  int argc = 0;
  char* const* argv = nullptr;
  bool fileRead = false;
};
startSources g_sources;

reloadResult g_lastReload;

// Records by configured address: each address leads to its records in list
// order. Built over one array; positions, not pointers.
class addressIndex {
 public:
  ~addressIndex() { trFree(block_, "reload"); }
  bool build(const serverRec* recs, int n) {
    recs_ = recs;
    while (mask_ + 1 < 2u * static_cast<uint32_t>(n)) mask_ = mask_ * 2 + 1;
    block_ =
        static_cast<int*>(trAlloc((mask_ + 1 + static_cast<size_t>(n)) * sizeof(int), "reload"));
    if (block_ == nullptr) return false;
    head_ = block_;
    next_ = block_ + mask_ + 1;
    for (uint32_t b = 0; b <= mask_; b++) head_[b] = -1;
    // From the last record back, so that each chain runs in list order.
    for (int i = n - 1; i >= 0; i--) {
      uint32_t b = textHash(recs[i].address) & mask_;
      next_[i] = head_[b];
      head_[b] = i;
    }
    return true;
  }
  // The first record of that address in list order, or -1; next(i) the one after i.
  int first(const char* address) const { return from(head_[textHash(address) & mask_], address); }
  int next(int i) const { return from(next_[i], recs_[i].address); }

 private:
  int from(int i, const char* address) const {
    while (i >= 0 && strcmp(recs_[i].address, address) != 0) i = next_[i];
    return i;
  }
  const serverRec* recs_ = nullptr;
  uint32_t mask_ = 7;
  int* block_ = nullptr;
  int* head_ = nullptr;
  int* next_ = nullptr;
};

serverRec* draftAt(configDraft* d, int i) { return static_cast<serverRec*>(d->servers.data(i)); }

// The whole configuration's checks, past what each token's own handler
// checks: what start-up refuses, and an address given twice, which a reload
// could not tell apart.
void checkDraft(configDraft* d) {
  int n = d->servers.nodes();
  if (n == 0) configError(&d->errors, "No Servers Configured");
  if (n > 0 && !strchr(d->myaddr, ':')) {
    configError(&d->errors, "myaddr=%.300s: Missing Port in My Address", d->myaddr);
  }
  addressIndex byAddress;
  bool indexed = byAddress.build(draftAt(d, 0), n);
  for (int i = 0; i < n; i++) {
    const serverRec* r = draftAt(d, i);
    if (!strchr(r->address, ':')) {
      configError(&d->errors, "server=%.300s: Missing Port in Server Address", r->address);
    }
    if (indexed && byAddress.first(r->address) != i) {
      configError(&d->errors, "server=%.300s: listed twice", r->address);
    }
  }
  if (!indexed && n > 0) configError(&d->errors, "out of memory for %d servers", n);
}

bool sameText(const char* a, const char* b) { return strcmp(a, b) == 0; }

// Notes a setting that changes only with a restart.
void needsRestart(reloadResult* r, bool changed, const char* word) {
  if (changed && r->restarts < kRestartWords) r->restart[r->restarts++] = word;
}

// The settings that apply at once.
void applySettings(configDraft* d) {
  strzcpy(g_logfn, d->logfn[0] ? d->logfn : "qzucon.log", kNameChars);
  strzcpy(g_consoleName, d->consoleName, kConsoleNameChars);
  consoleNameFor(g_consoleName, d->iniNamed ? g_inifn : nullptr, g_myaddr, g_consoleLabel);
  // A file the console no longer writes would be served as if it were alive.
  if (g_metricsPath[0] && !sameText(g_metricsPath, d->metricsPath)) trUnlink(g_metricsPath);
  strzcpy(g_metricsPath, d->metricsPath, kNameChars);
  g_localusers = d->localusers;
  if (d->debug) g_debug = 1;  // qzucondebug typed meanwhile is not undone
  journalModeChanged(d->journal);
  takeAllowRules(&g_ctlAccess, &d->access);
  g_triggers.takeFrom(&d->triggers);
}

// Servers gone: the notice the console sends at its own exit, and their log
// file closed.
void removeServers(const int* newOf, int m, int sock, uint32_t mono) {
  for (int i = 0; i < m; i++) {
    if (newOf[i] >= 0) continue;
    serverRec* r = serverAt(i);
    sendExitNotice(sock, r, mono);
    logAbout(r, kPrioNotice, kEventNone, "Server removed: %s\n", r->address);
    char name[sizeof r->ipPort + 8];
    serverLogName(r->ipPort, name, sizeof name);
    g_logFiles.drop(name);
  }
}

// The new list beside the running one: kept records as they are, with their
// new tags (and login and password, their session started again), added ones
// as the draft read them. False when memory is short; nothing is said yet.
bool buildList(configDraft* d, const int* oldOf, flexar* next, uint32_t tick) {
  int n = d->servers.nodes();
  for (int j = 0; j < n; j++) {
    const serverRec* src = draftAt(d, j);
    if (oldOf[j] < 0) {
      if (!next->add(src)) return false;
      continue;
    }
    serverRec rec = *serverAt(oldOf[j]);
    memcpy(rec.tags, src->tags, sizeof rec.tags);
    if (!sameText(rec.login, src->login) || !sameText(rec.password, src->password)) {
      memcpy(rec.login, src->login, sizeof rec.login);
      memcpy(rec.password, src->password, sizeof rec.password);
      memcpy(rec.header, src->header, sizeof rec.header);
      rec.rseed = src->rseed;
      rec.answerState = kNoAnswerYet;
      rec.lastAnswer = 0;
      forgetSession(&rec);
      // A heartbeat at once asks the server for a challenge under the new key.
      if (rec.password[0]) {
        markHeartbeatDue(&rec, tick);
      } else {
        rec.lastSend = 0;
      }
    }
    if (!next->add(&rec)) return false;
  }
  return true;
}

// Says what happened to the servers that came (as start-up says a server it
// reads) or changed; the running list is still the old one.
void announceServers(flexar* next, const int* oldOf, uint32_t tick) {
  for (int j = 0; j < next->nodes(); j++) {
    serverRec* r = static_cast<serverRec*>(next->data(j));
    const serverRec* was = oldOf[j] >= 0 ? serverAt(oldOf[j]) : nullptr;
    if (was == nullptr) {
      resolveServer(r);
      if (r->lastSend == 1) markHeartbeatDue(r, tick);
    } else if (!sameText(r->password, was->password) || !sameText(r->login, was->login)) {
      logAbout(r, kPrioNotice, kEventNone, "Server changed: %s: its session starts again\n",
               r->address);
    }
  }
}

// Applies an accepted draft; false (nothing changed) when memory is short.
bool applyDraft(configDraft* d, int sock, uint32_t tick, uint32_t mono, reloadResult* res) {
  int m = flServer.nodes(), n = d->servers.nodes();
  int* oldOf = static_cast<int*>(trAlloc((static_cast<size_t>(n) + m + 1) * sizeof(int), "reload"));
  if (oldOf == nullptr) return false;
  int* newOf = oldOf + n;
  flexar next(sizeof(serverRec), flServer.tag());
  bool ok = planReload(serverAt(0), m, draftAt(d, 0), n, oldOf, newOf, &res->counts) &&
            buildList(d, oldOf, &next, tick);
  if (!ok) {
    trFree(oldOf, "reload");
    return false;
  }
  needsRestart(res, !sameText(d->myaddr, g_myaddr), "myaddr");
  needsRestart(res, d->tcpPort != g_TCPlistenport, "TCPlistenport");
  needsRestart(res, d->udpPort != g_UDPlistenport, "UDPlistenport");
  needsRestart(res, !sameText(d->ctlsocket, g_ctlsocket), "controlsocket");
  // The socket's group and mode are set when it is made.
  needsRestart(res, !sameText(d->access.group, g_ctlAccess.group), "controlgroup");

  removeServers(newOf, m, sock, mono);
  announceServers(&next, oldOf, tick);

  // Nothing may point into the old list once it is gone.
  serverRec* newBase = static_cast<serverRec*>(next.data(0));
  if (g_activeServer) {
    int i = serverIndexOf(g_activeServer);
    g_activeServer = newOf[i] >= 0 ? newBase + newOf[i] : nullptr;
    if (!g_activeServer) log("Active Server: NULL (removed)\n");
  }
  controlServersMoved(serverAt(0), m, newOf, newBase, n);
  flServer.swap(next);
  next.reset();
  g_server = n > 0 ? serverAt(0) : nullptr;
  g_senders.clear();
  heartbeatsChanged();
  g_alerts.takeFrom(&d->alerts, oldOf, n);
  trFree(oldOf, "reload");
  applySettings(d);
  return true;
}

// The one line that says who reloaded and what came of it.
void sayReload(const reloadResult& r, long uid) {
  line l;
  l.source = kSourceControl;  // said for the control client that asked
  l.uid = uid;
  if (!r.applied) {
    l.priority = kPrioError;
    l.event = kEventReloadRefused;
    logRecord(l,
        "ERROR: Configuration reload by uid %ld refused, nothing changed: %d error%s, the "
        "first: %s\n",
        uid, r.errors.count, r.errors.count == 1 ? "" : "s",
        r.errors.count > 0 ? r.errors.text[0] : "");
    return;
  }
  char restart[160] = "";
  for (int i = 0; i < r.restarts; i++) {
    traf(restart, sizeof restart, "%s%s=", i ? ", " : "; kept until a restart: ", r.restart[i]);
  }
  l.event = kEventReloaded;
  logRecord(l,
      "Configuration reloaded by uid %ld: %d added, %d removed, %d changed, %d kept%s\n", uid,
      r.counts.added, r.counts.removed, r.counts.changed, r.counts.kept, restart);
}

}  // namespace

configTarget configDraft::target() {
  return {inifn,       logfn,    myaddr, consoleName, ctlsocket, metricsPath, &tcpPort, &udpPort,
          &localusers, &journal, &debug, &pending,    &servers,  &alerts,     &access,
          &triggers,   &errors};
}

configDraft* newDraft() {
  void* mem = trAlloc(sizeof(configDraft), "draft");
  return mem ? new (mem) configDraft() : nullptr;
}

void freeDraft(configDraft* d) {
  if (d == nullptr) return;
  freeAllowRules(&d->access);
  d->~configDraft();
  trFree(d, "draft");
}

int readDraft(int argc, char* const* argv, bool fileExpected, configDraft* d) {
  configTarget t = d->target();
  for (int i = 1; i < argc; i++) parseTokenInto(t, argv[i], kCommandLine);
  commitPendingInto(t);
  bool named = d->iniNamed = d->inifn[0] != 0;
  if (!named) strzcpy(d->inifn, "qzucon.ini", kNameChars);
  bfc ini("rb", "%s", d->inifn);  // its name as opened, for the error
  int err = readConfigFile(t, ini.name(), named || fileExpected, &d->fileRead);
  commitPendingInto(t);
  if (err != 0) {
    configError(&d->errors, "%s: Unable to read configuration file: %s", ini.name(),
                trErrorText(err));
  }
  checkDraft(d);
  return d->errors.count;
}

bool planReload(const serverRec* old, int m, const serverRec* next, int n, int* oldOf, int* newOf,
                reloadCounts* counts) {
  *counts = reloadCounts();
  addressIndex byAddress;
  if (!byAddress.build(old, m)) return false;
  for (int i = 0; i < m; i++) newOf[i] = -1;
  for (int j = 0; j < n; j++) {
    int i = m > 0 ? byAddress.first(next[j].address) : -1;
    oldOf[j] = i >= 0 && newOf[i] < 0 ? i : -1;
    if (oldOf[j] < 0) {
      counts->added++;
      continue;
    }
    newOf[i] = j;
    bool changed =
        !sameText(old[i].login, next[j].login) || !sameText(old[i].password, next[j].password);
    (changed ? counts->changed : counts->kept)++;
  }
  counts->removed = m - counts->changed - counts->kept;
  return true;
}

const reloadResult& reloadConfiguration(int sock, uint32_t tick, uint32_t mono, long uid) {
  reloadResult& r = g_lastReload;
  r = reloadResult();
  configDraft* d = newDraft();
  if (d == nullptr) {
    configError(&r.errors, "out of memory for the configuration");
  } else if (readDraft(g_sources.argc, g_sources.argv, g_sources.fileRead, d) > 0) {
    r.errors = d->errors;
  } else if (!applyDraft(d, sock, tick, mono, &r)) {
    configError(&r.errors, "out of memory for %d servers", d->servers.nodes());
  } else {
    r.applied = true;
  }
  freeDraft(d);
  sayReload(r, uid);
  metricsNoteReload(r.applied, trWallMs());
  return r;
}

void reloadNoteStart(int argc, char* const* argv, bool fileRead) {
  g_sources.argc = argc;
  g_sources.argv = argv;
  g_sources.fileRead = fileRead;
}

int checkConfiguration(int argc, char* const* argv) {
  // The tokens as start-up would read them: the option itself is none.
  char** tokens = static_cast<char**>(trAlloc(sizeof(char*) * (argc + 1), "check"));
  if (tokens == nullptr) return kExitBadConfig;
  int n = 0;
  for (int i = 0; i < argc; i++) {
    if (i == 0 || strcmp(argv[i], "--check") != 0) tokens[n++] = argv[i];
  }
  tokens[n] = nullptr;
  configDraft* d = newDraft();
  if (d == nullptr) {
    fprintf(stderr, "qzucon: out of memory\n");
    trFree(tokens, "check");
    return kExitBadConfig;
  }
  int errors = readDraft(n, tokens, false, d);
  int status = kExitOk;
  if (errors > 0) {
    for (int i = 0; i < errors && i < kConfigErrorsMax; i++) {
      fprintf(stderr, "qzucon: %s\n", d->errors.text[i]);
    }
    fprintf(stderr, "qzucon: the configuration has %d error%s\n", errors, errors == 1 ? "" : "s");
    status = kExitBadConfig;
  } else {
    printf("qzucon: the configuration is good: %d server%s, %d alert rule%s, from %s\n",
           d->servers.nodes(), d->servers.nodes() == 1 ? "" : "s", d->alerts.count(),
           d->alerts.count() == 1 ? "" : "s", d->fileRead ? d->inifn : "the command line");
  }
  freeDraft(d);
  trFree(tokens, "check");
  return status;
}
