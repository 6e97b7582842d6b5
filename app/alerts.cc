// The alert rules, matching a line against them, and the counts of matches
// per alert and server.
#include "app/alerts.h"

#include <cstring>

#include "app/grid.h"
#include "runtime/mem.h"
#include "runtime/text.h"

alertset g_alerts;

void resetAlerts() { g_alerts.reset(); }

bool alertset::add(const char* text, char* why, int whySize) {
  const char* colon = strchr(text, ':');
  if (colon == nullptr) {
    trf(why, whySize, "give alert=NAME:REGEX");
    return false;
  }
  int len = static_cast<int>(colon - text);
  if (!tagNameValid(text, len)) {
    trf(why, whySize, "a name is 1 to %d letters, digits, '-' and '_'", kAlertNameChars);
    return false;
  }
  for (int i = 0; i < count_; i++) {
    if (strlen(rules_[i].name) == static_cast<size_t>(len) && !memcmp(rules_[i].name, text, len)) {
      trf(why, whySize, "an alert of that name is already there");
      return false;
    }
  }
  if (count_ == kAlertsMax) {
    trf(why, whySize, "at most %d alerts", kAlertsMax);
    return false;
  }
  rule& r = rules_[count_];
  if (!patternCompile(&r.pat, colon + 1, why, whySize)) return false;
  strzcpy(r.name, text, len);
  strzcpy(r.source, colon + 1, kPatternChars);
  count_++;
  return true;
}

int alertset::match(int server, const char* text, const char** names, int* hits) {
  if (count_ == 0) return 0;
  if (setRules_ != count_) {
    const char* src[kAlertsMax];
    for (int i = 0; i < count_; i++) src[i] = rules_[i].source;
    set_.build(src, count_);  // a failed build leaves it saying -1
    setRules_ = count_;
  }
  int found[kAlertsMax];
  if (hits == nullptr) hits = found;
  int n = set_.match(text, hits, kAlertsMax);
  if (n < 0) {
    n = 0;
    for (int i = 0; i < count_; i++) {
      if (patternMatch(&rules_[i].pat, text)) hits[n++] = i;
    }
  }
  total_ += static_cast<uint64_t>(n);
  bool counted = n > 0 && room(server);
  for (int i = 0; i < n; i++) {
    names[i] = rules_[hits[i]].name;
    if (counted) grid_[static_cast<size_t>(server) * stride_ + hits[i]]++;
  }
  return n;
}

uint64_t alertset::hits(int alert, int server) const {
  if (server < 0 || server >= servers_ || alert < 0 || alert >= stride_) return 0;
  return grid_[static_cast<size_t>(server) * stride_ + alert];
}

bool alertset::room(int server) {
  return growGrid(&grid_, &servers_, &stride_, server, count_, "alerts");
}

void alertset::takeFrom(alertset* next, const int* oldOf, int servers) {
  // Which old rule each new one continues, by name; -1 for a new name.
  int carried[kAlertsMax];
  for (int a = 0; a < next->count_; a++) {
    carried[a] = -1;
    for (int b = 0; b < count_ && carried[a] < 0; b++) {
      if (strcmp(rules_[b].name, next->rules_[a].name) == 0) carried[a] = b;
    }
  }
  uint64_t* grid = nullptr;
  int stride = next->count_;
  size_t cells = static_cast<size_t>(servers) * stride;
  if (cells > 0) grid = static_cast<uint64_t*>(trAlloc(cells * sizeof(uint64_t), "alerts"));
  if (grid) {
    memset(grid, 0, cells * sizeof(uint64_t));
    for (int j = 0; j < servers; j++) {
      for (int a = 0; oldOf[j] >= 0 && a < stride; a++) {
        if (carried[a] >= 0) grid[static_cast<size_t>(j) * stride + a] = hits(carried[a], oldOf[j]);
      }
    }
  }
  reset();
  // The compiled patterns change hands: next forgets them without freeing.
  memcpy(static_cast<void*>(rules_), next->rules_, sizeof(rule) * next->count_);
  count_ = next->count_;
  next->count_ = 0;
  next->reset();
  grid_ = grid;
  servers_ = grid ? servers : 0;
  stride_ = grid ? stride : 0;
}

void alertset::reset() {
  for (int i = 0; i < count_; i++) patternFree(&rules_[i].pat);
  set_.clear();
  setRules_ = 0;
  count_ = 0;
  total_ = 0;
  trFree(grid_, "alerts");
  grid_ = nullptr;
  servers_ = stride_ = 0;
}
