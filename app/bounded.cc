// The bounded lines and their summaries, both printed from the table of kinds.
#include "app/bounded.h"

#include <cstdarg>
#include <cstring>

#include "app/globals.h"
#include "app/log.h"
#include "runtime/text.h"

lineLimit g_lineLimits[kLineKinds];
bool g_serverLimitsRunning;
uint32_t g_serverLimitsStart;
uint64_t g_lineCounts[kLineKinds];

void resetBounded() {
  memset(g_lineLimits, 0, sizeof g_lineLimits);
  g_serverLimitsRunning = false;
  g_serverLimitsStart = 0;
  memset(g_lineCounts, 0, sizeof g_lineCounts);
}

namespace {

struct kindText {
  const char* line;    // the whole line's format
  const char* quoted;  // its start up to and with the peer: what a summary quotes
  int priority;        // in the journal
  journalEvent event;
};

#define QZUCON_LINE_KIND_TEXT(name, scope, priority, event, quoted, rest) \
  {quoted rest, quoted, priority, event},
const kindText kKindTexts[kLineKinds] = {QZUCON_BOUNDED_LINES(QZUCON_LINE_KIND_TEXT)};
#undef QZUCON_LINE_KIND_TEXT

constexpr char kAnyPeer[] = "...";  // the peer in the summary of a kind about anyone
constexpr int kQuoteChars = 511;    // a server's address and the text around it

void sumUp(uint32_t held, lineKind kind, const serverRec* about, const char* who) {
  if (held == 0) return;
  const char* quoted = kKindTexts[kind].quoted;
  while (*quoted == '*') quoted++;  // the summary carries its own mark
  char quote[kQuoteChars + 1];
  trf(quote, sizeof quote, quoted, who);
  logAbout(about, kPrioWarning, kEventNone, "**%lu more lines like \"%s\" in the last second\n",
           static_cast<unsigned long>(held), quote);
}

// Counts one line of kind in l, sums up the ended second, and prints the
// line from the values in ap when it may be logged. about is the server of a
// kind about a server, else null; who is what the summary names.
bool logLine(lineLimit* l, lineKind kind, serverRec* about, const char* who, uint32_t tick,
             va_list ap) {
  g_lineCounts[kind]++;
  uint32_t ended = 0;
  bool ok = limitLine(l, tick, &ended) != 0;
  sumUp(ended, kind, about, who);
  if (!ok) return false;
  char line[kLogMessageChars + 1];  // log cuts its messages to this as well
  vtrf(line, sizeof line, kKindTexts[kind].line, ap);
  logAbout(about, kKindTexts[kind].priority, kKindTexts[kind].event, "%s", line);
  return true;
}

lineLimit* serverLimit(serverRec* r, lineKind kind) { return &r->lineLimits[lineSlot(kind)]; }

// Notes a server's limit whose second is running: it will need a summary.
void noteServerLimit(const lineLimit* l) {
  if (!l->running) return;
  if (!g_serverLimitsRunning || static_cast<int32_t>(l->start - g_serverLimitsStart) < 0) {
    g_serverLimitsStart = l->start;
  }
  g_serverLimitsRunning = true;
}

// As limitFlush decides: nothing to sum up before the earliest second ends.
void flushServerLimits(uint32_t tick) {
  if (!g_serverLimitsRunning || tick - g_serverLimitsStart < kLimitSecondMs) return;
  g_serverLimitsRunning = false;
  for (int i = 0; i < flServer.nodes(); i++) {
    serverRec* r = serverAt(i);
    for (int k = 0; k < kLineKinds; k++) {
      lineKind kind = static_cast<lineKind>(k);
      if (kLineScopes[kind] != kAboutServer) continue;
      sumUp(limitFlush(serverLimit(r, kind), tick), kind, r, r->ipPort);
      noteServerLimit(serverLimit(r, kind));
    }
  }
}

}  // namespace

bool logBounded(lineKind kind, uint32_t tick, ...) {
  va_list ap;
  va_start(ap, tick);
  bool ok = logLine(&g_lineLimits[kind], kind, nullptr, kAnyPeer, tick, ap);
  va_end(ap);
  return ok;
}

bool logBoundedAbout(serverRec* r, lineKind kind, uint32_t tick, ...) {
  va_list ap;
  va_start(ap, tick);
  bool ok = logLine(serverLimit(r, kind), kind, r, r->ipPort, tick, ap);
  va_end(ap);
  noteServerLimit(serverLimit(r, kind));
  return ok;
}

void flushBoundedLines(uint32_t tick) {
  for (int k = 0; k < kLineKinds; k++) {
    lineKind kind = static_cast<lineKind>(k);
    if (kLineScopes[kind] != kAboutAnyone) continue;
    sumUp(limitFlush(&g_lineLimits[k], tick), kind, nullptr, kAnyPeer);
  }
  flushServerLimits(tick);
}
