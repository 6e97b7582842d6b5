// The alert rules, matching a line against them, and the counts of matches
// per alert and server.
#include "app/alerts.h"

#include <cstring>

#include "app/grid.h"
#include "runtime/mem.h"
#include "runtime/text.h"

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

int alertset::match(int server, const char* text) {
  lineCount_ = 0;
  if (count_ == 0) return 0;
  if (setRules_ != count_) {
    const char* src[kAlertsMax];
    for (int i = 0; i < count_; i++) src[i] = rules_[i].source;
    set_.build(src, count_);  // a failed build leaves it saying -1
    setRules_ = count_;
  }
  lineCount_ = set_.match(text, lineHits_, kAlertsMax);
  if (lineCount_ < 0) {
    lineCount_ = 0;
    for (int i = 0; i < count_; i++) {
      if (patternMatch(&rules_[i].pat, text)) lineHits_[lineCount_++] = i;
    }
  }
  bool counted = lineCount_ > 0 && room(server);
  for (int i = 0; i < lineCount_; i++) {
    lineNames_[i] = rules_[lineHits_[i]].name;
    if (counted) grid_[static_cast<size_t>(server) * stride_ + lineHits_[i]]++;
  }
  return lineCount_;
}

uint64_t alertset::hits(int alert, int server) const {
  if (server < 0 || server >= servers_ || alert < 0 || alert >= stride_) return 0;
  return grid_[static_cast<size_t>(server) * stride_ + alert];
}

bool alertset::room(int server) {
  return growGrid(&grid_, &servers_, &stride_, server, count_, "alerts");
}

void alertset::reset() {
  for (int i = 0; i < count_; i++) patternFree(&rules_[i].pat);
  set_.clear();
  setRules_ = 0;
  count_ = 0;
  lineCount_ = 0;
  trFree(grid_, "alerts");
  grid_ = nullptr;
  servers_ = stride_ = 0;
}
