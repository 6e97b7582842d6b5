#include "app/control.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/globals.h"
#include "runtime/keyboard.h"
#include "runtime/sock.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"
#include "support/coretest.h"

namespace {

class ControlClients : public coreTest {};

// Idle clients must not hold every slot: one that asks and follows nothing
// for kCtlIdleMs goes, a follower stays. Time is the pass's argument.
TEST_F(ControlClients, AnIdleClientIsClosedAFollowerKept) {
  strzcpy(g_ctlsocket, "ctl.sock", kNameChars);
  controlOpen(1);
  ASSERT_GE(g_ctl.listener, 0);
  trsock idle, follower;
  for (trsock* s : {&idle, &follower}) {
    s->handle = trUnixSocket();
    ASSERT_EQ(0, trUnixConnect(s->handle, "ctl.sock"));
  }
  ASSERT_EQ(15, trSendNow(follower.handle, "follow console\n", 15));
  const uint32_t t = 5000;
  auto open = [] {
    int n = 0;
    for (const ctlClient& c : g_ctl.clients) n += c.fd >= 0 ? 1 : 0;
    return n;
  };
  for (int i = 0; i < 100 && !g_ctl.following; i++) {
    controlPass(-1, t, t);
    usleep(1000);
  }
  ASSERT_TRUE(g_ctl.following);
  controlPass(-1, t + kCtlIdleMs - 1, t + kCtlIdleMs - 1);
  EXPECT_EQ(2, open());
  controlPass(-1, t + kCtlIdleMs, t + kCtlIdleMs);
  EXPECT_EQ(1, open());
  int ready = 0;
  ASSERT_EQ(1, trWaitInput(&idle.handle, 1, 5000, &ready));
  char b;
  EXPECT_EQ(0, trRecv(idle.handle, &b, 1)) << "closed by the console";
  controlClose();
}

}  // namespace
