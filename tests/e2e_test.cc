// The console as a whole, run against stand-in servers on loopback: the
// session with a server, log lines, commands from the three input sources,
// refused peers, several servers, the ways out, and start-up configuration.
#include <csignal>
#include <filesystem>
#include <string>

#include "runtime/files.h"
#include "runtime/sock.h"
#include "support/e2e_harness.h"

namespace {

std::string hexAfter(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  return at == std::string::npos ? "" : text.substr(at + key.size(), 8);
}

class ConsoleTest : public e2eTest {
 protected:
  std::string self() const { return "127.0.0.1:" + std::to_string(consolePort_); }

  // One stand-in and a console configured for it; returns when the stand-in
  // has accepted the console's proof.
  // With a script, the console is started through it (startConsoleVia).
  void startSession(const std::vector<std::string>& standinOpts,
                    const std::vector<std::string>& extraTokens = {},
                    const std::string& script = "") {
    server_ = startStandin("secret", standinOpts);
    ASSERT_NE(nullptr, server_) << dump();
    std::vector<std::string> tokens = consoleTokens({server_}, {"secret"});
    tokens.insert(tokens.end(), extraTokens.begin(), extraTokens.end());
    console_ = script.empty() ? startConsole(tokens) : startConsoleVia(script, tokens);
    ASSERT_NE(nullptr, console_);
    ASSERT_TRUE(waitFor(server_, "proof-ok console=" + self() + " login=admin", kStderr)) << dump();
  }

  // A session whose console also listens for local input over TCP (type 1)
  // or UDP (type 0) on a free port, returned in *port.
  void startWithLocalInput(int type, int* port) {
    *port = freePort(type);
    std::string kind = type ? "TCP" : "UDP";
    ASSERT_NO_FATAL_FAILURE(
        startSession({"--rate", "0"}, {kind + "listenport=" + std::to_string(*port)}));
    ASSERT_TRUE(waitFor(console_, "Listening for localhost " + kind + " plaintext input on port " +
                                      std::to_string(*port) + ".\n"))
        << dump();
  }

  // Makes the stand-in the active server and sends it a command through
  // `send`, then checks that the command arrived and its echo came back.
  template <typename Send>
  void commandRoundTrip(const std::string& command, Send send) {
    ASSERT_TRUE(send("qzuconactive " + addr(server_) + "\n"));
    ASSERT_TRUE(waitFor(console_, "Active Server: " + addr(server_) + "\n")) << dump();
    ASSERT_TRUE(send(command + "\n"));
    EXPECT_TRUE(waitFor(
        server_, "command console=" + self() + " login=admin text=" + command + "\n", kStderr))
        << dump();
    EXPECT_TRUE(waitFor(console_, "->echo: " + command + "\n")) << dump();
  }

  runProc* server_ = nullptr;
  runProc* console_ = nullptr;
};

TEST_F(ConsoleTest, AnnouncesItselfAfterTheStartupReport) {
  ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "0"}));
  ASSERT_TRUE(waitFor(console_, "\"qzuconexit\" exits.\n")) << dump();
  const std::string& out = console_->out;
  size_t banner = out.find("QZUCON - Quazel UDP Console Applet v" QZUCON_VERSION "\n");
  size_t login = out.find("Login Name: admin\n");
  size_t active = out.find("**Console active. Client Challenge = ");
  size_t press = out.find("**Press [Enter] to initiate challenge. \"qzuconexit\" exits.\n");
  EXPECT_EQ(0u, banner) << out;
  EXPECT_LT(banner, login);
  EXPECT_LT(login, active);
  EXPECT_LT(active, press);
  EXPECT_NE(std::string::npos, press);
  EXPECT_NE("00000000", hexAfter(out, "Client Challenge = "));
}

