// The metrics text, its generator's table of series, and the file writer.
#include "app/metrics.h"

#include <cerrno>
#include <cstring>

#include "app/alerts.h"
#include "app/bounded.h"
#include "app/control.h"
#include "app/ctlaccess.h"
#include "app/globals.h"
#include "app/journal.h"
#include "app/log.h"
#include "app/startup.h"
#include "app/triggers.h"
#include "protocol/health.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/mem.h"
#include "runtime/sock.h"
#include "runtime/text.h"

metricsState g_metrics;

namespace {

constexpr unsigned kFileMode = 0640;  // node_exporter's group reads it
constexpr int kWriteChunk = 64 * 1024;
constexpr uint64_t kNoSample = UINT64_MAX;  // a server without this value yet
constexpr int kLabelMax = 2 * 255 + 1;      // an address of 255 characters, all escaped

const char* const kReasonNames[kIgnoredReasons] = {
    "unknown_sender", "short", "empty", "local_other_user", "local_unverified",
};

enum familyScope {
  kConsole,
  kPerServer,
  kPerReason,
  kBuildInfo,
  kServerInfo,
  kPerAlert,
  kPerControlUser,
  kPerTrigger,      // alert by alert (those with on= triggers), each with every server
  kPerTriggerSkip,  // the same, each with every reason
};

// One family of series. A value is a count, or ms shown as seconds
// (millis), or kNoSample to leave the sample out.
struct family {
  const char* name;
  const char* type;
  const char* help;
  familyScope scope;
  bool millis;
  uint64_t (*console)(const metricsFigures& f);
  uint64_t (*server)(const serverRec* r, const metricsFigures& f);
};

uint64_t flag(bool b) { return b ? 1 : 0; }

// The calendar time of r's last line, from how long ago it was by the
// monotonic clock: a clock set back or forth dates it as it happened.
uint64_t lastLineMs(const serverRec* r, const metricsFigures& f) {
  if (r->health.lines == 0) return kNoSample;
  int64_t ms = f.wallMs - int64_t{f.mono - r->health.lastLine};
  return ms < 0 ? 0 : static_cast<uint64_t>(ms);
}

const family kFamilies[] = {
    {"qzucon_up", "gauge", "1 while the console runs; 0 in the file it leaves at exit.", kConsole,
     false, [](const metricsFigures& f) { return flag(f.up); }, nullptr},
    {"qzucon_start_time_seconds", "gauge", "When the console started, in seconds since the epoch.",
     kConsole, true, [](const metricsFigures& f) { return static_cast<uint64_t>(f.startMs); },
     nullptr},
    {"qzucon_build_info", "gauge", "The console's version.", kBuildInfo, false,
     [](const metricsFigures&) { return uint64_t{1}; }, nullptr},
    {"qzucon_server_up", "gauge",
     "1 while the server's session is confirmed and it has sent a line in the last 10 s.",
     kPerServer, false, nullptr,
     [](const serverRec* r, const metricsFigures& f) { return flag(f.up && serverUp(r, f.mono)); }},
    {"qzucon_server_info", "gauge", "Always 1; the labels are the server's address and tags.",
     kServerInfo, false, nullptr, nullptr},
    {"qzucon_server_lines_received_total", "counter", "Lines received from the server.", kPerServer,
     false, nullptr, [](const serverRec* r, const metricsFigures&) { return r->health.lines; }},
    {"qzucon_server_bytes_received_total", "counter",
     "Bytes of the datagrams received from the server.", kPerServer, false, nullptr,
     [](const serverRec* r, const metricsFigures&) { return r->health.bytes; }},
    {"qzucon_server_last_line_timestamp_seconds", "gauge",
     "When the server's last line came, in seconds since the epoch.", kPerServer, true, nullptr,
     lastLineMs},
    {"qzucon_server_challenges_total", "counter", "New challenges the server sent.", kPerServer,
     false, nullptr,
     [](const serverRec* r, const metricsFigures&) { return r->health.challenges; }},
    {"qzucon_server_password_mismatch", "gauge",
     "1 when the server's text does not unscramble with its password.", kPerServer, false, nullptr,
     [](const serverRec* r, const metricsFigures&) { return flag(passwordMismatch(r)); }},
    {"qzucon_server_no_answer", "gauge", "1 when the server has never answered.", kPerServer, false,
     nullptr, [](const serverRec* r, const metricsFigures&) { return flag(noAnswer(r)); }},
    {"qzucon_server_heartbeats_sent_total", "counter", "Heartbeats sent to the server.", kPerServer,
     false, nullptr,
     [](const serverRec* r, const metricsFigures&) { return r->health.heartbeats; }},
    {"qzucon_server_commands_sent_total", "counter", "Commands sent to the server.", kPerServer,
     false, nullptr, [](const serverRec* r, const metricsFigures&) { return r->health.commands; }},
    {"qzucon_alerts_total", "counter", "Lines of the server that matched the alert= rule.",
     kPerAlert, false, nullptr, nullptr},
    {"qzucon_triggers_total", "counter", "Commands on= triggers of the alert sent to the server.",
     kPerTrigger, false, nullptr, nullptr},
    {"qzucon_triggers_skipped_total", "counter",
     "Matching lines of the server that sent no trigger command, by reason.", kPerTriggerSkip,
     false, nullptr, nullptr},
    {"qzucon_datagrams_ignored_total", "counter", "Datagrams ignored, by reason.", kPerReason,
     false, nullptr, nullptr},
    {"qzucon_receive_drops_total", "counter", "Datagrams the kernel dropped on the server socket.",
     kConsole, false,
     [](const metricsFigures& f) { return f.dropsKnown ? f.receiveDrops : kNoSample; }, nullptr},
    {"qzucon_control_clients", "gauge", "Clients connected to the control socket.", kConsole, false,
     [](const metricsFigures& f) { return f.controlClients; }, nullptr},
    {"qzucon_control_requests_total", "counter",
     "Control requests by user, and whether they were allowed (ok) or denied.", kPerControlUser,
     false, nullptr, nullptr},
    {"qzucon_control_lines_dropped_total", "counter", "Lines control clients lost by not reading.",
     kConsole, false, [](const metricsFigures& f) { return f.controlDropped; }, nullptr},
    {"qzucon_journal_entries_dropped_total", "counter", "Journal entries given up.", kConsole,
     false, [](const metricsFigures& f) { return f.journalDropped; }, nullptr},
    {"qzucon_log_write_errors_total", "counter", "Failed writes to log files.", kConsole, false,
     [](const metricsFigures& f) { return f.logWriteErrors; }, nullptr},
    {"qzucon_config_last_reload_successful", "gauge",
     "1 when the last reload of the configuration was applied, or none was asked for; 0 when it "
     "was refused.",
     kConsole, false, [](const metricsFigures& f) { return flag(f.reloadOk); }, nullptr},
    {"qzucon_config_last_reload_success_timestamp_seconds", "gauge",
     "When the configuration running was read: the start or the last reload applied, in seconds "
     "since the epoch.",
     kConsole, true, [](const metricsFigures& f) { return static_cast<uint64_t>(f.reloadOkMs); },
     nullptr},
};
constexpr int kFamilyCount = sizeof kFamilies / sizeof kFamilies[0];

// Appenders that never format through printf: the file of ten thousand
// servers is 90,000 lines every few seconds.
char* put(char* p, const char* s) {
  size_t n = strlen(s);
  memcpy(p, s, n);
  return p + n;
}

char* putValue(char* p, uint64_t v, bool millis) {
  if (!millis) return putDecimal(p, v);
  p = putDecimal(p, v / 1000);
  *p++ = '.';
  unsigned ms = static_cast<unsigned>(v % 1000);
  *p++ = static_cast<char>('0' + ms / 100);
  *p++ = static_cast<char>('0' + ms / 10 % 10);
  *p++ = static_cast<char>('0' + ms % 10);
  return p;
}

// One label, name="value", behind the family's name ("{") or another label (",").
char* putLabel(char* p, const char* before, const char* name, const char* value) {
  p = put(put(put(p, before), name), "=\"");
  p += escapeLabel(value, p, kLabelMax);
  return put(p, "\"");
}

// A sample's labels beyond the first: entry="<entry>" when entry > 0
// (sharedIpPort), then a second label when named (a server's tags, an alert).
struct moreLabels {
  int entry;
  const char* name;
  const char* value;
  const char* name2 = nullptr;  // and a third (a trigger skip's reason)
  const char* value2 = nullptr;
};

// "{console=\"NAME\"", escaped once for each text (metricsLine's first
// line): every sample begins with it.
char consoleLabel[sizeof "{console=\"\"" + 2 * kConsoleNameChars];
int consoleLabelLen;

void makeConsoleLabel() {
  char* p = putLabel(consoleLabel, "{", "console", g_consoleLabel);
  consoleLabelLen = static_cast<int>(p - consoleLabel);
}

// One sample: the family's name, the console's label, its own labels (none
// when label is null), the value. Every series carries console= first, so
// that two consoles' files in one textfile folder share none.
int sample(char* out, const family& fam, const char* label, const char* value, uint64_t v,
           moreLabels more = {0, nullptr, nullptr}) {
  char* p = put(out, fam.name);
  memcpy(p, consoleLabel, static_cast<size_t>(consoleLabelLen));
  p += consoleLabelLen;
  if (label) {
    p = putLabel(p, ",", label, value);
    if (more.entry > 0) p = put(putDecimal(put(p, ",entry=\""), uint64_t(more.entry)), "\"");
    if (more.name) p = putLabel(p, ",", more.name, more.value);
    if (more.name2) p = putLabel(p, ",", more.name2, more.value2);
  }
  p = put(p, "}");
  *p++ = ' ';
  p = putValue(p, v, fam.millis);
  *p++ = '\n';
  return static_cast<int>(p - out);
}

// A sample of record i, labelled by its address (and entry when shared),
// with a second label when named.
int serverSample(char* out, const family& fam, int i, uint64_t v, const char* label = nullptr,
                 const char* value = nullptr, const char* label2 = nullptr,
                 const char* value2 = nullptr) {
  moreLabels more = {sharedIpPort(i) ? i + 1 : 0, label, value, label2, value2};
  return sample(out, fam, "server", serverAt(i)->ipPort, v, more);
}

int commentLine(char* out, const char* kind, const char* name, const char* text) {
  char* p = put(put(put(put(out, kind), name), " "), text);
  *p++ = '\n';
  return static_cast<int>(p - out);
}

int itemsOf(const family& fam) {
  switch (fam.scope) {
    case kPerServer:
      return flServer.nodes();
    case kPerReason:
      return kIgnoredReasons;
    case kServerInfo:
      return flServer.nodes();
    case kPerAlert:
      return g_alerts.count() * flServer.nodes();
    case kPerControlUser:  // ok and denied of each user, the row past the table when used
      return 2 * (g_ctlAccess.userCount + (g_ctlAccess.users[kCtlUsersMax].user[0] != 0));
    case kPerTrigger:
      return g_triggers.count() * flServer.nodes();
    case kPerTriggerSkip:
      return g_triggers.count() * flServer.nodes() * kTriggerSkips;
    default:
      return 1;
  }
}

// Sample i of fam into out; 0 when it is left out.
int sampleLine(const family& fam, int i, const metricsFigures& f, char* out) {
  switch (fam.scope) {
    case kPerServer: {
      const serverRec* r = serverAt(i);
      uint64_t v = fam.server(r, f);
      if (v == kNoSample) return 0;
      return serverSample(out, fam, i, v);
    }
    case kPerReason:
      return sample(out, fam, "reason", kReasonNames[i], f.ignored[i]);
    case kBuildInfo:
      return sample(out, fam, "version", kVersion, 1);
    case kServerInfo:
      return serverSample(out, fam, i, 1, "tags", serverAt(i)->tags);
    case kPerAlert: {
      // Alert by alert, each with every server (0 too: a rate needs its start).
      int a = i / flServer.nodes(), s = i % flServer.nodes();
      return serverSample(out, fam, s, g_alerts.hits(a, s), "alert", g_alerts.name(a));
    }
    case kPerControlUser: {
      const ctlAccess& a = g_ctlAccess;
      const ctlUserCount& u = a.users[i / 2 < a.userCount ? i / 2 : kCtlUsersMax];
      bool ok = i % 2 == 0;
      return sample(out, fam, "user", u.user, ok ? u.ok : u.denied,
                    {0, "result", ok ? "ok" : "denied"});
    }
    case kPerTrigger:
    case kPerTriggerSkip: {
      // Trigger by trigger, the first of each alert standing for all of its.
      int per = fam.scope == kPerTrigger ? 1 : kTriggerSkips;
      int t = i / (flServer.nodes() * per), s = i / per % flServer.nodes(), why = i % per;
      if (!g_triggers.firstOfAlert(t)) return 0;
      int a = g_triggers.alert(t);
      if (fam.scope == kPerTrigger) {
        return serverSample(out, fam, s, g_triggers.sent(a, s), "alert", g_alerts.name(a));
      }
      return serverSample(out, fam, s, g_triggers.skipped(a, s, why), "alert", g_alerts.name(a),
                          "reason", kTriggerSkipNames[why]);
    }
    default: {
      uint64_t v = fam.console(f);
      return v == kNoSample ? 0 : sample(out, fam, nullptr, nullptr, v);
    }
  }
}

void resetMetricsShared() {
  trFree(g_metrics.sharedBlock, "metrics");
  g_metrics.shared = nullptr;
  g_metrics.sharedBlock = nullptr;
  g_metrics.sharedFor = -1;
}

uint64_t mix(uint64_t h, uint64_t v) { return (h ^ v) * 0x100000001b3ULL; }

// The file's bytes go out in chunks of kWriteChunk.
struct fileOut {
  int fd;
  int err;
  int len;
  char buf[kWriteChunk];
};

void flushOut(fileOut* o) {
  for (int done = 0; o->err == 0 && done < o->len;) {
    int n = trFileWrite(o->fd, o->buf + done, static_cast<unsigned>(o->len - done));
    if (n <= 0) o->err = n < 0 ? trLastError() : EIO;  // a write that took nothing
    done += n > 0 ? n : 0;
  }
  o->len = 0;
}

fileOut outScratch;  // 64 KB: no stack for it

void noteOutcome(const char* path, int err) {
  if (err != 0 && !g_metrics.failing) {
    log("**Cannot write metrics file %s: %s\n", path, trErrorText(err));
  } else if (err == 0 && g_metrics.failing) {
    log("**Metrics file %s is written again\n", path);
  }
  g_metrics.failing = err != 0;
}

void writeNow(const metricsFigures& f, uint32_t mono) {
  char path[kNameChars + 1];  // blanks a configuration line ends with are no part of it
  strzcpy(path, g_metricsPath, kNameChars);
  strim(path, " \t");
  noteOutcome(path, writeMetricsFile(path, f));
  g_metrics.lastWrite = mono;
  g_metrics.digest = metricsDigest(f);
}

// Marks in g_metrics.shared the records whose ipPort an earlier one has,
// through chains of records by the hash of their ipPort.
void markShared(int n) {
  uint32_t buckets = 8;
  while (buckets < 2u * static_cast<uint32_t>(n)) buckets <<= 1;
  size_t ints = buckets + static_cast<size_t>(n);
  void* block = trAlloc(ints * sizeof(int) + static_cast<size_t>(n), "metrics");
  g_metrics.sharedFor = n;
  if (block == nullptr) return;
  g_metrics.sharedBlock = block;
  int* head = static_cast<int*>(block);
  int* next = head + buckets;
  g_metrics.shared = reinterpret_cast<uint8_t*>(next + n);
  for (uint32_t b = 0; b < buckets; b++) head[b] = -1;
  for (int i = 0; i < n; i++) {
    const char* ipPort = serverAt(i)->ipPort;
    uint32_t b = textHash(ipPort) & (buckets - 1);
    int j = head[b];
    while (j >= 0 && strcmp(serverAt(j)->ipPort, ipPort) != 0) j = next[j];
    g_metrics.shared[i] = j >= 0;
    next[i] = head[b];
    head[b] = i;
  }
}

}  // namespace

