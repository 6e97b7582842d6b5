// The console's reader of control requests: any bytes a client of the
// console's own user may send, as request lines, answered to a reader that
// keeps up. Every answer must be whole lines, none longer than a line may
// be, with no control byte but the line ends. Commands go to socket handle
// -1, so nothing is sent; files a "do" line names land in the scratch folder.
// Half the inputs (the first byte odd) come from a member of the control
// group instead, whose every request is checked against an allow= rule and
// put on record: none of them may end the console.
#include <cstring>

#include "app/config.h"
#include "app/control.h"
#include "app/globals.h"
#include "runtime/text.h"
#include "fuzz/harness.h"

namespace {

serverSnapshot g_configured;
ctlClient* g_client;  // 70 KB: not on the stack

struct answer {
  int lineLen = 0;
};

int takeAll(void* ctx, const char* data, int len) {
  answer* a = static_cast<answer*>(ctx);
  for (int i = 0; i < len; i++) {
    unsigned char b = static_cast<unsigned char>(data[i]);
    if (b == '\n') {
      a->lineLen = 0;
      continue;
    }
    if (b < 32 || b == 127) fuzzFail("a control byte in an answer");
    if (++a->lineLen >= kCtlLineMax) fuzzFail("an answer line too long");
  }
  return len;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzInit(argc, argv);
  scratchInput scratch;
  fuzzCommandConsole();
  parseInput("allow=root:^say ");
  g_configured.take();
  g_client = new ctlClient();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  scratchInput scratch;
  fuzzCommandInput(g_configured);
  *g_client = ctlClient();
  g_client->member = size > 0 && (data[0] & 1) != 0;
  strzcpy(g_client->user, "fuzz", kUserNameChars);

  std::string text = fuzzLocalText(data, size);
  answer a;
  controlFeed(g_client, -1, kFuzzTick, kFuzzTick, text.data(), static_cast<int>(text.size()),
              takeAll, &a);
  if (a.lineLen != 0) fuzzFail("an answer ends inside a line");
  if (g_client->member && g_exit) fuzzFail("a member ended the console");
  g_configured.checkIdentity();
  return 0;
}