TEST_F(ConsoleTest, AnswersTheChallengeWithAProvenHeartbeat) {
  ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "0"}));
  std::string challenge =
      hexAfter(server_->err, "challenge console=" + self() + " login=admin challenge=");
  ASSERT_EQ(8u, challenge.size()) << dump();
  EXPECT_TRUE(waitFor(console_, "Received Server Challenge from " + addr(server_) +
                                    ", was=00000000, now=" + challenge + "\n"))
      << dump();
  EXPECT_TRUE(waitFor(console_, "->qzstandin " + addr(server_) + " welcome admin, challenge " +
                                    challenge + "\n"))
      << dump();
  EXPECT_TRUE(waitFor(server_, "proof-ok console=" + self() + " login=admin challenge=" + challenge,
                      kStderr));
  EXPECT_TRUE(waitFor(server_, "heartbeat console=" + self() + " login=admin proven=yes", kStderr))
      << dump();
  EXPECT_EQ(1, countOf(server_->err, "challenge console=")) << dump();
}

TEST_F(ConsoleTest, ShowsLogLinesAndKeepsThemInTheServersFile) {
  ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "5", "--count", "3"}));
  std::string line = "->qzstandin " + addr(server_) + " line ";
  ASSERT_TRUE(waitFor(console_, line + "3\n")) << dump();
  EXPECT_LT(console_->out.find(line + "1\n"), console_->out.find(line + "2\n"));
  EXPECT_LT(console_->out.find(line + "2\n"), console_->out.find(line + "3\n"));

  std::string file = "127_0_0_1_" + std::to_string(portOf(server_)) + ".log";
  ASSERT_TRUE(waitForFile(file, "] " + line + "3\n")) << readFile(file);
  std::string text = readFile(file);
  EXPECT_EQ(1, countOf(text, "] " + line + "1\n")) << text;
  EXPECT_EQ('[', text[0]) << text;
  EXPECT_EQ(std::string::npos, text.find("Received Server Challenge")) << text;
  std::string mainLog = readFile("qzucon.log");
  EXPECT_NE(std::string::npos, mainLog.find("Received Server Challenge")) << mainLog;
  EXPECT_EQ(std::string::npos, mainLog.find(line)) << mainLog;
}

TEST_F(ConsoleTest, KeyboardCommandReachesTheServerAndItsEchoComesBack) {
  ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "0"}));
  commandRoundTrip("show players 100%s",
                   [this](const std::string& s) { return type(console_, s); });
  // Typed lines go to the log file, never to the screen.
  EXPECT_EQ(1, countOf(console_->out, "show players")) << console_->out;
  EXPECT_NE(std::string::npos, readFile("qzucon.log").find("] show players 100%s\n"));
}

TEST_F(ConsoleTest, CommandOverLocalTcp) {
  int tcpPort = 0;
  ASSERT_NO_FATAL_FAILURE(startWithLocalInput(1, &tcpPort));
  trsock client;
  client.handle = tcpConnect("127.0.0.1", tcpPort);
  ASSERT_TRUE(client.valid());
  commandRoundTrip("via tcp", [&client](const std::string& s) {
    std::string crlf = s.substr(0, s.size() - 1) + "\r\n";  // as a terminal client sends it
    return trFileWrite(client.handle, crlf.data(), unsigned(crlf.size())) == int(crlf.size());
  });
  EXPECT_EQ(1, countOf(console_->out, "TCP Listen Socket Opened for local Admin Input\n"));
  client.sClose();
  EXPECT_TRUE(waitFor(console_, "TCP Listen Socket closed due to broken connection\n")) << dump();
}

TEST_F(ConsoleTest, CommandOverLocalUdp) {
  int udpPort = 0;
  ASSERT_NO_FATAL_FAILURE(startWithLocalInput(0, &udpPort));
  commandRoundTrip("via udp", [this, udpPort](const std::string& s) {
    return udpSend("127.0.0.1", udpPort, s);
  });
}

TEST_F(ConsoleTest, RefusesPeersThatAreNotLocal) {
  int tcpPort = freePort(1);
  int udpPort = freePort(0);
  ASSERT_NO_FATAL_FAILURE(startSession(
      {"--rate", "0"},
      {"TCPlistenport=" + std::to_string(tcpPort), "UDPlistenport=" + std::to_string(udpPort)}));
  trsock stranger;
  stranger.handle = tcpConnect("127.0.0.2", tcpPort);
  ASSERT_TRUE(stranger.valid());
  EXPECT_TRUE(waitFor(console_, "TCP Connection Request Denied from 127.0.0.2:")) << dump();

  // Queued first, so it would have been taken in before the local line.
  ASSERT_TRUE(udpSend("127.0.0.2", udpPort, "qzuconactive " + addr(server_) + "\n"));
  ASSERT_TRUE(udpSend("127.0.0.1", udpPort, "qzuconlist\n"));
  ASSERT_TRUE(waitFor(console_, "server address: " + addr(server_) + "   login: admin\n"))
      << dump();
  EXPECT_EQ(std::string::npos, console_->out.find("Active Server")) << dump();
  EXPECT_EQ(std::string::npos, console_->out.find("TCP Listen Socket Opened")) << dump();
}

