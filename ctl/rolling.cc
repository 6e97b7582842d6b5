// send --rolling: one server's turn after the other, the result lines and
// the run's exit status.
#include "ctl/rolling.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "ctl/ctlconn.h"
#include "ctl/ctlout.h"
#include "ctlproto/words.h"
#include "runtime/clock.h"
#include "fleet/pattern.h"
#include "runtime/signals.h"
#include "runtime/text.h"

void rollingJudge(rollingResult* r, int sessionStatus, bool untilAsked, bool untilSeen,
                  long timeoutMs) {
  r->status = sessionStatus;
  // A sound session says nothing of a line that never came; an unsound one
  // is the likelier reason it did not come, and what to fix first.
  if (sessionStatus == kCtlOk && untilAsked && !untilSeen) r->status = kCtlNotSeen;
  r->outcome = r->status == kCtlOk ? kRollOk : kRollFailed;
  const char* why = "";
  switch (r->status) {
    case kCtlOk:
      break;
    case kCtlMismatch:
      why = "password mismatch";
      break;
    case kCtlUnreachable:
      why = "unreachable";
      break;
    case kCtlNoAnswer:
      why = "no answer";
      break;
    case kCtlWaiting:
      why = "its session is not up yet";
      break;
    case kCtlUnconfirmed:
      why = "its password is not confirmed yet";
      break;
    case kCtlNotSeen:
      trf(r->reason, sizeof r->reason, "no line matched --until within %.1f s",
          static_cast<double>(timeoutMs) / 1000);
      return;
    default:
      why = "the console refused the send or went away";
  }
  strzcpy(r->reason, why, kRollingReasonChars);
}

bool rollingGoOn(const rollingResult& r, bool keepGoing) {
  return r.outcome == kRollOk || (r.outcome == kRollFailed && keepGoing && r.status != kCtlError);
}

int rollingLine(const rollingResult& r, bool json, int64_t timeMs, char* out, int size) {
  static const char* const kWords[] = {"ok", "failed", "not sent"};
  double secs = static_cast<double>(r.ms) / 1000;
  if (!json) {
    int n = r.outcome == kRollOk
                ? trf(out, size, "%s ok %.1f s", r.ipPort, secs)
                : trf(out, size, "%s %s: %s", r.ipPort, kWords[r.outcome], r.reason);
    return n < size ? n : -1;
  }
  char when[32];
  isoTime(timeMs, when);
  int len = trf(out, size, "{\"server\":");
  if (len >= size || !jsonString(r.ipPort, out, size, &len)) return -1;
  len += trf(out + len, size - len, ",\"time\":\"%s\",\"kind\":\"rolling\",\"result\":\"%s\"", when,
             kWords[r.outcome]);
  if (r.outcome != kRollNotSent && len < size) {
    len += trf(out + len, size - len, ",\"seconds\":%.1f", secs);
  }
  if (r.outcome != kRollOk && len < size) {
    len += trf(out + len, size - len, ",\"reason\":");
    if (len >= size || !jsonString(r.reason, out, size, &len)) return -1;
  }
  if (len + 2 > size) return -1;
  out[len++] = '}';
  out[len] = 0;
  return len;
}

int rollingStatus(const rollingResult* results, int count) {
  int worst = kCtlOk;
  bool notSent = false;
  for (int i = 0; i < count; i++) {
    const rollingResult& r = results[i];
    notSent = notSent || r.outcome == kRollNotSent;
    if (r.outcome != kRollFailed) continue;
    // A line not seen ranks after every session state: those say more.
    if (worst == kCtlOk || (worst == kCtlNotSeen && r.status != kCtlNotSeen)) {
      worst = r.status;
    } else if (r.status != kCtlNotSeen) {
      worst = worseStatus(worst, r.status);
    }
  }
  return worst == kCtlOk && notSent ? kCtlStopped : worst;
}

bool rollingServerOf(const char* line, char* out) {
  const char* rest = afterWord(line, kAnsTags);
  if (!rest) return false;
  int n = static_cast<int>(strcspn(rest, " "));
  if (n == 0 || n > kCtlAddrChars) return false;
  strzcpy(out, rest, n);
  return true;
}

