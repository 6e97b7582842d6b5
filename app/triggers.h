// Triggers: "on=ALERT:COMMAND" sends COMMAND to a server when one of its
// lines matches the alert= rule ALERT. \1 to \9 in COMMAND stand for the
// rule's groups, and only a group of letters, digits and "_-.:@" is put in:
// what a player says or calls himself must never become a command of its
// own (";quit", a line break). A trigger fires at most once per server
// every oncooldown= seconds (10 by default), so a command's own answer, or
// a flood of matching lines, cannot set it off again meanwhile.
//
// A line's matches are noted while the line is shown (note), and the
// commands go out once the line is done (sendTriggered): a command packet
// is built where the line's text still lies.
#ifndef QZUCON_APP_TRIGGERS_H_
#define QZUCON_APP_TRIGGERS_H_

#include <cstdint>

#include "app/alerts.h"
#include "app/triggered.h"

constexpr int kTriggersMax = 64;
constexpr int kTriggerCommandChars = 256;  // a command, as typed lines may be (kLineChars)
constexpr uint32_t kTriggerCooldownMs = 10000;

// Why a matching line sent nothing: the metrics' reason label.
enum triggerSkip { kSkipCapture, kSkipLength, kSkipCooldown, kTriggerSkips };
extern const char* const kTriggerSkipNames[kTriggerSkips];  // "capture", "length", "cooldown"

// Whether len bytes of s may go into a command: letters, digits, '_', '-',
// '.', ':' and '@' only (none at all too).
bool captureSafe(const char* s, int len);

// Whether a COMMAND may be sent for a rule of `groups` groups: not empty,
// at most kTriggerCommandChars, no control character, and every \N (N 1 to
// 9) one of the groups. False with the reason in why (whySize bytes).
bool triggerCommandValid(const char* command, int groups, char* why, int whySize);

// COMMAND with each \N replaced by group N of text's match (spans, n of them
// as patternCaptures gave; a group that took no part is empty), into out
// (size bytes). kSkipCapture when a group is not captureSafe, kSkipLength
// when the result is longer than kTriggerCommandChars or out; -1 when made.
int triggerFill(const char* command, const char* text, const patternSpan* spans, int n, char* out,
                int size);

// Whether a trigger last sent at tick `last` may send again at tick (the
// millisecond tick, its wrap allowed for).
inline bool cooldownOver(uint32_t last, uint32_t tick, uint32_t cooldownMs) {
  return tick - last >= cooldownMs;
}

class triggerset {
 public:
  triggerset() {}
  ~triggerset() { reset(); }
  triggerset(const triggerset&) = delete;
  triggerset& operator=(const triggerset&) = delete;

  // Adds the trigger of "ALERT:COMMAND" for one of alerts' rules. False
  // with the reason in why (whySize bytes) when there is no such alert, the
  // command is not valid or the table is full.
  bool add(const alertset& alerts, const char* text, char* why, int whySize);
  int count() const { return count_; }
  int alert(int t) const { return list_[t].alert; }
  const char* command(int t) const { return list_[t].command; }
  void setCooldownMs(uint32_t ms) { cooldownMs_ = ms; }
  uint32_t cooldownMs() const { return cooldownMs_; }

  // A line (text) of server `server` (its index) that matched the alerts
  // hits (count of them, their indexes in alerts): every trigger of a
  // matched alert makes its command, to be decided.
  void note(const alertset& alerts, const int* hits, int count, int server, const char* text);
  // A configuration read again: from's triggers and cooldown take the place
  // of these (from is left empty); the counts start again.
  void takeFrom(triggerset* from);

  // What note made, decided at tick: sent (the cooldown is over; it starts
  // again), or skipped and why, counted either way.
  struct decision {
    int trigger;
    int server;
    int skip;  // -1 when it is to be sent, else a triggerSkip
    bool say;  // skipped, and said for the first time for this trigger and server
    char command[kTriggerCommandChars + 1];
  };
  int decide(uint32_t tick);  // how many decisions there are
  const decision& decided(int i) const { return pending_[i]; }
  void clearDecided() { pendingCount_ = 0; }
  bool anyPending() const { return pendingCount_ > 0; }

  // Commands sent, and lines skipped by reason, of alert `alert`'s triggers
  // for server `server`. A trigger is counted under its alert: two triggers
  // of one alert add up.
  uint64_t sent(int alert, int server) const;
  uint64_t skipped(int alert, int server, int reason) const;
  // Whether trigger t is the first of its alert (the one its counts show under).
  bool firstOfAlert(int t) const;

  // No triggers, no counts, the default cooldown.
  void reset();

 private:
  struct trigger {
    int alert;
    char command[kTriggerCommandChars + 1];
  };
  struct cell {  // one trigger and one server
    uint32_t last;
    bool fired;  // last holds a send
    bool said[kTriggerSkips];
    uint64_t sent;
    uint64_t skipped[kTriggerSkips];
  };
  cell* at(int t, int server) const;
  bool room(int server);

  trigger list_[kTriggersMax];
  int count_ = 0;
  uint32_t cooldownMs_ = kTriggerCooldownMs;
  decision pending_[kTriggersMax];
  int pendingCount_ = 0;
  cell* grid_ = nullptr;  // grid_[server * stride_ + trigger]
  int servers_ = 0;
  int stride_ = 0;
};

extern triggerset g_triggers;

// sendTriggered: app/triggered.h.

#endif  // QZUCON_APP_TRIGGERS_H_