// A sender that closes its socket before the console has read its input
// cannot be shown to be the console's user: under the default rule its input
// is refused, under "localusers=any" it is taken as before. The console is
// held stopped while the senders send and close, so that it reads late.
TEST_F(ConsoleTest, LocalSendersThatAreGoneBeforeTheReadAreRefused) {
  for (bool anyUser : {false, true}) {
    SCOPED_TRACE(anyUser ? "localusers=any" : "default");
    int tcpPort = freePort(1), udpPort = freePort(0);
    std::vector<std::string> tokens = {"TCPlistenport=" + std::to_string(tcpPort),
                                       "UDPlistenport=" + std::to_string(udpPort)};
    if (anyUser) tokens.push_back("localusers=any");
    ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "0"}, tokens));
    ASSERT_TRUE(waitFor(console_, "UDP plaintext input on port")) << dump();
    endInput(console_);  // local input at full speed
    ASSERT_EQ(0, procKill(console_->pid, SIGSTOP));
    const std::string line = "qzuconactive " + addr(server_) + "\n";
    trsock tcp, udp;
    tcp.handle = tcpConnect("127.0.0.1", tcpPort);
    ASSERT_TRUE(tcp.valid());
    ASSERT_EQ(int(line.size()), trFileWrite(tcp.handle, line.data(), unsigned(line.size())));
    std::string tcpPeer = "127.0.0.1:" + std::to_string(trSockPort(tcp.handle));
    udp.handle = trSocket(0);
    ASSERT_EQ(0, trBind(udp.handle, 0, "127.0.0.1"));
    std::string udpPeer = "127.0.0.1:" + std::to_string(trSockPort(udp.handle));
    std::string dest = "127.0.0.1:" + std::to_string(udpPort);
    ASSERT_EQ(int(line.size()),
              trSendto(udp.handle, line.data(), unsigned(line.size()), dest.c_str()));
    tcp.sClose();
    udp.sClose();
    ASSERT_EQ(0, procKill(console_->pid, SIGCONT));
    if (anyUser) {
      EXPECT_TRUE(waitFor(console_, "Active Server: " + addr(server_) + "\n", kStdout, 2))
          << dump();
      EXPECT_EQ(std::string::npos, console_->out.find("Refused")) << dump();
    } else {
      const std::string why = ": sender could not be verified\n";
      EXPECT_TRUE(waitFor(console_, "**Refused local TCP input from " + tcpPeer + why)) << dump();
      EXPECT_TRUE(waitFor(console_, "**Refused local UDP input from " + udpPeer + why)) << dump();
      // The owner's sender that stays open is still heard, and nothing else was.
      ASSERT_TRUE(udpSend("127.0.0.1", udpPort, "qzuconlist\n"));
      EXPECT_TRUE(waitFor(console_, "server address: " + addr(server_))) << dump();
      EXPECT_EQ(std::string::npos, console_->out.find("Active Server")) << dump();
      EXPECT_EQ(std::string::npos, console_->out.find("TCP Listen Socket Opened")) << dump();
    }
    stop(console_);
  }
}

TEST_F(ConsoleTest, TwoServersWithDifferentPasswordsBothReadable) {
  runProc* a = startStandin("alpha", {"--rate", "4"});
  runProc* b = startStandin("bravo", {"--rate", "4"});
  ASSERT_TRUE(a && b) << dump();
  console_ = startConsole(consoleTokens({a, b}, {"alpha", "bravo"}));
  ASSERT_NE(nullptr, console_);
  for (runProc* s : {a, b}) {
    SCOPED_TRACE(addr(s));
    EXPECT_TRUE(waitFor(s, "proof-ok console=" + self(), kStderr)) << dump();
    EXPECT_TRUE(waitFor(console_, "->qzstandin " + addr(s) + " welcome admin, challenge "))
        << dump();
    EXPECT_TRUE(waitFor(console_, "->qzstandin " + addr(s) + " line 4\n")) << dump();
  }
  EXPECT_EQ(std::string::npos, console_->out.find('\xfa')) << dump();  // no garbled text
}

