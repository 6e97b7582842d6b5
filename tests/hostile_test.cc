// Hostile input through the console's sockets: datagrams from a configured
// server that are empty, short, oversized, unterminated or random; floods from
// strangers; local clients that stall or never end their line; peers that are
// not local. The test itself plays the server, so it can send any bytes from
// the server's address and read the commands the console sends back. After
// every burst the console must still run, must have shown exactly what it
// should, and must take every good log line that follows, in order.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/keystream.h"
#include "protocol/peer.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/keyboard.h"
#include "runtime/sock.h"
#include "support/e2e_harness.h"

namespace {

constexpr int kReceiveLimit = 1500;          // the console reads no more of a datagram
constexpr int kLineChars = 256;              // longest input line before it is cut
const std::string kFA = "\xfa";              // what an unprintable byte shows as

// A log datagram as a server sends it before any challenge: zero client and
// server challenges, then the text (with its NUL unless withNul is false),
// scrambled from the first keystream byte.
std::string logDatagram(const std::string& text, bool withNul = true) {
  std::string d(8, '\0');
  d += text;
  if (withNul) d += '\0';
  keystreamXor(kDefaultSeed, &d[8], d.size() - 8);
  return d;
}

// n letters and digits that do not repeat in any useful way, so that a slice
// cut at the wrong place or lost shows.
std::string pattern(size_t n) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::mt19937 rng(20240611);
  std::string s(n, ' ');
  for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
  return s;
}

// The log file's entries without their "[MM.DD.YYYY hh:mm:ss] " stamps.
std::string unstamped(const std::string& file) {
  static const char kShape[] = "[00.00.0000 00:00:00] ";
  const size_t stampLen = sizeof kShape - 1;
  std::string out;
  for (size_t at = 0; at < file.size();) {
    bool stamp = file.size() - at >= stampLen;
    for (size_t i = 0; stamp && i < stampLen; i++) {
      char c = file[at + i];
      stamp = kShape[i] == '0' ? isdigit(static_cast<unsigned char>(c)) != 0 : c == kShape[i];
    }
    if (stamp) at += stampLen;
    size_t end = file.find('\n', at);
    end = end == std::string::npos ? file.size() : end + 1;
    out.append(file, at, end - at);
    at = end;
  }
  return out;
}

const char kUnknownLine[] = "**Ignoring packet from ";
const char kUnknownSummary[] =
    " more lines like \"Ignoring packet from ... - unknown source address / header\" in the "
    "last second\n";

