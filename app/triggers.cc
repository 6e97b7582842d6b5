// The triggers, what a matching line makes of their commands, and sending
// them once the line is done.
#include "app/triggers.h"

#include <cstring>

#include "app/globals.h"
#include "app/grid.h"
#include "app/journal.h"
#include "app/log.h"
#include "protocol/outbound.h"
#include "runtime/mem.h"
#include "runtime/text.h"

const char* const kTriggerSkipNames[kTriggerSkips] = {"capture", "length", "cooldown"};

triggerset g_triggers;

namespace {

bool groupDigit(char c) { return c >= '1' && c <= '9'; }

}  // namespace

bool captureSafe(const char* s, int len) {
  for (int i = 0; i < len; i++) {
    char c = s[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-' || c == '.' || c == ':' || c == '@';
    if (!ok) return false;
  }
  return true;
}

bool triggerCommandValid(const char* command, int groups, char* why, int whySize) {
  size_t len = strlen(command);
  if (len == 0) {
    trf(why, whySize, "the command is empty");
    return false;
  }
  if (len > static_cast<size_t>(kTriggerCommandChars)) {
    trf(why, whySize, "the command is longer than %d characters", kTriggerCommandChars);
    return false;
  }
  for (const char* p = command; *p; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || c == 127) {
      trf(why, whySize, "the command holds a control character");
      return false;
    }
    if (*p == '\\' && groupDigit(p[1]) && p[1] - '0' > groups) {
      trf(why, whySize, "\\%c: the alert's rule has %d group%s", p[1], groups,
          groups == 1 ? "" : "s");
      return false;
    }
  }
  return true;
}

int triggerFill(const char* command, const char* text, const patternSpan* spans, int n, char* out,
                int size) {
  int limit = size - 1 < kTriggerCommandChars ? size - 1 : kTriggerCommandChars;
  int len = 0;
  for (const char* p = command; *p; p++) {
    const char* piece = p;
    int pieceLen = 1;
    if (*p == '\\' && groupDigit(p[1])) {
      int g = *++p - '0';
      bool took = g < n && spans[g].at >= 0;
      piece = took ? text + spans[g].at : "";
      pieceLen = took ? spans[g].len : 0;
      if (!captureSafe(piece, pieceLen)) return kSkipCapture;
    }
    if (len + pieceLen > limit) return kSkipLength;
    memcpy(out + len, piece, static_cast<size_t>(pieceLen));
    len += pieceLen;
  }
  out[len] = 0;
  return -1;
}

bool triggerset::add(const alertset& alerts, const char* text, char* why, int whySize) {
  const char* colon = strchr(text, ':');
  if (colon == nullptr) {
    trf(why, whySize, "give on=ALERT:COMMAND");
    return false;
  }
  int len = static_cast<int>(colon - text);
  int a = 0;
  while (a < alerts.count() && !(strlen(alerts.name(a)) == static_cast<size_t>(len) &&
                                 memcmp(alerts.name(a), text, static_cast<size_t>(len)) == 0)) {
    a++;
  }
  if (a == alerts.count()) {
    trf(why, whySize, "no alert= of that name before it");
    return false;
  }
  if (!triggerCommandValid(colon + 1, alerts.groups(a), why, whySize)) return false;
  if (count_ == kTriggersMax) {
    trf(why, whySize, "at most %d triggers", kTriggersMax);
    return false;
  }
  list_[count_].alert = a;
  strzcpy(list_[count_].command, colon + 1, kTriggerCommandChars);
  count_++;
  return true;
}

void triggerset::note(const alertset& alerts, const int* hits, int count, int server,
                      const char* text) {
  for (int t = 0; t < count_ && pendingCount_ < kTriggersMax; t++) {
    bool matched = false;
    for (int i = 0; i < count && !matched; i++) matched = hits[i] == list_[t].alert;
    if (!matched) continue;
    patternSpan spans[kPatternCaptures + 1];
    int n = alerts.captures(list_[t].alert, text, spans, kPatternCaptures + 1);
    decision& d = pending_[pendingCount_++];
    d.trigger = t;
    d.server = server;
    d.say = false;
    d.skip = triggerFill(list_[t].command, text, spans, n, d.command, sizeof d.command);
  }
}