bool sharedIpPort(int i) {
  if (g_metrics.sharedFor != flServer.nodes()) {
    resetMetricsShared();
    markShared(flServer.nodes());
  }
  return g_metrics.shared != nullptr && g_metrics.shared[i] != 0;
}

void resetMetrics() {
  resetMetricsShared();
  g_metrics = metricsState();
}

int escapeLabel(const char* value, char* out, int size) {
  // Addresses hold nothing to escape: copied whole, as most labels are.
  size_t plain = strcspn(value, "\\\"\n");
  if (value[plain] == 0 && plain < static_cast<size_t>(size)) {
    memcpy(out, value, plain + 1);
    return static_cast<int>(plain);
  }
  int n = 0;
  for (; *value; value++) {
    char c = *value;
    bool escaped = c == '\\' || c == '"' || c == '\n';
    if (n + (escaped ? 2 : 1) > size - 1) break;
    if (escaped) out[n++] = '\\';
    out[n++] = c == '\n' ? 'n' : c;
  }
  out[n] = 0;
  return n;
}

int metricsLine(metricsCursor* c, const metricsFigures& f, char* out) {
  if (c->family == 0 && c->item == -2) makeConsoleLabel();
  while (c->family < kFamilyCount) {
    const family& fam = kFamilies[c->family];
    int item = c->item++;
    if (item == -2) return commentLine(out, "# HELP ", fam.name, fam.help);
    if (item == -1) return commentLine(out, "# TYPE ", fam.name, fam.type);
    if (item < itemsOf(fam)) {
      int len = sampleLine(fam, item, f, out);
      if (len > 0) return len;
      continue;
    }
    c->family++;
    c->item = -2;
  }
  return 0;
}