TEST_F(ConsoleTest, ExitSendsNoticesToEveryServerAndEndsWithZero) {
  runProc* a = startStandin("alpha", {"--rate", "1"});
  runProc* b = startStandin("bravo", {"--rate", "1"});
  runProc* silent = startStandin("");  // no password: never contacted
  ASSERT_TRUE(a && b && silent) << dump();
  console_ = startConsole(consoleTokens({a, b, silent}, {"alpha", "bravo", ""}));
  ASSERT_NE(nullptr, console_);
  ASSERT_TRUE(waitFor(a, "proof-ok console=" + self(), kStderr)) << dump();
  ASSERT_TRUE(waitFor(b, "proof-ok console=" + self(), kStderr)) << dump();
  ASSERT_TRUE(type(console_, "QZUCONexit\n"));
  EXPECT_TRUE(waitFor(a, "exit console=" + self() + " login=admin known=yes proven=yes", kStderr));
  EXPECT_TRUE(waitFor(b, "exit console=" + self() + " login=admin known=yes proven=yes", kStderr));
  EXPECT_TRUE(waitFor(silent, "exit console=" + self() + " login=admin known=no", kStderr));
  ASSERT_TRUE(waitExit(console_)) << dump();
  EXPECT_TRUE(procExited(console_->status) && procExitCode(console_->status) == 0) << dump();
  EXPECT_EQ(0, countOf(silent->err, "challenge console=")) << dump();
}

TEST_F(ConsoleTest, SigtermAndSighupEndLikeExit) {
  for (int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig == SIGTERM ? "SIGTERM" : "SIGHUP");
    ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "2"}));
    ASSERT_EQ(0, procKill(console_->pid, sig));
    EXPECT_TRUE(waitFor(server_, "exit console=" + self() + " login=admin known=yes proven=yes",
                        kStderr))
        << dump();
    ASSERT_TRUE(waitExit(console_)) << dump();
    EXPECT_TRUE(procExited(console_->status) && procExitCode(console_->status) == 0) << dump();
  }
}

// nohup and a shell's background jobs start the console with SIGHUP and
// SIGINT ignored; that must hold. SIGTERM still ends it cleanly.
TEST_F(ConsoleTest, InheritedIgnoreOfSighupAndSigintHolds) {
  ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "2"}, {}, "trap '' HUP INT; exec \"$0\" \"$@\""));
  ASSERT_TRUE(waitFor(console_, "\"qzuconexit\" exits.\n")) << dump();
  ASSERT_EQ(0, procKill(console_->pid, SIGHUP));
  ASSERT_EQ(0, procKill(console_->pid, SIGINT));
  ASSERT_TRUE(type(console_, "qzuconlist\n"));
  EXPECT_TRUE(waitFor(console_, "server address: " + addr(server_) + "   login: admin\n"))
      << dump();
  EXPECT_FALSE(console_->ended) << dump();
  ASSERT_EQ(0, procKill(console_->pid, SIGTERM));
  EXPECT_TRUE(waitFor(server_, "exit console=" + self(), kStderr)) << dump();
  ASSERT_TRUE(waitExit(console_)) << dump();
  EXPECT_TRUE(procExited(console_->status) && procExitCode(console_->status) == 0) << dump();
}

