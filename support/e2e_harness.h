// End-to-end harness: runs the built console and stand-in servers as real
// processes in a scratch folder, on loopback ports chosen free, and collects
// what they print. Every wait is for an expected text with a generous
// deadline; nothing relies on timing. Whatever is still running at the end of
// a test is stopped by pid: SIGTERM first, SIGKILL when that is not enough.
#ifndef QZUCON_SUPPORT_E2E_HARNESS_H_
#define QZUCON_SUPPORT_E2E_HARNESS_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/sock.h"
#include "support/proc.h"

// One program started by the harness and what it has printed so far.
struct runProc {
  std::string name;
  int pid = -1;
  procIo io = {-1, -1, -1};
  std::string out;  // standard output
  std::string err;  // standard error
  bool ended = false;
  int status = 0;   // raw wait status once ended
};

enum streamId { kStdout, kStderr };

class e2eTest : public ::testing::Test {
 protected:
  // Generous: machines running tests are often busy with other work.
  static constexpr int kWaitMs = 15000;

  void SetUp() override;
  void TearDown() override;

  // Starts qzstandin on a free loopback port with the password and any
  // further options, and waits for it to report its port. Null on failure.
  runProc* startStandin(const std::string& password, const std::vector<std::string>& extra = {});
  // The port a stand-in reported.
  static int portOf(const runProc* standin);
  // The stand-in's address as the console names it, "127.0.0.1:PORT".
  static std::string addr(const runProc* standin);
  // Starts the console in the scratch folder with these configuration tokens
  // and its standard input on a pipe; its control socket is
  // <scratch>/qzucon.sock unless a token says otherwise. Null on failure.
  runProc* startConsole(const std::vector<std::string>& tokens);
  // startConsole, then waits until each of the stand-ins' greetings is on
  // its screen (every session up). Null on failure.
  runProc* startConsoleGreeted(const std::vector<std::string>& tokens,
                               const std::vector<runProc*>& standins);
  // The same through /bin/sh -c script, with the console's path as $0 and the
  // tokens as its arguments: the script sets up what the console inherits
  // and ends in `exec "$0" "$@"`.
  runProc* startConsoleVia(const std::string& script, const std::vector<std::string>& tokens);
  // Starts the control client qzuconctl with args, its output collected.
  runProc* startCtl(const std::vector<std::string>& args);
  // Runs qzuconctl to its end; its exit status, or -1 when it did not end.
  int runCtl(const std::vector<std::string>& args, runProc** proc = nullptr);
  // Tokens for a console on consolePort_ with one server per stand-in, each
  // with login "admin" and the given password.
  std::vector<std::string> consoleTokens(const std::vector<runProc*>& standins,
                                         const std::vector<std::string>& passwords) const;

  // Waits until the stream holds needle (at least `times` times).
  bool waitFor(runProc* p, const std::string& needle, streamId s = kStdout, int times = 1,
               int timeoutMs = kWaitMs);
  // Waits until the program has ended and its output is read to the end.
  bool waitExit(runProc* p, int timeoutMs = kWaitMs);
  // Waits until the file in the scratch folder holds needle.
  bool waitForFile(const std::string& name, const std::string& needle, int timeoutMs = kWaitMs);
  // Writes text to the program's standard input.
  bool type(runProc* p, const std::string& text);
  // Closes the program's standard input, so that it reads end of file from
  // then on. The console then no longer watches it (an idle pipe it watches
  // like an idle terminal).
  void endInput(runProc* p);
  // Closes our end of the program's standard output, as a reader that goes
  // away would (`qzucon | head -1`); what it prints from then on is lost.
  void closeOutput(runProc* p);
  // Stops the program: SIGTERM, then SIGKILL after graceMs.
  void stop(runProc* p, int graceMs = 5000);

  std::string readFile(const std::string& name) const;
  bool writeFile(const std::string& name, const std::string& text) const;
  // Everything every program printed, for failure messages.
  std::string dump() const;

  // A port that nothing is bound to right now (type 0 = UDP, 1 = TCP) and
  // that this test has not handed out before.
  int freePort(int type);
  // Loopback clients, bound to bindIp so the console sees that peer.
  static int tcpConnect(const char* bindIp, int port);  // handle or -1
  // The console checks who owns a local sender's socket when it reads the
  // datagram, so the sending socket stays open until the test ends.
  bool udpSend(const char* bindIp, int port, const std::string& text);

  std::string dir_;
  int consolePort_ = 0;  // the console's own UDP port (myaddr)
  // When set, qzuconctl runs as this user in a fresh login environment (no
  // XDG_RUNTIME_DIR), as from cron or su.
  std::string ctlUser_;
  // With ctlUser_: the groups it runs with (setpriv --groups, ids joined by
  // commas) instead of those the group database gives it now, as a shell
  // started before a change to the database keeps its own.
  std::string ctlGroups_;

 private:
  runProc* spawn(const std::string& name, const std::vector<std::string>& argv, int pipes);
  // Reads whatever the programs have printed, waiting at most timeoutMs for
  // something to arrive, and notes the ones that have ended.
  void pump(int timeoutMs);
  static bool drained(const runProc* p) { return p->ended && p->io.out < 0 && p->io.err < 0; }

  std::vector<std::unique_ptr<runProc>> procs_;
  std::vector<int> reserved_;  // ports handed out, released until their user binds
  std::vector<std::unique_ptr<trsock>> senders_;  // udpSend's sockets
};

// Number of times needle occurs in text.
int countOf(const std::string& text, const std::string& needle);

#endif  // QZUCON_SUPPORT_E2E_HARNESS_H_
