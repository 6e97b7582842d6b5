// The per-second line limit, driven by chosen ticks.
#include "limits/limit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One step: `lines` lines at tick, or a flush at tick when lines is 0.
struct step {
  uint32_t tick;
  int lines;
};

// What the limiter answered: "<logged>/<held back>" for a group of lines,
// with "+<n>" when a group's first line handed back n lines of an ended
// second, and "f<n>" for a flush.
std::string trace(const std::vector<step>& steps) {
  lineLimit l = {};
  std::string out;
  for (const step& s : steps) {
    if (!out.empty()) out += " ";
    if (s.lines == 0) {
      out += "f" + std::to_string(limitFlush(&l, s.tick));
      continue;
    }
    int logged = 0;
    uint32_t endedSum = 0;
    for (int i = 0; i < s.lines; i++) {
      uint32_t ended = 0;
      logged += limitLine(&l, s.tick, &ended);
      endedSum += ended;
    }
    if (endedSum) out += "+" + std::to_string(endedSum);
    out += std::to_string(logged) + "/" + std::to_string(s.lines - logged);
  }
  return out;
}

TEST(LineLimit, Table) {
  struct row {
    const char* label;
    std::vector<step> steps;
    const char* want;
  } rows[] = {
      {"a few lines are all logged", {{100, 3}, {200, 0}, {1100, 0}}, "3/0 f0 f0"},
      {"a burst: ten logged, the rest summed once the second is over",
       {{100, 25}, {1099, 0}, {1100, 0}, {1200, 0}},
       "10/15 f0 f15 f0"},
      {"the next line after the second sums up first, then counts anew",
       {{100, 12}, {1100, 12}},
       "10/2 +210/2"},
      {"a second begins with its first line, not on a fixed grid",
       {{500, 10}, {1400, 5}, {1499, 0}, {1500, 0}},
       "10/0 0/5 f0 f5"},
      {"a steady flood: one summary per second",
       {{0, 100}, {1000, 100}, {2000, 100}, {3000, 0}},
       "10/90 +9010/90 +9010/90 f90"},
      {"across the wrap of the tick",
       {{0xFFFFFF00u, 11}, {0xFFFFFF00u + 999, 0}, {0xFFFFFF00u + 1000, 0}},
       "10/1 f0 f1"},
  };
  for (const row& r : rows) EXPECT_EQ(r.want, trace(r.steps)) << r.label;
}

}  // namespace
