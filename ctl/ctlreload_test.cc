// qzuconctl reload's answer lines, as a person and a script read them.
#include "ctl/ctlreload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct answerCase {
  const char* label;
  std::vector<const char*> lines;
  const char* text;
  const char* json;
};

TEST(CtlReload, AnswerAsTextAndJson) {
  const answerCase cases[] = {
      {"applied",
       {"reloaded 2 1 1 997", "ok"},
       "reloaded: 2 added, 1 removed, 1 changed, 997 kept\n",
       "{\"reloaded\":true,\"added\":2,\"removed\":1,\"changed\":1,\"kept\":997,\"restart\":[]}\n"},
      {"settings kept until a restart",
       {"reloaded 0 0 0 3", "restart myaddr", "restart controlsocket", "ok"},
       "reloaded: 0 added, 0 removed, 0 changed, 3 kept\n"
       "kept until a restart: myaddr=, controlsocket=\n",
       "{\"reloaded\":true,\"added\":0,\"removed\":0,\"changed\":0,\"kept\":3,"
       "\"restart\":[\"myaddr\",\"controlsocket\"]}\n"},
      {"refused, a quote in an error",
       {"invalid site.ini line 4: Bad alert \"x:(\": missing )", "invalid No Servers Configured",
        "error configuration refused, nothing changed: 2 errors"},
       "refused: configuration refused, nothing changed: 2 errors\n"
       "site.ini line 4: Bad alert \"x:(\": missing )\nNo Servers Configured\n",
       "{\"reloaded\":false,\"error\":\"configuration refused, nothing changed: 2 errors\","
       "\"errors\":[\"site.ini line 4: Bad alert \\\"x:(\\\": missing )\","
       "\"No Servers Configured\"]}\n"},
  };
  for (const answerCase& c : cases) {
    SCOPED_TRACE(c.label);
    reloadAnswer a;
    for (const char* line : c.lines) {
      bool taken = reloadTake(&a, line);
      EXPECT_EQ(std::string(line) != "ok", taken) << line;
    }
    char out[4096];
    reloadText(a, out, sizeof out);
    EXPECT_EQ(c.text, std::string(out));
    reloadJson(a, out, sizeof out);
    EXPECT_EQ(c.json, std::string(out));
  }
}

}  // namespace