// A launcher that leaves standard descriptors closed: the server socket must
// not become standard input, where datagrams from anyone would be keys.
TEST_F(ConsoleTest, ClosedStandardDescriptorsTakeNoKeysFromTheNetwork) {
  struct row {
    const char* label;
    const char* script;
  } rows[] = {
      {"0 closed", "exec \"$0\" \"$@\" <&-"},
      {"0, 1 and 2 closed", "exec \"$0\" \"$@\" <&- >&- 2>&-"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "10"}, {}, r.script));
    std::string line = "->qzstandin " + addr(server_) + " line ";
    std::string file = "127_0_0_1_" + std::to_string(portOf(server_)) + ".log";
    ASSERT_TRUE(waitForFile(file, "] " + line + "1\n")) << dump();
    trsock stranger;
    stranger.handle = trSocket(0);
    ASSERT_EQ(0, trBind(stranger.handle, 0, "127.0.0.1"));
    for (char c : std::string("\nqzuconexit\n")) {
      ASSERT_EQ(1, trSendto(stranger.handle, &c, 1, self().c_str()));
    }
    ASSERT_TRUE(waitForFile(file, "] " + line + "20\n")) << dump();
    for (int n = 1; n <= 20; n++) {
      EXPECT_EQ(1, countOf(readFile(file), "] " + line + std::to_string(n) + "\n")) << n;
    }
    EXPECT_FALSE(console_->ended) << dump();
    stop(console_);
    EXPECT_TRUE(procExited(console_->status) && procExitCode(console_->status) == 0) << dump();
  }
}

// The console's UDP ports are its own: nobody binds beside it, not even with
// SO_REUSEADDR, and a second console on them fails instead of sharing.
TEST_F(ConsoleTest, NobodyBindsTheConsolesPorts) {
  int udpPort = 0;
  ASSERT_NO_FATAL_FAILURE(startWithLocalInput(0, &udpPort));
  for (int port : {consolePort_, udpPort}) {
    for (const char* ip : {"127.0.0.1", ""}) {
      SCOPED_TRACE(std::to_string(port) + " on '" + ip + "'");
      trsock intruder;
      intruder.handle = trSocket(0);
      ASSERT_EQ(0, trReuseAddr(intruder.handle));
      EXPECT_EQ(-1, trBind(intruder.handle, static_cast<unsigned>(port), ip));
    }
  }
  runProc* second = startConsole(consoleTokens({server_}, {"secret"}));
  ASSERT_NE(nullptr, second);
  ASSERT_TRUE(waitExit(second)) << dump();
  EXPECT_NE(std::string::npos,
            second->out.find("ERROR: Unable to bind to UDP port " + std::to_string(consolePort_)))
      << dump();
  EXPECT_TRUE(procExited(second->status) && procExitCode(second->status) == 5) << dump();

  std::vector<std::string> tokens = consoleTokens({server_}, {"secret"});
  tokens[0] = "myaddr=127.0.0.1:" + std::to_string(freePort(0));
  tokens.push_back("UDPlistenport=" + std::to_string(udpPort));
  second = startConsole(tokens);
  ASSERT_NE(nullptr, second);
  EXPECT_TRUE(waitFor(
      second, "ERROR: Unable to open local UDP input on port " + std::to_string(udpPort) + ": "))
      << dump();
  stop(second);
  // The first console still has its input.
  commandRoundTrip("status",
                   [&](const std::string& s) { return udpSend("127.0.0.1", udpPort, s); });
}

TEST_F(ConsoleTest, KeepsRunningAndLoggingWhenItsOutputIsClosed) {
  ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "10"}));
  std::string line = "->qzstandin " + addr(server_) + " line ";
  ASSERT_TRUE(waitFor(console_, line + "1\n")) << dump();
  closeOutput(console_);
  // Every later line fails on the screen; the files must still get each one.
  std::string file = "127_0_0_1_" + std::to_string(portOf(server_)) + ".log";
  ASSERT_TRUE(waitForFile(file, "] " + line + "20\n")) << dump();
  for (int n = 1; n <= 20; n++) {
    EXPECT_EQ(1, countOf(readFile(file), "] " + line + std::to_string(n) + "\n")) << n;
  }
  ASSERT_TRUE(type(console_, "qzuconexit\n"));
  EXPECT_TRUE(waitFor(server_, "exit console=" + self(), kStderr)) << dump();
  ASSERT_TRUE(waitExit(console_)) << dump();
  EXPECT_TRUE(procExited(console_->status) && procExitCode(console_->status) == 0) << dump();
}