namespace {

constexpr int kLineSize = 8192;
constexpr size_t kArrowLen = sizeof kAnsArrow - 1;

volatile sig_atomic_t g_rollingStop = 0;

// The first Ctrl-C ends the run after the server in progress; a second one
// ends it at once.
void onStop(int) {
  g_rollingStop = 1;
  trDefaultTerminate();
}

struct rollingRun {
  rollingResult results[kRollingServers];
  int count = 0;
};
rollingRun g_run;  // large: kept off the stack

// The group's servers in configuration order, from the console's "tags"
// answer; false after a message when the console refuses (no server has
// the tags, an unknown server) or has none of them.
bool listGroup(ctlConn* c, const char* target) {
  if (!c->request("%s %s", kReqTags, target)) return false;
  char line[kLineSize];
  for (;;) {
    if (c->readLine(line, sizeof line, -1) != 1) {
      fprintf(stderr, "qzuconctl: the console closed the connection\n");
      return false;
    }
    answerKind kind = answerKindOf(line);
    if (kind == kAnswerOk) break;
    if (kind == kAnswerError) {
      fprintf(stderr, "qzuconctl: %s\n", afterWord(line, kAnsError));
      return false;
    }
    // Past kRollingServers, or with an address too long to track: left out.
    if (g_run.count < kRollingServers && rollingServerOf(line, g_run.results[g_run.count].ipPort)) {
      g_run.count++;
    }
  }
  if (g_run.count == 0) fprintf(stderr, "qzuconctl: no server in the group\n");
  return g_run.count > 0;
}

// The wait of one turn after its send: until the server has answered and
// gone quiet or -w is up, or with --until until one of its lines matches or
// --timeout is up. Prints what comes. 1 when an --until line came, 0 when
// not (or none was asked), -1 when the console went away.
int waitTurn(ctlConn* c, const ctlArgs& a, const rollingHooks& h, const pattern* until,
             const char* ipPort, answerWait* wait) {
  uint32_t start = GetTickCount();
  long limit = until ? a.timeoutMs : a.waitMs;
  size_t n = strlen(ipPort);
  char line[kLineSize];
  for (;;) {
    long left = limit - static_cast<long>(GetTickCount() - start);
    long quiet = until ? -1 : wait->left(h.now());
    if (quiet >= 0 && quiet < left) left = quiet;
    if (left <= 0) return 0;
    int got = c->readLine(line, sizeof line, left);
    if (got < 0) return -1;
    if (got == 0) return 0;
    wait->heard(line, h.now());
    h.show(line);
    // Only this server's own lines, "IPPORT ->TEXT", and only their text.
    if (until && strncmp(line, ipPort, n) == 0 && strncmp(line + n, kAnsArrow, kArrowLen) == 0 &&
        patternMatch(until, line + n + kArrowLen)) {
      return 1;
    }
  }
}

// One server's turn: follow it, send it the LINEs, wait, and judge.
void turn(ctlConn* c, const ctlArgs& a, const rollingHooks& h, const pattern* until,
          rollingResult* r) {
  uint32_t start = GetTickCount();
  int status = kCtlOk;
  static answerWait wait;
  wait = answerWait();
  bool up = c->request("%s %s", kReqFollow, r->ipPort) && h.untilOk(c, nullptr, nullptr) == kCtlOk;
  for (int i = 0; up && i < a.lineCount; i++) {
    up = c->request("%s %s %s", kReqSend, r->ipPort, a.lines[i]) &&
         h.untilOk(c, &status, &wait) == kCtlOk;
  }
  int seen = up ? waitTurn(c, a, h, until, r->ipPort, &wait) : -1;
  if (seen >= 0) status = h.lateStates(c, r->ipPort, status);
  r->ms = static_cast<long>(GetTickCount() - start);
  rollingJudge(r, seen < 0 ? kCtlError : status, until != nullptr, seen == 1, a.timeoutMs);
}

void printResult(const rollingResult& r, bool json) {
  static char out[2 * kLineSize];
  if (rollingLine(r, json, trWallMs(), out, sizeof out) < 0) return;
  fputs(out, stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

// --gap after a turn; a Ctrl-C cuts it short. The console closes a client
// that asks and follows nothing for 30 s: a long gap asks it something that
// changes nothing every 10 s.
void gap(ctlConn* c, const rollingHooks& h, long ms) {
  constexpr long kAskEveryMs = 10000;
  uint32_t start = GetTickCount();
  for (long left = ms; left > 0 && !g_rollingStop;) {
    trSleep(static_cast<unsigned>(left < kAskEveryMs ? left : kAskEveryMs));
    left = ms - static_cast<long>(GetTickCount() - start);
    if (left > 0 && !g_rollingStop &&
        (!c->request("%s", kReqUnfollow) || h.untilOk(c, nullptr, nullptr) != kCtlOk)) {
      return;  // the next turn finds the console gone
    }
  }
}

}  // namespace

int rollingSend(ctlConn* c, const ctlArgs& a, const rollingHooks& h) {
  char target[kCtlArgChars + 1];
  if (a.tagCount) {
    tagTarget(a, target, sizeof target);
  } else {
    strzcpy(target, a.all ? kTargetAll : a.server, kCtlArgChars);
  }
  pattern until;
  if (a.until) {
    char why[300];
    if (!patternCompile(&until, a.until, why, sizeof why)) {
      fprintf(stderr, "qzuconctl: --until: bad expression \"%s\": %s\n", a.until, why);
      return kCtlError;
    }
  }
  g_run.count = 0;
  bool listed = listGroup(c, target);
  int done = 0;
  if (listed) {
    trOnTerminate(onStop);
    bool goOn = true;
    for (int i = 0; i < g_run.count && goOn && !g_rollingStop; i++) {
      if (i > 0) gap(c, h, a.gapMs);
      if (g_rollingStop) break;
      turn(c, a, h, a.until ? &until : nullptr, &g_run.results[i]);
      printResult(g_run.results[i], a.json);
      done++;
      goOn = rollingGoOn(g_run.results[i], a.keepGoing);
    }
    trDefaultTerminate();
    for (int i = done; i < g_run.count; i++) {
      rollingResult& r = g_run.results[i];
      strzcpy(r.reason, g_rollingStop ? "stopped" : "an earlier server failed",
              kRollingReasonChars);
      printResult(r, a.json);
    }
    if (g_rollingStop) {
      fprintf(stderr, "qzuconctl: stopped after %d of %d servers\n", done, g_run.count);
    }
  }
  if (a.until) patternFree(&until);
  return listed ? rollingStatus(g_run.results, g_run.count) : kCtlError;
}