class HostileTest : public e2eTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(e2eTest::SetUp());
    int port = freePort(0);
    server_.handle = trSocket(0);
    ASSERT_TRUE(server_.valid());
    ASSERT_EQ(0, trBind(server_.handle, static_cast<unsigned>(port), "127.0.0.1"));
    serverAddr_ = "127.0.0.1:" + std::to_string(port);
    logFile_ = "127_0_0_1_" + std::to_string(port) + ".log";
    consoleAddr_ = "127.0.0.1:" + std::to_string(consolePort_);
  }

  // The console ends as it would by a signal; in a sanitizer build its
  // report of anything found on the way (leaks included) fails the test.
  void TearDown() override {
    if (console_ != nullptr) {
      stop(console_);
      EXPECT_EQ(std::string::npos, console_->err.find("Sanitizer")) << console_->err;
      EXPECT_EQ(std::string::npos, console_->err.find("runtime error")) << console_->err;
    }
    e2eTest::TearDown();
  }

  // A console for the test's server (no password: it never sends first),
  // with any further tokens; returns once it has announced itself.
  void start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> t = {"myaddr=" + consoleAddr_, "server=" + serverAddr_, "login=admin"};
    t.insert(t.end(), extra.begin(), extra.end());
    console_ = startConsole(t);
    ASSERT_NE(nullptr, console_);
    ASSERT_TRUE(waitFor(console_, "\"qzuconexit\" exits.\n")) << dump();
    seen_ = console_->out.size();
  }

  // A console that also takes local input over TCP and UDP; the ports are
  // returned in tcpPort_ and udpPort_.
  void startWithLocalInput() {
    tcpPort_ = freePort(1);
    udpPort_ = freePort(0);
    ASSERT_NO_FATAL_FAILURE(start({"TCPlistenport=" + std::to_string(tcpPort_),
                                   "UDPlistenport=" + std::to_string(udpPort_)}));
    ASSERT_TRUE(waitFor(console_, "UDP plaintext input on port " + std::to_string(udpPort_)))
        << dump();
    ASSERT_NE(std::string::npos, console_->out.find("TCP plaintext input on port")) << dump();
    seen_ = console_->out.size();
  }

  bool sendFrom(int h, const std::string& d) {
    return trSendto(h, d.data(), static_cast<unsigned>(d.size()), consoleAddr_.c_str()) ==
           static_cast<int>(d.size());
  }
  bool fromServer(const std::string& d) { return sendFrom(server_.handle, d); }

  // The screen text without the lines about unknown senders, which are
  // bounded per second and so depend on timing; those are tallied instead:
  // every one sent must come out as its own line or in a summary's count.
  std::string withoutStrangers(const std::string& text) {
    std::string rest;
    for (size_t at = 0, end; at < text.size(); at = end) {
      end = text.find('\n', at);
      end = end == std::string::npos ? text.size() : end + 1;
      std::string line = text.substr(at, end - at);
      size_t summary = line.find(kUnknownSummary);
      if (line.compare(0, strlen(kUnknownLine), kUnknownLine) == 0) {
        unknownShown_++;
      } else if (line.compare(0, 2, "**") == 0 && summary != std::string::npos) {
        unknownSummed_ += atoi(line.c_str() + 2);
      } else {
        rest += line;
      }
    }
    return rest;
  }

  // Waits until every datagram from an unknown sender is accounted for on
  // the screen, its summary coming once its second is over.
  void expectStrangersCounted() {
    int64_t deadline = trMonoMsWide() + kWaitMs;
    while (unknownShown_ + unknownSummed_ < unknownSent_ && trMonoMsWide() < deadline) {
      waitFor(console_, "\n", kStdout, countOf(console_->out, "\n") + 1, 200);
      withoutStrangers(console_->out.substr(seen_));
      seen_ = console_->out.size();
    }
    EXPECT_EQ(unknownSent_, unknownShown_ + unknownSummed_) << dump();
  }

  // Notes what the burst just sent must show on the screen and add to the
  // server's log file.
  void expectShown(const std::string& screen, const std::string& file) {
    screen_ += screen;
    file_ += file;
  }

  // Sends good numbered log lines from the server, waits for the last, and
  // checks that since the last check the screen showed exactly what was
  // expected and that the server's file holds every text shown, in order.
  void goodLinesThenCheck(const std::string& tag, int count = 3) {
    std::string text;
    for (int i = 1; i <= count; i++) {
      text = "good " + tag + " line " + std::to_string(i) + "\n";
      ASSERT_TRUE(fromServer(logDatagram(text)));
      expectShown("->" + text, "->" + text);
    }
    ASSERT_TRUE(waitFor(console_, "->" + text)) << dump();
    ASSERT_TRUE(waitForFile(logFile_, "] ->" + text)) << dump();
    EXPECT_EQ(screen_, withoutStrangers(console_->out.substr(seen_))) << tag;
    EXPECT_EQ(file_, unstamped(readFile(logFile_))) << tag;
    EXPECT_FALSE(console_->ended) << tag;
    seen_ = console_->out.size();
    screen_.clear();
  }

  // The text of the next command packet the console sends to the server,
  // unscrambled, skipping heartbeats; "<none>" when none comes in time.
  std::string nextCommand() {
    const std::string prefix = consoleAddr_ + ";admin;";
    int64_t deadline = trMonoMsWide() + kWaitMs;
    while (trMonoMsWide() < deadline) {
      int ready = 0;
      if (trWaitInput(&server_.handle, 1, 100, &ready) <= 0) continue;
      char buf[2048];
      int n = trRecvfrom(server_.handle, buf, sizeof buf, nullptr, nullptr);
      if (n < 32 || std::string(buf + 32, prefix.size()) != prefix) return "<bad packet>";
      std::string text(buf + 32 + prefix.size(), buf + n);
      if (text == std::string(1, '\0')) continue;  // a heartbeat: plain, empty
      keystreamXor(kDefaultSeed, &text[0], text.size());
      if (text.back() != '\0') return "<no terminator>";
      text.pop_back();
      return text;
    }
    return "<none>";
  }

  trsock server_;  // the test's stand-in for the configured server
  std::string serverAddr_, consoleAddr_, logFile_;
  int tcpPort_ = 0, udpPort_ = 0;
  runProc* console_ = nullptr;
  std::string screen_;  // expected on the screen since the last check
  std::string file_;    // expected in the server's log file, stamps removed
  size_t seen_ = 0;     // how much of the screen has been checked
  int unknownSent_ = 0;    // datagrams sent from an unknown sender
  int unknownShown_ = 0;   // their lines seen so far
  int unknownSummed_ = 0;  // and those counted in summaries
};

