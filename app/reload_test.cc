// A reload's plan: which servers of a new list are added, removed, changed
// or kept, keyed by their configured address.
#include "app/reload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// "addr/login/password" per server.
std::vector<serverRec> list(const std::vector<std::string>& rows) {
  std::vector<serverRec> out(rows.size());
  for (size_t i = 0; i < rows.size(); i++) {
    memset(&out[i], 0, sizeof out[i]);
    size_t a = rows[i].find('/'), b = rows[i].rfind('/');
    strcpy(out[i].address, rows[i].substr(0, a).c_str());
    strcpy(out[i].login, rows[i].substr(a + 1, b - a - 1).c_str());
    strcpy(out[i].password, rows[i].substr(b + 1).c_str());
  }
  return out;
}

TEST(ReloadPlan, ServersByAddress) {
  struct planCase {
    const char* label;
    std::vector<std::string> old, next;
    std::vector<int> oldOf, newOf;
    int added, removed, changed, kept;
  };
  const planCase cases[] = {
      {"same list", {"a:1/l/p", "b:2/l/p"}, {"a:1/l/p", "b:2/l/p"}, {0, 1}, {0, 1}, 0, 0, 0, 2},
      {"reordered", {"a:1/l/p", "b:2/l/p"}, {"b:2/l/p", "a:1/l/p"}, {1, 0}, {1, 0}, 0, 0, 0, 2},
      {"one of each",
       {"a:1/l/p", "b:2/l/p", "c:3/l/p"},
       {"a:1/l/p", "b:2/l/new", "d:4/l/p"},
       {0, 1, -1},
       {0, 1, -1},
       1,
       1,
       1,
       1},
      {"login changed", {"a:1/l/p"}, {"a:1/m/p"}, {0}, {0}, 0, 0, 1, 0},
      {"address text is the key", {"a:1/l/p"}, {"a:01/l/p"}, {-1}, {-1}, 1, 1, 0, 0},
      {"all new", {}, {"a:1/l/p"}, {-1}, {}, 1, 0, 0, 0},
      {"all gone", {"a:1/l/p", "b:2/l/p"}, {}, {}, {-1, -1}, 0, 2, 0, 0},
      // A list started with an address twice: the first one is kept.
      {"twice before", {"a:1/l/p", "a:1/l/q"}, {"a:1/l/p"}, {0}, {0, -1}, 0, 1, 0, 1},
  };
  for (const planCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<serverRec> old = list(c.old), next = list(c.next);
    std::vector<int> oldOf(next.size() + 1, 7), newOf(old.size() + 1, 7);
    reloadCounts n;
    ASSERT_TRUE(planReload(old.data(), static_cast<int>(old.size()), next.data(),
                           static_cast<int>(next.size()), oldOf.data(), newOf.data(), &n));
    oldOf.pop_back();
    newOf.pop_back();
    EXPECT_EQ(c.oldOf, oldOf);
    EXPECT_EQ(c.newOf, newOf);
    EXPECT_EQ(c.added, n.added);
    EXPECT_EQ(c.removed, n.removed);
    EXPECT_EQ(c.changed, n.changed);
    EXPECT_EQ(c.kept, n.kept);
  }
}

}  // namespace
