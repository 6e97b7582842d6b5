// Summaries of the bounded lines.
#include "app/bounded.h"

#include "app/globals.h"
#include "app/log.h"

const char kShortPacketKind[] = "Ignoring short packet from";
const char kChallengeKind[] = "Received Server Challenge from";

namespace {

// What the summary quotes for each kind; "..." stands for the peer.
const char* const kKindText[kLineKinds] = {
    "Ignoring packet from ... - unknown source address / header",
    "TCP Connection Request Denied from ...",
    "TCP Local Connection Request Denied: TCP Socket already open",
    "Refused local TCP input from ...: another user",
    "Refused local TCP input from ...: sender could not be verified",
    "Refused local UDP input from ...: another user",
    "Refused local UDP input from ...: sender could not be verified",
    "Refused control connection ...",
};

void sumUp(uint32_t held, const char* kind, const char* who) {
  if (held == 0) return;
  log("**%lu more lines like \"%s%s%s\" in the last second\n", static_cast<unsigned long>(held),
      kind, who[0] ? " " : "", who);
}

bool allow(lineLimit* l, const char* kind, const char* who, uint32_t tick) {
  uint32_t ended = 0;
  bool ok = limitLine(l, tick, &ended) != 0;
  sumUp(ended, kind, who);
  return ok;
}

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
    sumUp(limitFlush(&r->shortLines, tick), kShortPacketKind, r->ipPort);
    sumUp(limitFlush(&r->challengeLines, tick), kChallengeKind, r->ipPort);
    noteServerLimit(&r->shortLines);
    noteServerLimit(&r->challengeLines);
  }
}

}  // namespace

bool mayLog(lineKind kind, uint32_t tick) {
  return allow(&g_lineLimits[kind], kKindText[kind], "", tick);
}

bool mayLogAbout(const serverRec* r, lineLimit* l, const char* kind, uint32_t tick) {
  bool ok = allow(l, kind, r->ipPort, tick);
  noteServerLimit(l);
  return ok;
}

void flushBoundedLines(uint32_t tick) {
  for (int k = 0; k < kLineKinds; k++) sumUp(limitFlush(&g_lineLimits[k], tick), kKindText[k], "");
  flushServerLimits(tick);
}
