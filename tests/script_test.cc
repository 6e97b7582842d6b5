// Scripts driving the console through its local inputs at full speed while
// servers keep sending: a batch of commands over local TCP and over local UDP
// reaches the server, and a long local stream does not hold up reception or
// heartbeats. The console's standard input is an idle pipe throughout, as an
// idle terminal would be.
#include <cstring>
#include <string>
#include <vector>

#include "crypto/keystream.h"
#include "protocol/keys.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/keyboard.h"
#include "runtime/sock.h"
#include "support/e2e_harness.h"
#include "tools/standin.h"

namespace {

// n commands of about `bytes` bytes in all, each with its line feed.
std::vector<std::string> commands(int n, int bytes, const std::string& tag) {
  std::vector<std::string> out;
  for (int i = 0; i < n; i++) {
    std::string c = tag + " " + std::to_string(i + 1) + " ";
    c.resize(static_cast<size_t>(bytes / n - 1), 'x');
    out.push_back(c + "\n");
  }
  return out;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l;
  return all;
}

// The highest n of the stand-in's "line n" entries in text; 0 when none.
long lastLine(const std::string& text, const std::string& marker) {
  size_t at = text.rfind(marker);
  return at == std::string::npos ? 0 : atol(text.c_str() + at + marker.size());
}

class ScriptTest : public e2eTest {
 protected:
  std::string self() const { return "127.0.0.1:" + std::to_string(consolePort_); }

  // A stand-in sending 20 lines a second and a console that takes local
  // input of the type (1 TCP, 0 UDP) on localPort_; returns once the
  // stand-in is the active server. Commands go out through send().
  void startWithStandin(int type) {
    type_ = type;
    localPort_ = freePort(type);
    server_ = startStandin("secret", {"--rate", "20"});
    ASSERT_NE(nullptr, server_) << dump();
    std::vector<std::string> tokens = consoleTokens({server_}, {"secret"});
    tokens.push_back((type ? "TCPlistenport=" : "UDPlistenport=") + std::to_string(localPort_));
    console_ = startConsole(tokens);
    ASSERT_NE(nullptr, console_);
    ASSERT_TRUE(waitFor(server_, "proof-ok console=" + self(), kStderr)) << dump();
    ASSERT_TRUE(waitFor(console_, "plaintext input on port")) << dump();
    if (type) client_.handle = tcpConnect("127.0.0.1", localPort_);
    ASSERT_TRUE(type == 0 || client_.valid());
    server = "127.0.0.1:" + std::to_string(portOf(server_));
    ASSERT_TRUE(send({"qzuconactive " + server + "\n"}));
    ASSERT_TRUE(waitFor(console_, "Active Server: " + server + "\n")) << dump();
  }

  // TCP: the lines in one write; UDP: one datagram each.
  bool send(const std::vector<std::string>& lines) {
    if (type_ == 0) {
      for (const std::string& l : lines) {
        if (!udpSend("127.0.0.1", localPort_, l)) return false;
      }
      return true;
    }
    std::string all = joined(lines);
    return trFileWrite(client_.handle, all.data(), unsigned(all.size())) == int(all.size());
  }

  // A 1 KB batch all reaches the stand-in, in order, and the stand-in's
  // lines go on reaching the per-server file.
  void batchReachesTheServer() {
    std::string file = "127_0_0_1_" + std::to_string(portOf(server_)) + ".log";
    std::string marker = "->qzstandin " + server + " line ";
    ASSERT_TRUE(waitForFile(file, marker)) << dump();
    long before = lastLine(readFile(file), marker);
    std::vector<std::string> batch = commands(40, 1000, type_ ? "tcp" : "udp");
    ASSERT_TRUE(send(batch));
    std::string got = "command console=" + self() + " login=admin text=";
    ASSERT_TRUE(waitFor(server_, got, kStderr, 40)) << dump();
    size_t at = 0;
    for (const std::string& c : batch) {
      at = server_->err.find(got + c, at);  // the stand-in's note ends with the line feed
      ASSERT_NE(std::string::npos, at) << "missing or out of order: " << c << dump();
    }
    EXPECT_TRUE(waitForFile(file, marker + std::to_string(before + 3) + "\n")) << dump();
  }

