// Link health of each server: silence, noise after a challenge, counters.
#include "protocol/health.h"

#include <cmath>

#include "app/bounded.h"
#include "app/log.h"
#include "ctlproto/words.h"
#include "protocol/outbound.h"
#include "protocol/server.h"
#include "runtime/text.h"

namespace {

// Controls that no text of any encoding uses between its words: the C0 range
// less tab, LF, CR and ESC (colour sequences), and DEL. A wrong key makes
// about one byte in nine one of these.
bool strayControl(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != 0x1B) || c == 0x7F;
}

}  // namespace

bool passwordMismatch(const serverRec* r) { return r->health.mismatch || r->health.refused; }

bool noAnswer(const serverRec* r) { return r->health.silenceLogged && !r->health.heard; }

bool unreachable(const serverRec* r) { return r->health.unreachable != kReachable; }

bool keyConfirmed(const serverRec* r) {
  return r->health.answered && r->health.confirmed && !passwordMismatch(r);
}

lineTraits traitsOf(const unsigned char* body, int len) {
  // The NULs that end the body are the text's end; any other is a control.
  int end = len;
  while (end > 0 && body[end - 1] == 0) end--;
  lineTraits t = {static_cast<uint16_t>(len), static_cast<uint16_t>(end), 0, 0, end == len};
  for (int i = 0; i < end; i++) {
    t.controls += strayControl(body[i]);
    t.high += body[i] >> 7;
    if (body[i] == 0) t.nulAstray = 1;  // text goes on after it
  }
  return t;
}

bool looksScrambled(const lineTraits* lines, int n) {
  int bytes = 0, controls = 0, high = 0, astray = 0;
  for (int i = 0; i < n; i++) {
    bytes += lines[i].bytes;
    controls += lines[i].controls;
    high += lines[i].high;
    astray += lines[i].nulAstray;
  }
  return n >= 1 && astray * 3 >= n * 2 && high * 6 >= bytes && high * 6 <= bytes * 5 &&
         controls >= 1;
}

bool judgeBody(noiseWindow* w, const unsigned char* body, int len) {
  if (len < kNoiseMinBytes) return false;
  if (w->count == kNoiseLines) {
    for (int i = 1; i < kNoiseLines; i++) w->line[i - 1] = w->line[i];
    w->count--;
  }
  w->line[w->count++] = traitsOf(body, len);
  return looksScrambled(&w->line[w->count - 1], 1) ||
         (w->count == kNoiseLines && looksScrambled(w->line, w->count));
}

double keyEvidence(const lineTraits& t) {
  static const double kNoControlBits = std::log2(256.0 / 227);  // 227 bytes are no stray control
  double bits = t.nulAstray ? 0 : 8;
  if (t.controls == 0) bits += t.text * kNoControlBits;
  if (t.high == 0) bits += t.text;
  return bits;
}

void noteSent(serverRec* r, uint32_t mono, bool heartbeat) {
  serverHealth& h = r->health;
  if (!h.sent) h.firstSend = mono;
  h.sent = 1;
  if (heartbeat) {
    h.heartbeats++;
  } else {
    h.commands++;
    // Heartbeats get no answer from an idle server; a command does.
    if (!h.commandWaiting) h.commandSince = mono;
    h.commandWaiting = 1;
  }
  if (h.challenged) h.answered = 1;
}

void noteChallenge(serverRec* r) {
  serverHealth& h = r->health;
  h.refused = h.answered && !h.lineOnAnswer && !h.confirmed;
  h.challenges++;
  h.challenged = 1;
  h.answered = 0;
  h.lineOnAnswer = 0;
  h.mismatch = 0;
  if (!h.refused) return;
  logAbout(r, kPrioWarning, kEventMismatch,
           "**Password mismatch for %s: it answered the password proof with a new challenge; "
           "check password= for this server\n",
           r->ipPort);
}

void forgetSession(serverRec* r) {
  serverHealth& h = r->health;
  h.challenged = h.answered = h.mismatch = h.refused = h.lineOnAnswer = h.confirmed = 0;
  h.noise = noiseWindow();
}