int triggerset::decide(uint32_t tick) {
  for (int i = 0; i < pendingCount_; i++) {
    decision& d = pending_[i];
    if (!room(d.server)) {
      d.skip = kSkipLength;  // no memory for its state: nothing is sent unchecked
      continue;
    }
    cell* c = at(d.trigger, d.server);
    if (d.skip < 0 && c->fired && !cooldownOver(c->last, tick, cooldownMs_)) d.skip = kSkipCooldown;
    if (d.skip < 0) {
      c->fired = true;
      c->last = tick;
      c->sent++;
      continue;
    }
    c->skipped[d.skip]++;
    d.say = d.skip != kSkipCooldown && !c->said[d.skip];
    c->said[d.skip] = true;
  }
  return pendingCount_;
}

triggerset::cell* triggerset::at(int t, int server) const {
  if (server < 0 || server >= servers_ || t >= stride_) return nullptr;
  return grid_ + static_cast<size_t>(server) * stride_ + t;
}

bool triggerset::room(int server) {
  return growGrid(&grid_, &servers_, &stride_, server, count_, "triggers");
}

uint64_t triggerset::sent(int alert, int server) const {
  uint64_t sum = 0;
  for (int t = 0; t < count_; t++) {
    const cell* c = list_[t].alert == alert ? at(t, server) : nullptr;
    if (c) sum += c->sent;
  }
  return sum;
}

uint64_t triggerset::skipped(int alert, int server, int reason) const {
  uint64_t sum = 0;
  for (int t = 0; t < count_; t++) {
    const cell* c = list_[t].alert == alert ? at(t, server) : nullptr;
    if (c) sum += c->skipped[reason];
  }
  return sum;
}

bool triggerset::firstOfAlert(int t) const {
  for (int i = 0; i < t; i++) {
    if (list_[i].alert == list_[t].alert) return false;
  }
  return true;
}

void triggerset::takeFrom(triggerset* from) {
  reset();
  for (int t = 0; t < from->count_; t++) list_[t] = from->list_[t];
  count_ = from->count_;
  cooldownMs_ = from->cooldownMs_;
  from->reset();
}

void triggerset::reset() {
  count_ = 0;
  pendingCount_ = 0;
  cooldownMs_ = kTriggerCooldownMs;
  trFree(grid_, "triggers");
  grid_ = nullptr;
  servers_ = stride_ = 0;
}

void sendTriggered(int sock, uint32_t tick, uint32_t mono) {
  if (!g_triggers.anyPending()) return;
  int n = g_triggers.decide(tick);
  for (int i = 0; i < n; i++) {
    const triggerset::decision& d = g_triggers.decided(i);
    if (d.server >= flServer.nodes()) continue;
    serverRec* r = serverAt(d.server);
    const char* name = g_alerts.name(g_triggers.alert(d.trigger));
    if (d.skip < 0) {
      sendCommand(sock, tick, mono, r, d.command);
      line l;
      l.server = r;
      l.kind = kJournalCommand;
      l.source = kSourceTrigger;
      logRecord(l, "Trigger %s: to %s: %s\n", name, r->ipPort, d.command);
    } else if (d.say && d.skip == kSkipCapture) {
      log("Trigger %s: not sent to %s: a group holds more than letters, digits and _-.:@"
          " (said once)\n",
          name, r->ipPort);
    } else if (d.say) {
      log("Trigger %s: not sent to %s: the command would be longer than %d characters"
          " (said once)\n",
          name, r->ipPort, kTriggerCommandChars);
    }
  }
  g_triggers.clearDecided();
}
