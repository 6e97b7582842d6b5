// The line patterns: any rule an operator or a fuzzer can write, matched
// against any line a server can send. Compiling must refuse cleanly, and a
// pattern the compiler takes must match in its linear time (libFuzzer's
// timeout catches a slow one); the set must tell for each line exactly what
// the patterns one by one tell, and a match's groups lie within the line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fleet/pattern.h"

namespace {

constexpr int kRules = 8;

void check(bool ok) {
  if (!ok) abort();
}

}  // namespace

// The input: rules, one a line, up to the first NUL byte (8 at most); the
// line after it (it may hold line feeds, as a server's text may).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  size_t nul = in.find('\0');
  std::string rules = in.substr(0, nul);
  std::string line = nul == std::string::npos ? "" : in.substr(nul + 1);
  line = line.substr(0, line.find('\0'));

  std::string src[kRules];
  const char* taken[kRules];
  pattern pats[kRules];
  int n = 0;
  for (size_t at = 0; at <= rules.size() && n < kRules;) {
    size_t end = rules.find('\n', at);
    if (end == std::string::npos) end = rules.size();
    src[n] = rules.substr(at, end - at);
    at = end + 1;
    char err[160] = "";
    if (!patternCompile(&pats[n], src[n].c_str(), err, sizeof err)) {
      check(err[0] != 0 && strlen(err) < sizeof err);
      check(!patternMatch(&pats[n], line.c_str()));
      continue;
    }
    taken[n] = src[n].c_str();
    n++;
  }

  patternset set;
  int hits[kRules];
  int found = set.build(taken, n) ? set.match(line.c_str(), hits, kRules) : -1;
  int k = 0;
  for (int i = 0; i < n; i++) {
    bool match = patternMatch(&pats[i], line.c_str());
    if (found >= 0) {
      bool inSet = k < found && hits[k] == i;
      check(match == inSet);
      k += inSet ? 1 : 0;
    }
    patternSpan spans[kPatternCaptures + 1];
    int groups = patternCaptures(&pats[i], line.c_str(), spans, kPatternCaptures + 1);
    check((groups > 0) == match);
    for (int g = 0; g < groups; g++) {
      check(spans[g].at == -1 ||
            (spans[g].at >= 0 && spans[g].len >= 0 &&
             static_cast<size_t>(spans[g].at) + static_cast<size_t>(spans[g].len) <= line.size()));
    }
    patternFree(&pats[i]);
  }
  check(found < 0 || k == found);
  return 0;
}