TEST_F(ConsoleTest, WrongPasswordFailsTheProofAndGetsNoLines) {
  server_ = startStandin("right", {"--rate", "5"});
  ASSERT_NE(nullptr, server_) << dump();
  console_ = startConsole(consoleTokens({server_}, {"wrong"}));
  ASSERT_NE(nullptr, console_);
  EXPECT_TRUE(waitFor(server_, "proof-bad console=" + self() + " login=admin", kStderr)) << dump();
  // The greeting was scrambled with the other password's keystream. Each
  // message reaches the pipe in one write, so "->" means the whole line.
  EXPECT_TRUE(waitFor(console_, "Received Server Challenge from " + addr(server_))) << dump();
  EXPECT_TRUE(waitFor(console_, "\n->")) << dump();
  EXPECT_EQ(std::string::npos, console_->out.find("welcome admin")) << dump();
  EXPECT_EQ(std::string::npos, server_->err.find("proof-ok")) << dump();
  EXPECT_EQ(std::string::npos, server_->err.find("sent-line")) << dump();
}

TEST_F(ConsoleTest, ServerConfiguredByHostName) {
  server_ = startStandin("secret", {"--rate", "5", "--count", "2"});
  ASSERT_NE(nullptr, server_) << dump();
  std::string byName = "localhost:" + std::to_string(portOf(server_));
  console_ =
      startConsole({"myaddr=" + self(), "server=" + byName, "login=admin", "password=secret"});
  ASSERT_NE(nullptr, console_);
  ASSERT_TRUE(waitFor(console_, "Server IP: 127.0.0.1\n")) << dump();
  EXPECT_TRUE(waitFor(console_, "->qzstandin " + addr(server_) + " line 2\n")) << dump();
  EXPECT_EQ(std::string::npos, console_->out.find("unknown source address")) << dump();
  ASSERT_TRUE(type(console_, "qzuconactive " + byName + "\nstatus\n"));
  EXPECT_TRUE(waitFor(console_, "->echo: status\n")) << dump();
}

TEST_F(ConsoleTest, LongConfigurationLineIsReadAsTwoTokens) {
  // A 1500-character line: 1023 characters of login, then 477 of password.
  // The password is its own token only if the line is cut exactly there.
  std::string first = "login=", second = "password=";
  first.resize(1023, 'a');
  second.resize(477, 'b');
  server_ = startStandin(std::string(64, 'b'), {"--rate", "0"});  // the value cut to 64
  ASSERT_NE(nullptr, server_) << dump();
  ASSERT_TRUE(writeFile("qzucon.ini", "server=" + addr(server_) + "\n" + first + second + "\n"));
  console_ = startConsole({"myaddr=" + self()});
  ASSERT_NE(nullptr, console_);
  std::string login(32, 'a');
  EXPECT_TRUE(waitFor(console_, "Login Name: " + login + "\n")) << dump();
  EXPECT_TRUE(waitFor(server_, "proof-ok console=" + self() + " login=" + login + " ", kStderr))
      << dump();
  EXPECT_EQ(std::string::npos, console_->out.find("QZUCON Help")) << dump();
}

TEST_F(ConsoleTest, LoginBeforeItsServerIsLost) {
  server_ = startStandin("pw", {"--rate", "0"});
  ASSERT_NE(nullptr, server_) << dump();
  console_ =
      startConsole({"myaddr=" + self(), "login=early", "server=" + addr(server_), "password=pw"});
  ASSERT_NE(nullptr, console_);
  EXPECT_TRUE(waitFor(console_, "Login Name: \n")) << dump();
  EXPECT_TRUE(waitFor(server_, "proof-ok console=" + self() + " login= ", kStderr)) << dump();
  EXPECT_EQ(std::string::npos, console_->out.find("early")) << dump();
  EXPECT_EQ(std::string::npos, server_->err.find("early")) << dump();
}