TEST_F(HostileTest, MalformedDatagramsFromTheServerShowOnlyWhatTheyHold) {
  ASSERT_NO_FATAL_FAILURE(start());
  const std::string full = pattern(kReceiveLimit - 8);  // as much text as is received
  const std::string shortOne = "**Ignoring short packet from " + serverAddr_ + " []\n";
  static const char kControls[] = "a\tb\rc\x1b[2Jd\x7f\x80\xff\nnext\0hidden";
  const std::string controls(kControls, sizeof kControls - 1);
  const std::string controlsShown = "->a" + kFA + "b" + kFA + "c" + kFA + "[2Jd" + kFA + kFA + kFA +
                                    "\nnext\n";
  struct Row {
    const char* what;
    std::vector<std::string> datagrams;
    std::string screen, file;
  } rows[] = {
      {"0 bytes", {""}, "", ""},
      {"1 byte", {std::string(1, '\0')}, shortOne, ""},
      {"7 bytes", {std::string(7, '\0')}, shortOne, ""},
      {"8 bytes: header only", {std::string(8, '\0')}, "->\n", "->\n"},
      {"1500 bytes", {logDatagram(full.substr(1))}, "->" + full.substr(1) + "\n",
       "->" + full.substr(1) + "\n"},
      {"2000 bytes, received in part", {logDatagram(pattern(2000 - 8), false)},
       "->" + full + "\n", "->" + full + "\n"},
      {"no NUL, after a full buffer",
       {logDatagram(full, false), logDatagram("tail", false)},
       "->" + full + "\n->tail\n",
       "->" + full + "\n->tail\n"},
      {"control bytes, a text behind a NUL", {logDatagram(controls)}, controlsShown, controlsShown},
      {"wrong client challenge", {"\x01\x02\x03\x04" + logDatagram("forged").substr(4)}, "", ""},
  };
  ASSERT_EQ(1500u, logDatagram(full.substr(1)).size());
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
    SCOPED_TRACE(rows[i].what);
    for (const std::string& d : rows[i].datagrams) ASSERT_TRUE(fromServer(d));
    expectShown(rows[i].screen, rows[i].file);
    ASSERT_NO_FATAL_FAILURE(goodLinesThenCheck("row" + std::to_string(i)));
  }
  // The one datagram with a wrong client challenge, shown as it is.
  unknownSent_ = 1;
  expectStrangersCounted();
  EXPECT_EQ(1, unknownShown_);
  EXPECT_EQ(1, countOf(console_->out, "**Ignoring packet from " + serverAddr_ +
                                          " - unknown source address / header\n"));
}