metricsFigures gatherFigures(bool up, uint32_t mono) {
  metricsFigures f;
  f.up = up;
  f.startMs = g_metrics.startMs;
  f.wallMs = trWallMs();
  f.mono = mono;
  uint32_t drops = 0;
  f.dropsKnown = g_sock.valid() && trSockDrops(g_sock.handle, &drops) == 0;
  f.receiveDrops = drops;
  f.controlDropped = g_ctl.droppedLines;
  for (const ctlClient& c : g_ctl.clients) {
    if (c.fd < 0) continue;
    f.controlClients++;
    f.controlDropped += c.out.droppedTotal();
  }
  f.journalDropped = g_journalDropped;
  f.logWriteErrors = g_logWriteErrors;
  f.reloadOk = !g_metrics.reloadFailed;
  f.reloadOkMs = g_metrics.reloadOkMs ? g_metrics.reloadOkMs : g_metrics.startMs;
  f.ignored[kIgnoredUnknownSender] = g_lineCounts[kUnknownSender];
  f.ignored[kIgnoredShort] = g_lineCounts[kShortPacket];
  f.ignored[kIgnoredEmpty] = g_emptyDatagrams;
  f.ignored[kIgnoredLocalOtherUser] = g_lineCounts[kUdpOtherUser];
  f.ignored[kIgnoredLocalUnverified] = g_lineCounts[kUdpUnverified];
  return f;
}