// A mistyped token or value is named after the usage text, with where it
// came from, on the screen and in qzucon.log; so is a bad alert rule, which
// configuration reads before the log file is known. The console runs on.
TEST_F(ConsoleTest, RefusedTokensAreNamedOnTheScreenAndInTheLog) {
  ASSERT_TRUE(writeFile("qzucon.ini", "journal=yes\nalert=bad:(\n"));
  ASSERT_NO_FATAL_FAILURE(startSession({"--rate", "0"}, {"pasword=secret", "--verbose"}));
  ASSERT_TRUE(waitFor(console_, "**Console active")) << dump();
  const std::string usage = "QZUCON Help\n ini=[ini filename] (@ command line only)\n";
  const char* named[] = {
      "ERROR: Unknown token \"pasword=\" on the command line\n",
      "ERROR: Unknown token \"--verbose\" on the command line\n",
      "ERROR: Bad value in token \"journal=yes\" in qzucon.ini line 1\n",
  };
  std::string log = readFile("qzucon.log");
  size_t at = 0;
  for (const char* line : named) {
    at = console_->out.find(usage, at);
    at = console_->out.find(std::string(" qzuconexit (to exit console)\n") + line, at);
    EXPECT_NE(std::string::npos, at) << "right after its usage text: " << line << dump();
    EXPECT_EQ(1, countOf(log, std::string("] ") + line)) << log;
  }
  EXPECT_EQ(1, countOf(log, "] ERROR: Bad alert \"bad:(\": ")) << log;
  EXPECT_EQ(std::string::npos, log.find("secret")) << log;
}

// --help and --version answer and end: status 0, no console, no log file,
// no control socket; qzuconctl --version as well.
TEST_F(ConsoleTest, HelpAndVersionStartNothing) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> shown;
  } kCases[] = {
      {{"--help"}, {"QZUCON Help\n", " server=", " alert=", " journal=", " --version"}},
      {{"myaddr=127.0.0.1:1", "server=127.0.0.1:2", "--version"}, {"qzucon " QZUCON_VERSION "\n"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    runProc* p = startConsole(c.args);
    ASSERT_NE(nullptr, p);
    ASSERT_TRUE(waitExit(p)) << dump();
    EXPECT_TRUE(procExited(p->status) && procExitCode(p->status) == 0) << dump();
    for (const std::string& text : c.shown)
      EXPECT_NE(std::string::npos, p->out.find(text)) << p->out;
    EXPECT_EQ(std::string::npos, p->out.find("Quazel")) << p->out;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/qzucon.log")) << "no log file";
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/qzucon.sock")) << "no control socket";
  }
  runProc* ctl = nullptr;
  EXPECT_EQ(0, runCtl({"--version"}, &ctl));
  ASSERT_NE(nullptr, ctl);
  EXPECT_EQ("qzuconctl " QZUCON_VERSION "\n", ctl->out);
}

TEST_F(ConsoleTest, StartupConfigurationErrors) {
  std::string me = "myaddr=127.0.0.1:" + std::to_string(consolePort_);
  struct Row {
    std::vector<std::string> tokens;
    int status;
    std::vector<std::string> lines;  // expected in this order
    const char* absent;
  } rows[] = {
      {{me}, 2, {"ERROR: No Servers Configured\n"}, "My Address"},
      {{"myaddr=127.0.0.1", "server=127.0.0.1:5001"},
       4,
       {"My Address: 127.0.0.1\n", "**Missing Port in My Address\n", "QZUCON Help\n"},
       "Resolving"},
      {{"server=127.0.0.1:5001"},
       4,
       {"My Address: \n", "**Missing Port in My Address\n"},
       "Resolving"},
      {{me, "server=127.0.0.1:5001", "login=one", "server=127.0.0.1", "login=two",
        "server=127.0.0.1:5003"},
       3,
       {"Server Address: 127.0.0.1:5001\n", "Server IP: 127.0.0.1\n", "Server Port: 5001\n",
        "Login Name: one\n", "Server Address: 127.0.0.1\n", "**Missing Port in Server Address\n",
        "QZUCON Help\n"},
       "5003"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.tokens));
    runProc* c = startConsole(r.tokens);
    ASSERT_NE(nullptr, c);
    ASSERT_TRUE(waitExit(c)) << dump();
    EXPECT_TRUE(procExited(c->status));
    EXPECT_EQ(r.status, procExitCode(c->status)) << c->out;
    size_t at = 0;
    for (const std::string& line : r.lines) {
      size_t next = c->out.find(line, at);
      EXPECT_NE(std::string::npos, next) << "missing or out of order: " << line << c->out;
      if (next != std::string::npos) at = next + line.size();
    }
    EXPECT_EQ(std::string::npos, c->out.find(r.absent)) << c->out;
    EXPECT_EQ(std::string::npos, c->out.find("Console active")) << c->out;
  }
}

}  // namespace
