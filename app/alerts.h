// Pattern alerts: "alert=NAME:REGEX" rules that every server line is matched
// against, all of them in one scan of the line. A match is counted per alert
// and server (for the metrics), named in the line's record (for the
// journal) and offered to the control clients that follow alerts. The screen
// line itself is unchanged. The table is bounded: kAlertsMax rules.
#ifndef QZUCON_APP_ALERTS_H_
#define QZUCON_APP_ALERTS_H_

#include <cstdint>

#include "fleet/pattern.h"
#include "fleet/tags.h"

constexpr int kAlertsMax = 256;
constexpr int kAlertNameChars = kTagChars;  // the same characters as a tag

class alertset {
 public:
  alertset() {}
  ~alertset() { reset(); }
  alertset(const alertset&) = delete;
  alertset& operator=(const alertset&) = delete;

  // Adds the rule of "NAME:REGEX". False with the reason in why (whySize
  // bytes) when the text is no such rule, the name is taken or the table full.
  bool add(const char* text, char* why, int whySize);

  int count() const { return count_; }
  const char* name(int alert) const { return rules_[alert].name; }
  const char* source(int alert) const { return rules_[alert].source; }

  // Matches text, a line of the server at index `server` of the server
  // list, against every rule and counts each match. Returns how many
  // matched; names (kAlertsMax entries) gets their names and hits, when
  // given, their indexes, in the order the rules were given.
  int match(int server, const char* text, const char** names, int* hits = nullptr);
  // The groups of `alert`'s match in text, for a rule that matched it: taken
  // only when asked, so that the rules that did not match cost nothing more.
  // See patternCaptures.
  int captures(int alert, const char* text, patternSpan* spans, int n) const {
    return patternCaptures(&rules_[alert].pat, text, spans, n);
  }

  // The groups `alert`'s rule has (\1 to \N of what it matches).
  int groups(int alert) const { return patternGroups(&rules_[alert].pat); }

  // Lines of server `server` that matched `alert` so far.
  uint64_t hits(int alert, int server) const;
  // Matches of every alert and server so far, one per alert a line matched.
  uint64_t total() const { return total_; }

  // No rules and no counts, as at program start.
  void reset();

  // Takes the rules of next in place of these (next is left empty). Counts
  // go with their alert's name and their server: server j of a new list of
  // `servers` has the counts of server oldOf[j] of the list before, none
  // when oldOf[j] is -1. Counts of a rule gone go with it.
  void takeFrom(alertset* next, const int* oldOf, int servers);

 private:
  struct rule {
    char name[kAlertNameChars + 1];
    char source[kPatternChars + 1];
    pattern pat;
  };
  // Room for the counts of server `server` (app/grid.h); false when memory
  // is out (the match is then not counted, the line still flows).
  bool room(int server);

  rule rules_[kAlertsMax];
  int count_ = 0;
  // All rules in one scan, built at the first line after a rule came; when
  // the engine cannot (its budget), each rule is matched in turn instead.
  patternset set_;
  int setRules_ = 0;  // the rules set_ was built from
  uint64_t total_ = 0;  // lines matched, over every rule and server
  // hits, server by server: grid_[server * stride_ + alert].
  uint64_t* grid_ = nullptr;
  int servers_ = 0;  // servers the grid has rows for
  int stride_ = 0;   // the alerts a row has room for
};

extern alertset g_alerts;  // the rules of the configuration and their counts
// g_alerts back to program start: no rules, no counts.
void resetAlerts();

#endif  // QZUCON_APP_ALERTS_H_