uint64_t metricsDigest(const metricsFigures& f) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (const family& fam : kFamilies) {
    if (fam.millis) continue;  // the clock's values change by themselves
    for (int i = 0; fam.scope == kPerServer && i < flServer.nodes(); i++) {
      h = mix(h, fam.server(serverAt(i), f));
    }
    if (fam.scope == kConsole) h = mix(h, fam.console(f));
  }
  for (uint64_t n : f.ignored) h = mix(h, n);
  for (const ctlUserCount& u : g_ctlAccess.users) h = mix(mix(h, u.ok), u.denied);
  for (int a = 0; a < g_alerts.count(); a++) {
    for (int i = 0; i < flServer.nodes(); i++) h = mix(h, g_alerts.hits(a, i));
  }
  for (int t = 0; t < g_triggers.count(); t++) {
    for (int i = 0; i < flServer.nodes(); i++) {
      h = mix(h, g_triggers.sent(g_triggers.alert(t), i));
      for (int why = 0; why < kTriggerSkips; why++) {
        h = mix(h, g_triggers.skipped(g_triggers.alert(t), i, why));
      }
    }
  }
  // A new line changes a count, so the last line's time needs no look of its own.
  return h;
}

int writeMetricsFile(const char* path, const metricsFigures& f) {
  char tmp[kNameChars + 8];
  trf(tmp, sizeof tmp, "%s.XXXXXX", path);
  outScratch.fd = trMakeTemp(tmp);
  if (outScratch.fd < 0) return trLastError();
  outScratch.err = trFileChmod(outScratch.fd, kFileMode) == 0 ? 0 : trLastError();
  outScratch.len = 0;
  metricsCursor c;
  while (outScratch.err == 0) {
    if (outScratch.len > kWriteChunk - kMetricsLineMax) flushOut(&outScratch);
    int n = metricsLine(&c, f, outScratch.buf + outScratch.len);
    if (n == 0) break;
    outScratch.len += n;
  }
  flushOut(&outScratch);
  if (trFileClose(outScratch.fd) != 0 && outScratch.err == 0) outScratch.err = trLastError();
  if (outScratch.err == 0 && trRename(tmp, path) != 0) outScratch.err = trLastError();
  if (outScratch.err != 0) trUnlink(tmp);
  return outScratch.err;
}

