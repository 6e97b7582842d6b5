// trGetip: numeric text kept as written, lookups and failures, each into a
// separate buffer and in place. Names come from the hosts file (localhost)
// or must fail (.invalid), so no answer from a name server is needed: on a
// machine without one the failure is quick and just as much a failure.
#include "runtime/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/scopedenv.h"

namespace {

TEST(TrGetip, ResolvesIntoSeparateOrSameBuffer) {
  quickResolver quick;
  struct Row {
    const char* name;
    int result;
    const char* want;
  } rows[] = {
      {"192.0.2.10", 1, "192.0.2.10"},
      {"127.1", 1, "127.1"},  // kept as written, not expanded
      {"localhost", 1, "127.0.0.1"},
      // inet_addr's error value: goes through the lookup, which still
      // understands numeric text.
      {"255.255.255.255", 1, "255.255.255.255"},
      {"qzucon-no-such-host.invalid", 0, ""},
  };
  for (const Row& r : rows) {
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(std::string(r.name) + (inPlace ? " in place" : " separate"));
      char name[64], dst[64];
      strcpy(name, r.name);
      strcpy(dst, "stale");
      char* out = inPlace ? name : dst;
      EXPECT_EQ(r.result, trGetip(name, out));
      EXPECT_STREQ(r.want, out);
    }
  }
}

}  // namespace