void noteHeard(serverRec* r, int bytes, uint32_t mono) {
  serverHealth& h = r->health;
  // Probes of a server silent, unreachable or not heard yet stop now, and
  // its next silence starts them again: the heartbeat walk must look anew. A
  // server that talks only moves that start later.
  if (probeIn(r, mono) == UINT32_MAX) heartbeatsChanged();
  if (h.unreachable && h.heard) {
    logBoundedAbout(r, kAnswerAgain, mono, r->ipPort);
  } else if (!h.heard && (h.silenceLogged || h.unreachable)) {
    logAbout(r, kPrioNotice, kEventAnswerAgain, "**First answer from %s\n", r->ipPort);
  }
  if (h.heard) {
    // Smoothed by eighths; a gap past the silence limit counts as that.
    uint32_t gap = mono - h.lastHeard;
    if (gap > static_cast<uint32_t>(kSilenceMs)) gap = kSilenceMs;
    h.usualGap = h.usualGap == 0 ? gap : (h.usualGap * 7 + gap) / 8;
    if (h.usualGap == 0) h.usualGap = 1;  // a burst: known, and short
  }
  h.unreachable = kReachable;
  h.commandWaiting = 0;
  h.lastHeard = mono;
  h.heard = 1;
  h.bytes += static_cast<uint64_t>(bytes);
}

void noteLine(serverRec* r, uint32_t mono, const unsigned char* body, int len) {
  serverHealth& h = r->health;
  h.lines++;
  h.lastLine = mono;
  // A line under an answered challenge: the server goes on with us.
  if (h.answered) {
    h.lineOnAnswer = 1;
    h.refused = 0;
  }
  // Before any challenge both sides use the default seed, so the text then
  // says nothing about the password.
  if (!h.challenged) return;
  if (!judgeBody(&h.noise, body, len)) {
    // Once confirmed only noise changes it: the line path skips the count.
    if (!h.confirmed) {
      lineTraits t = len >= kNoiseMinBytes ? h.noise.line[h.noise.count - 1] : traitsOf(body, len);
      h.confirmed = keyEvidence(t) >= kConfirmBits;
      if (h.confirmed) {
        h.refused = 0;  // the text shows the password right, whatever the proof met
        journalAbout(r, kEventConfirmed, "Session confirmed for %s: its text unscrambles",
                     r->ipPort);
      }
    }
    return;
  }
  h.confirmed = 0;
  bool told = passwordMismatch(r);  // once per challenge, whichever tells first
  h.mismatch = 1;
  if (told) return;
  logAbout(r, kPrioWarning, kEventMismatch,
           "**Password mismatch for %s: its text does not unscramble; check password= for this "
           "server\n",
           r->ipPort);
}

void notePortUnreachable(serverRec* r, uint32_t mono, const char* offender) {
  serverHealth& h = r->health;
  if (h.unreachable == kUnreachPort) return;
  h.unreachable = kUnreachPort;
  h.unreachableAt = mono;
  heartbeatsChanged();  // probes start
  logBoundedAbout(r, kPortUnreachable, mono, r->ipPort, offender);
}

namespace {

// When a command to r counts as unanswered, for checkSilence: how long from
// mono, 0 when now, the largest value when it cannot.
uint32_t commandUnansweredIn(const serverRec* r, uint32_t mono) {
  const serverHealth& h = r->health;
  if (!h.heard || !h.commandWaiting || h.unreachable) return UINT32_MAX;
  int64_t silent = int64_t(kSilenceMs) - static_cast<int32_t>(mono - h.lastHeard);
  int64_t unanswered = int64_t(kCommandAnswerMs) - static_cast<int32_t>(mono - h.commandSince);
  int64_t left = silent > unanswered ? silent : unanswered;
  return left <= 0 ? 0 : left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
}

}  // namespace