  int type_ = 1;
  int localPort_ = 0;
  trsock client_;
  std::string server;
  runProc* server_ = nullptr;
  runProc* console_ = nullptr;
};

TEST_F(ScriptTest, BatchOverLocalTcpReachesTheServerWhileLinesGoOn) {
  ASSERT_NO_FATAL_FAILURE(startWithStandin(1));
  batchReachesTheServer();
}

TEST_F(ScriptTest, BatchOverLocalUdpReachesTheServerWhileLinesGoOn) {
  ASSERT_NO_FATAL_FAILURE(startWithStandin(0));
  batchReachesTheServer();
}

// The test plays the server here, so it can send a challenge at the moment it
// chooses and see the console's heartbeat. No server is active: every line of
// the stream is answered on the screen with an error, and the screen shows in
// which order the console took the stream and the server's datagram.
TEST_F(e2eTest, LongLocalStreamDoesNotHoldUpReceptionOrHeartbeats) {
  trsock server;
  server.handle = trSocket(0);
  ASSERT_EQ(0, trBind(server.handle, 0, "127.0.0.1"));
  std::string serverAddr = "127.0.0.1:" + std::to_string(trSockPort(server.handle));
  std::string consoleAddr = "127.0.0.1:" + std::to_string(consolePort_);
  int tcpPort = freePort(1);
  runProc* console = startConsole({"myaddr=" + consoleAddr, "server=" + serverAddr, "login=admin",
                                   "TCPlistenport=" + std::to_string(tcpPort)});
  ASSERT_NE(nullptr, console);
  ASSERT_TRUE(waitFor(console, "TCP plaintext input on port")) << dump();
  trsock client;
  client.handle = tcpConnect("127.0.0.1", tcpPort);
  ASSERT_TRUE(client.valid());
  ASSERT_TRUE(waitFor(console, "TCP Listen Socket Opened")) << dump();

  // A new challenge with a line of text, already waiting when the stream
  // comes: the console must show the text and answer with a heartbeat after
  // at most one call's share of the stream, not after all of it.
  const unsigned char challenge[4] = {1, 2, 3, 4};
  std::string text = "mid-stream\n";
  keystreamXor(keystreamSeedFor(""), &text[0], text.size());
  std::string datagram = std::string(4, '\0') + std::string(challenge, challenge + 4) + text;
  ASSERT_EQ(int(datagram.size()), trSendto(server.handle, datagram.data(),
                                           unsigned(datagram.size()), consoleAddr.c_str()));
  std::string all = joined(commands(100, 20000, "stream"));
  ASSERT_EQ(int(all.size()), trFileWrite(client.handle, all.data(), unsigned(all.size())));

  const std::string refused = "ERROR: No active server, use 'qzuconactive ip:port'\n";
  ASSERT_TRUE(waitFor(console, refused, kStdout, 100)) << dump();
  size_t shown = console->out.find("->mid-stream\n");
  ASSERT_NE(std::string::npos, shown) << dump();
  EXPECT_LT(shown, console->out.rfind(refused)) << "the datagram waited for the whole stream";
  EXPECT_NE(std::string::npos, console->out.find("Received Server Challenge from " + serverAddr));
  bool heartbeat = false;
  for (int64_t end = trMonoMsWide() + kWaitMs; !heartbeat && trMonoMsWide() < end;) {
    int ready = 0;
    if (trWaitInput(&server.handle, 1, 100, &ready) <= 0) continue;
    unsigned char pkt[2048];
    int n = trRecvfrom(server.handle, reinterpret_cast<char*>(pkt), sizeof pkt, nullptr, nullptr);
    static consolePacket p;
    heartbeat = parseConsolePacket(pkt, n, "", &p) == kPacketHeartbeat &&
                memcmp(p.serverChallenge, challenge, 4) == 0;
  }
  EXPECT_TRUE(heartbeat) << "the challenge is answered" << dump();
}

}  // namespace