void metricsNoteReload(bool ok, int64_t wallMs) {
  g_metrics.reloadFailed = !ok;
  if (ok) {
    g_metrics.reloadOkMs = wallMs;
    resetMetricsShared();
  }
  g_metrics.digest = 0;  // what the file shows has changed
  g_metrics.lastCheck -= kMetricsEveryMs;
}

void metricsNoteStart() {
  if (g_metrics.startMs == 0) g_metrics.startMs = trWallMs();
}

void metricsPass(uint32_t mono) {
  if (!g_metrics.started) {  // "qzuconctl metrics" needs the start without a file too
    g_metrics.started = true;
    metricsNoteStart();
    g_metrics.lastCheck = mono;
    if (g_metricsPath[0] != 0) writeNow(gatherFigures(true, mono), mono);
    return;
  }
  if (g_metricsPath[0] == 0) return;
  if (mono - g_metrics.lastCheck < kMetricsEveryMs) return;
  g_metrics.lastCheck = mono;
  metricsFigures f = gatherFigures(true, mono);
  if (metricsDigest(f) != g_metrics.digest || mono - g_metrics.lastWrite >= kMetricsRefreshMs) {
    writeNow(f, mono);
  }
}

void metricsExit(uint32_t mono) {
  if (g_metricsPath[0] != 0) writeNow(gatherFigures(false, mono), mono);
  resetMetricsShared();  // nothing is left allocated at the end
}