void checkSilence(serverRec* r, uint32_t mono) {
  serverHealth& h = r->health;
  if (commandUnansweredIn(r, mono) == 0) {
    h.unreachable = kUnreachSilent;
    h.unreachableAt = mono;
    logAbout(r, kPrioWarning, kEventUnreachable,
             "**Server %s unreachable: no answer to a command, nothing from it for %d s\n",
             r->ipPort, static_cast<int>(static_cast<int32_t>(mono - h.lastHeard) / 1000));
  }
  if (silenceCheckIn(r, mono) != 0 || h.silenceLogged || h.heard) return;
  r->health.silenceLogged = 1;
  logAbout(r, kPrioWarning, kEventNoAnswer,
           "**No answer from %s after %d s: server down, wrong myaddr= or a firewall?\n", r->ipPort,
           static_cast<int>(kSilenceMs / 1000));
}

uint32_t silenceCheckIn(const serverRec* r, uint32_t mono) {
  const serverHealth& h = r->health;
  uint32_t command = commandUnansweredIn(r, mono);
  if (!h.sent || h.heard || h.silenceLogged) return command;
  // In 64 bits: a time before the first send makes the difference hugely negative.
  int64_t left = int64_t(kSilenceMs) - static_cast<int32_t>(mono - h.firstSend);
  uint32_t first = left <= 0 ? 0 : left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
  return first < command ? first : command;
}

int32_t probeAfterMs(uint32_t usualGap) {
  if (usualGap == 0 || usualGap >= static_cast<uint32_t>(kSilenceMs / kProbeGaps)) {
    return kSilenceMs;
  }
  int32_t after = static_cast<int32_t>(usualGap) * kProbeGaps;
  return after < kProbeSoonestMs ? kProbeSoonestMs : after;
}

bool probing(const serverRec* r, uint32_t mono) {
  const serverHealth& h = r->health;
  uint32_t from;
  int32_t after = probeAfterMs(h.usualGap);
  if (h.unreachable) {
    from = h.unreachableAt;
  } else if (h.heard && static_cast<int32_t>(mono - h.lastHeard) >= after) {
    from = h.lastHeard + static_cast<uint32_t>(after);
  } else {
    return false;
  }
  return static_cast<int32_t>(mono - from) < static_cast<int32_t>(kProbeWindowMs);
}

uint32_t probeIn(const serverRec* r, uint32_t mono) {
  const serverHealth& h = r->health;
  if (!h.heard || h.unreachable) return UINT32_MAX;
  int32_t left = probeAfterMs(h.usualGap) - static_cast<int32_t>(mono - h.lastHeard);
  return left > 0 ? static_cast<uint32_t>(left) : UINT32_MAX;
}

linkStateKind linkState(const serverRec* r) {
  // What it says now comes first: a closed port hides whatever was true before.
  if (unreachable(r)) return kLinkUnreachable;
  if (passwordMismatch(r)) return kLinkMismatch;
  if (noAnswer(r)) return kLinkNoAnswer;
  if (keyConfirmed(r)) return kLinkConfirmed;
  return r->health.answered ? kLinkUp : kLinkWaiting;
}

bool serverUp(const serverRec* r, uint32_t mono) {
  // Up means a working session: the key shown right by the server's text,
  // and that text still coming.
  const serverHealth& h = r->health;
  return linkState(r) == kLinkConfirmed && h.lines > 0 && mono - h.lastLine < uint32_t{kSilenceMs};
}

void statusLine(const serverRec* r, uint32_t mono, char* out, int size) {
  const serverHealth& h = r->health;
  char last[32];
  if (h.lines == 0) {
    strzcpy(last, "never", sizeof last - 1);
  } else {
    int32_t ago = static_cast<int32_t>(mono - h.lastLine);
    trf(last, sizeof last, "%ld s ago", static_cast<long>(ago < 0 ? 0 : ago / 1000));
  }
  trf(out, size, "%s %s: challenge %s, last line %s, lines %llu, heartbeats %llu%s%s%s%s\n",
      kAnsStatus, r->ipPort, h.answered ? "answered" : "not answered", last,
      static_cast<unsigned long long>(h.lines), static_cast<unsigned long long>(h.heartbeats),
      keyConfirmed(r) ? ", key confirmed" : "", passwordMismatch(r) ? ", password mismatch" : "",
      noAnswer(r) ? ", no answer" : "", unreachable(r) ? ", unreachable" : "");
}
