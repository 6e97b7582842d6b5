// The console's health in the Prometheus text format: the metrics file for
// node_exporter's textfile collector ("metrics=") and the text of the
// control request "metrics". Both come from one generator that makes the
// text a line at a time from a cursor, so a file of ten thousand servers
// needs no buffer of its size and a control client gets it as its queue
// drains. The file is written to a temporary name beside it and renamed, so a
// scrape never reads half of it; it holds counts and states, no secret.
#ifndef QZUCON_APP_METRICS_H_
#define QZUCON_APP_METRICS_H_

#include <cstdint>

// The reasons of qzucon_datagrams_ignored_total, in the order written.
enum ignoredReason {
  kIgnoredUnknownSender,   // from no configured server, or a stale challenge
  kIgnoredShort,           // from a server, too short to hold a header
  kIgnoredEmpty,           // no byte at all
  kIgnoredLocalOtherUser,  // local UDP input of another user
  kIgnoredLocalUnverified,
  kIgnoredReasons
};

// The console-wide figures of one text, gathered once (gatherFigures); the
// per-server values are read from the records as the text is made.
struct metricsFigures {
  bool up = true;       // false in the file left at exit
  int64_t startMs = 0;  // calendar ms of the start
  int64_t wallMs = 0;   // calendar ms when gathered
  uint32_t mono = 0;    // monotonic ms then: with wallMs, dates a last line
  bool dropsKnown = false;
  uint64_t receiveDrops = 0;
  uint64_t controlClients = 0;
  uint64_t controlDropped = 0;
  uint64_t journalDropped = 0;
  uint64_t logWriteErrors = 0;
  uint64_t ignored[kIgnoredReasons] = {};
  bool reloadOk = true;    // the last reload was applied, or none was asked for
  int64_t reloadOkMs = 0;  // calendar ms of the last reading applied: the start, or a reload
};

// Where the generator is: a family of series (HELP, TYPE, then its samples)
// and the sample within it.
struct metricsCursor {
  int family = 0;
  int item = -2;  // -2: the HELP line, -1: the TYPE line, 0...: samples
};

// Longest line the generator makes: the console's name and a server's
// address twice their length when every character needs escaping, its tags
// or an alert's name, the name and the value.
constexpr int kMetricsLineMax = 1280;

// Writes the next line of the text, with its '\n', into out (at least
// kMetricsLineMax bytes) and returns its length; 0 once the text is complete.
// Reads flServer; no system call.
int metricsLine(metricsCursor* c, const metricsFigures& f, char* out);

// A label value as the text format quotes it: '\', '"' and newline escaped.
// Writes at most size - 1 characters and a NUL; returns the length. Pure.
int escapeLabel(const char* value, char* out, int size);

// The figures now, from the globals and the kernel (the server socket's
// drops, the calendar clock); up says whether the console runs on.
metricsFigures gatherFigures(bool up, uint32_t mono);

// A digest of everything the text shows but the clock: when it is the same
// as at the last write, nothing changed. Reads flServer.
uint64_t metricsDigest(const metricsFigures& f);

constexpr uint32_t kMetricsEveryMs = 5000;  // least time between two writes
// Longest time between two writes even when nothing changed: the file's age
// (node_textfile_mtime_seconds) then tells a console that hangs or has gone.
constexpr uint32_t kMetricsRefreshMs = 60000;

// The file writer's state, in g_metrics.
struct metricsState {
  bool started = false;
  int64_t startMs = 0;
  uint32_t lastCheck = 0;  // monotonic ms of the last look at the digest
  uint32_t lastWrite = 0;  // ... and of the last write
  uint64_t digest = 0;     // what the last write showed
  bool failing = false;    // the last write failed: said once, until one works
  // Per record, 1 when an earlier record has the same ipPort (sharedIpPort);
  // built for sharedFor records, null when not built or memory was short.
  uint8_t* shared = nullptr;
  void* sharedBlock = nullptr;  // trAlloc's block that holds it
  int sharedFor = -1;
  bool reloadFailed = false;  // the last reload was refused
  int64_t reloadOkMs = 0;     // calendar ms of the last reload applied; 0: none yet
};

// Whether record i's ipPort is also an earlier record's. Two records of one
// address would give two samples of one label set, which makes the whole
// text invalid, so the later ones carry entry="<position from 1>" as well.
// Built once for the list (memory: an int and a byte per record); false
// when memory is short.
bool sharedIpPort(int i);

// A reload of the configuration was applied (ok) or refused, at calendar ms
// wallMs: the next pass writes the file. After one applied, the list of
// servers may be another of the same length: what sharedIpPort built is
// dropped.
void metricsNoteReload(bool ok, int64_t wallMs);

// Frees what g_metrics holds and puts it back to program-start state.
void resetMetrics();

// Notes when the console started, once, before its first pass: a control
// client's "metrics" in that pass, which comes before metricsPass, gets it.
void metricsNoteStart();

// Once a pass, with its monotonic ms: the first call notes the start and
// writes the file; later ones write it when kMetricsEveryMs have passed and
// something changed, or kMetricsRefreshMs have passed. No file without
// "metrics=". Logs a failure once, and once more when a write works again.
void metricsPass(uint32_t mono);

// At exit: the file once more, with qzucon_up 0 and every server down.
void metricsExit(uint32_t mono);

// Writes the whole text for f to path through a temporary file in the same
// folder, mode 0640 whatever the umask, renamed over path. 0 when written,
// else the error code; the temporary file is removed then.
int writeMetricsFile(const char* path, const metricsFigures& f);

extern metricsState g_metrics;

#endif  // QZUCON_APP_METRICS_H_