TEST_F(HostileTest, RandomBytesFromTheServer) {
  ASSERT_NO_FATAL_FAILURE(start());
  std::mt19937 rng(77);
  for (int burst = 0; burst < 5; burst++) {
    for (int i = 0; i < 20; i++) {
      std::string bytes(1 + rng() % kReceiveLimit, '\0');
      for (char& c : bytes) c = static_cast<char>(1 + rng() % 255);  // no NUL
      if (i % 2) {  // foreign first bytes: not this server's session at all
        ASSERT_TRUE(fromServer(bytes));
        unknownSent_++;
        continue;
      }
      // Random text in a proper datagram: shown whole, unprintables as 0xFA.
      bytes.resize(bytes.size() < 8 ? 0 : bytes.size() - 8);
      ASSERT_TRUE(fromServer(logDatagram(bytes, false)));
      std::string shown = "->";
      for (char c : bytes) shown += c == '\n' || (c >= 0x20 && c <= 0x7E) ? std::string(1, c) : kFA;
      if (bytes.empty() || bytes.back() != '\n') shown += "\n";
      expectShown(shown, shown);
    }
    ASSERT_NO_FATAL_FAILURE(goodLinesThenCheck("burst" + std::to_string(burst)));
  }
  expectStrangersCounted();
}

TEST_F(HostileTest, FloodFromStrangersLosesNoGoodLineAndIsSummedUp) {
  ASSERT_NO_FATAL_FAILURE(start());
  // Strangers: another port on the server's host, and another host.
  trsock near, far;
  near.handle = trSocket(0);
  far.handle = trSocket(0);
  ASSERT_TRUE(near.valid() && far.valid());
  ASSERT_EQ(0, trBind(near.handle, 0, "127.0.0.1"));
  ASSERT_EQ(0, trBind(far.handle, 0, "127.0.0.2"));
  // In chunks, each waited for through its last good line: more than the
  // console takes in one pass, yet few enough for a receive queue of the
  // kernel's default size.
  constexpr int kFlood = 2000, kChunk = 300, kGoodEvery = 100;
  std::mt19937 rng(5);
  std::string goods, last;
  int64_t began = trMonoMsWide();
  for (int sent = 0; sent < kFlood;) {
    for (int end = std::min(sent + kChunk, kFlood); sent < end; sent++) {
      // Well formed, only from the wrong sender.
      std::string junk = logDatagram(std::string(rng() % 64, 'j'));
      ASSERT_TRUE(sendFrom(sent % 2 ? far.handle : near.handle, junk));
      unknownSent_++;
      if ((sent + 1) % kGoodEvery == 0) {
        last = "->good line " + std::to_string((sent + 1) / kGoodEvery) + "\n";
        ASSERT_TRUE(fromServer(logDatagram(last.substr(2))));
        goods += last;
      }
    }
    ASSERT_TRUE(waitFor(console_, last)) << "after " << sent;
  }
  // The good lines, in order, between the strangers' lines and summaries.
  EXPECT_EQ(goods, withoutStrangers(console_->out.substr(seen_)));
  seen_ = console_->out.size();
  int64_t seconds = (trMonoMsWide() - began) / 1000 + 2;
  expectStrangersCounted();
  EXPECT_LE(unknownShown_, 10 * seconds) << "at most ten lines a second";
  EXPECT_GE(unknownShown_, 10);
  expectShown("", goods);
  ASSERT_NO_FATAL_FAILURE(goodLinesThenCheck("after", 1));
  ASSERT_TRUE(type(console_, "qzuconlist\n"));
  EXPECT_TRUE(waitFor(console_, "server address: " + serverAddr_ + "   login: admin\n")) << dump();
}

