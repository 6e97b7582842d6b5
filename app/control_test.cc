#include "app/control.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "app/alerts.h"
#include "app/globals.h"
#include "app/reload.h"
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

// A server's text with line feeds goes to followers as several lines, and
// every one of them is the server's: its address and the arrow lead each,
// for a follower of all lines and for one of alerts alike.
TEST_F(ControlClients, EveryPartOfAServersLineStaysTheServers) {
  strzcpy(g_ctlsocket, "ctl.sock", kNameChars);
  controlOpen(1);
  ASSERT_GE(g_ctl.listener, 0);
  serverRec* r = addServer("127.0.0.1:28100", "admin", "pw");
  char why[128];
  ASSERT_TRUE(g_alerts.add("oom:memory", why, sizeof why)) << why;
  trsock all, alerts;
  for (trsock* s : {&all, &alerts}) {
    s->handle = trUnixSocket();
    ASSERT_EQ(0, trUnixConnect(s->handle, "ctl.sock"));
  }
  ASSERT_EQ(9, trSendNow(all.handle, "follow *\n", 9));
  ASSERT_EQ(14, trSendNow(alerts.handle, "follow alerts\n", 14));
  const uint32_t t = 5000;
  int following = 0;
  for (int i = 0; i < 200 && following < 2; i++) {
    controlPass(-1, t, t);
    following = 0;
    for (const ctlClient& c : g_ctl.clients)
      following += c.fd >= 0 && (c.followAll || c.followAlerts);
    usleep(1000);
  }
  ASSERT_EQ(2, following);
  const char* msg = "->out of\nmemory -> here\n";
  const char* names[kAlertsMax];
  line l;
  l.server = r;
  l.kind = kJournalServer;
  l.text = msg;
  l.len = static_cast<int>(strlen(msg));
  l.alerts = names;
  l.alertCount = g_alerts.match(0, msg + 2, names);
  ASSERT_EQ(1, l.alertCount);
  controlPublish(l);
  controlPublishAlerts(l);
  controlPass(-1, t, t);
  auto readAll = [](int fd, const std::string& until) {
    std::string got;
    char buf[512];
    for (int i = 0; i < 50 && got.find(until) == std::string::npos; i++) {
      int ready = 0;
      if (trWaitInput(&fd, 1, 100, &ready) != 1) continue;
      int n = trRecv(fd, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  };
  std::string a = readAll(all.handle, "here\n");
  EXPECT_NE(std::string::npos,
            a.find("127.0.0.1:28100 ->out of\n127.0.0.1:28100 ->memory -> here\n"))
      << a;
  std::string b = readAll(alerts.handle, "here\n");
  EXPECT_NE(std::string::npos, b.find("\nalert oom 127.0.0.1:28100 ->out of\n"
                                      "alert oom 127.0.0.1:28100 ->memory -> here\n"))
      << b;
  controlClose();
}

// What a client reads of the answers to its request bytes.
std::string feed(ctlClient* c, const char* request) {
  std::string got;
  controlFeed(
      c, -1, 1000, 1000, request, static_cast<int>(strlen(request)),
      [](void* ctx, const char* data, int len) {
        static_cast<std::string*>(ctx)->append(data, static_cast<size_t>(len));
        return len;
      },
      &got);
  return got;
}

// A reload is the owner's; applied, it leaves no pointer into the old list:
// a follower of a kept server follows it at its new place, the active server
// removed is none.
TEST_F(ControlClients, AReloadIsTheOwnersAndMovesWhatPointsAtServers) {
  g_noscreenlog = 1;
  strzcpy(g_myaddr, "127.0.0.1:24350", kNameChars);
  addServer("127.0.0.1:28100", "admin", "pw");
  addServer("127.0.0.1:28101", "admin", "pw");
  g_activeServer = serverAt(0);
  ctlClient* c = &g_ctl.clients[0];
  *c = ctlClient();
  c->fd = dup(2);  // a client in use; its answers come through the feed
  c->uid = 4242;   // a member of the control group, neither root nor the console's user
  c->member = true;
  EXPECT_EQ("error denied: reload is the console owner's alone\n", feed(c, "reload\n"));
  c->member = false;
  c->uid = 0;
  c->follow = serverAt(1);
  std::ofstream("qzucon.ini") << "myaddr=127.0.0.1:24350\nserver=127.0.0.1:28102\n"
                                 "server=127.0.0.1:28101\nlogin=admin\npassword=pw\n";
  char arg0[] = "qzucon";
  char* argv[] = {arg0, nullptr};
  reloadNoteStart(1, argv, true);
  EXPECT_EQ("reloaded 1 1 0 1\nok\n", feed(c, "reload\n"));
  ASSERT_EQ(2, flServer.nodes());
  EXPECT_EQ(serverAt(1), c->follow);
  EXPECT_STREQ("127.0.0.1:28101", c->follow->address);
  EXPECT_EQ(nullptr, g_activeServer);
  // A file that is gone now: refused, nothing changed.
  std::remove("qzucon.ini");
  std::string refused = feed(c, "reload\n");
  EXPECT_EQ(0u, refused.find("invalid qzucon.ini: Unable to read configuration file: ")) << refused;
  EXPECT_NE(std::string::npos, refused.find("\nerror configuration refused, nothing changed: 2 "
                                            "errors\n"))
      << refused;
  EXPECT_EQ(2, flServer.nodes());
  EXPECT_EQ(serverAt(1), c->follow);
}

}  // namespace