TEST_F(HostileTest, StalledAndForeignLocalPeersLeaveOtherInputWorking) {
  ASSERT_NO_FATAL_FAILURE(startWithLocalInput());
  // Strangers' input is dropped before it reaches the line buffer.
  trsock tcpStranger;
  tcpStranger.handle = tcpConnect("127.0.0.2", tcpPort_);
  ASSERT_TRUE(tcpStranger.valid());
  ASSERT_EQ(11, trFileWrite(tcpStranger.handle, "qzuconexit\n", 11));
  ASSERT_TRUE(waitFor(console_, "TCP Connection Request Denied from 127.0.0.2:")) << dump();
  ASSERT_TRUE(udpSend("127.0.0.2", udpPort_, "qzuconexit\n"));

  // A local client that connects and then says nothing.
  trsock idle;
  idle.handle = tcpConnect("127.0.0.1", tcpPort_);
  ASSERT_TRUE(idle.valid());
  ASSERT_TRUE(waitFor(console_, "TCP Listen Socket Opened for local Admin Input\n")) << dump();
  ASSERT_TRUE(udpSend("127.0.0.1", udpPort_, "qzuconlist\n"));
  ASSERT_TRUE(waitFor(console_, "server address: " + serverAddr_ + "   login: admin\n")) << dump();
  seen_ = console_->out.size();
  ASSERT_NO_FATAL_FAILURE(goodLinesThenCheck("idle"));

  // The stranger's connection was closed by the console, unread.
  int ready = 0;
  ASSERT_EQ(1, trWaitInput(&tcpStranger.handle, 1, kWaitMs, &ready));
  char c;
  EXPECT_GE(0, trRecv(tcpStranger.handle, &c, 1));
  std::string mainLog = readFile("qzucon.log");  // where every line run is logged
  EXPECT_EQ(std::string::npos, mainLog.find("] qzuconexit")) << mainLog;

  idle.sClose();
  EXPECT_TRUE(waitFor(console_, "TCP Listen Socket closed due to broken connection\n")) << dump();
  seen_ = console_->out.size();
  ASSERT_NO_FATAL_FAILURE(goodLinesThenCheck("closed"));
}

TEST_F(HostileTest, EndlessLocalInputIsCutIntoLines) {
  ASSERT_NO_FATAL_FAILURE(startWithLocalInput());
  endInput(console_);  // standard input at its end: the sockets alone are watched
  trsock client;
  client.handle = tcpConnect("127.0.0.1", tcpPort_);
  ASSERT_TRUE(client.valid());
  auto send = [&client](const std::string& s) {
    return trFileWrite(client.handle, s.data(), static_cast<unsigned>(s.size())) ==
           static_cast<int>(s.size());
  };
  ASSERT_TRUE(send("qzuconactive " + serverAddr_ + "\n"));
  ASSERT_TRUE(waitFor(console_, "Active Server: " + serverAddr_ + "\n")) << dump();
  seen_ = console_->out.size();

  // 10,000 bytes without a line feed: every 256 make a line of their own, the
  // rest waits for the line feed.
  const std::string endless = pattern(10000);
  ASSERT_TRUE(send(endless));
  size_t at = 0;
  for (; at + kLineChars <= endless.size(); at += kLineChars) {
    ASSERT_EQ(endless.substr(at, kLineChars), nextCommand()) << "at " << at << dump();
  }
  ASSERT_TRUE(send("\n"));
  EXPECT_EQ(endless.substr(at), nextCommand()) << dump();

  // A local datagram far over a line: its first 256 characters make one line.
  ASSERT_TRUE(udpSend("127.0.0.1", udpPort_, endless.substr(0, 2000)));
  EXPECT_EQ(endless.substr(0, kLineChars), nextCommand()) << dump();
  ASSERT_TRUE(send("after\n"));
  EXPECT_EQ("after", nextCommand()) << dump();

  ASSERT_NO_FATAL_FAILURE(goodLinesThenCheck("endless"));  // nothing else on screen
}

}  // namespace
