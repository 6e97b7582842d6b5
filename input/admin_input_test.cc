// Line assembly from input bytes (editing, line ends, the cut at 256
// characters) and which peers count as local.
#include "input/admin_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/globals.h"
#include "support/coretest.h"
#include "support/proc.h"
#include "runtime/sock.h"
#include "runtime/text.h"

namespace {

class AdminInputTest : public coreTest {
 protected:
  // Feeds bytes through line assembly; returns the finished lines, read back
  // from the log file where every line is written.
  std::vector<std::string> feed(const std::string& bytes) {
    g_noscreenlog = 1;
    testing::internal::CaptureStdout();
    for (char c : bytes) feedAdminChar(-1, 1, 1, static_cast<unsigned char>(c));
    testing::internal::GetCapturedStdout();
    g_noscreenlog = 0;
    return loggedLines();
  }
  std::vector<std::string> loggedLines() {
    std::vector<std::string> lines;
    std::string file = readFile("main.log");
    const std::string err = "ERROR: No active server";
    for (size_t pos = 0; pos < file.size();) {
      size_t start = file.find("] ", pos) + 2;
      size_t end = file.find('\n', start);
      std::string line = file.substr(start, end - start);
      if (line.compare(0, err.size(), err) != 0) lines.push_back(line);
      pos = end + 1;
    }
    return lines;
  }
};

TEST_F(AdminInputTest, LineAssembly) {
  struct row {
    std::string bytes;
    std::vector<std::string> lines;
    std::string pending;
  };
  const row rows[] = {
      {"ab\bx\n", {"ax"}, ""},
      {"\b\bq\n", {"q"}, ""},
      {"\n", {""}, ""},
      {"one\rtwo\n", {"one", "two"}, ""},
      {"a\tb\x7f\x01\xe9", {}, "a\tb\x7f\x01\xe9"},  // stored unchanged
      {"partial", {}, "partial"},
      {std::string(300, 'x'), {std::string(256, 'x')}, std::string(44, 'x')},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.bytes));
    resetInputGlobals();
    std::remove("main.log");
    EXPECT_EQ(feed(r.bytes), r.lines);
    EXPECT_EQ(std::string(g_input, g_ll), r.pending);
  }
}

// Standard input on fd for the lifetime of the object; the previous one is
// put back afterwards.
class stdinSwap {
 public:
  explicit stdinSwap(int fd) : saved_(dup(STDIN_FILENO)) {
    ok_ = saved_ >= 0 && dup2(fd, STDIN_FILENO) == STDIN_FILENO;
  }
  ~stdinSwap() {
    if (saved_ < 0) return;
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }
  bool ok() const { return ok_; }

 private:
  int saved_;
  bool ok_ = false;
};

// The two ends of a pipe, closed when the object dies.
struct pipeEnds {
  pipeEnds() { ok = pipe(fd) == 0; }
  ~pipeEnds() {
    for (int& f : fd) closeEnd(&f);
  }
  static void closeEnd(int* f) {
    if (*f >= 0) close(*f);
    *f = -1;
  }
  bool write(const std::string& s) const {
    return ::write(fd[1], s.data(), s.size()) == static_cast<ssize_t>(s.size());
  }
  int fd[2] = {-1, -1};
  bool ok = false;
};

TEST_F(AdminInputTest, CallStopsAtItsBoundAndTheNextCallGoesOnWithTheLine) {
  pipeEnds keys;
  ASSERT_TRUE(keys.ok);
  stdinSwap swap(keys.fd[0]);
  ASSERT_TRUE(swap.ok());
  // 4096 characters: a short line, fifteen lines cut at 256, and 155 of the
  // next; the two characters behind the bound end that line in the next call.
  std::string a(100, 'a'), b(3995, 'b');
  ASSERT_EQ(a.size() + 1 + b.size(), size_t(kCharsPerCall));
  ASSERT_TRUE(keys.write(a + "\n" + b + "c\n"));
  g_noscreenlog = 1;
  testing::internal::CaptureStdout();
  processAdminInput(-1, 1, 1);
  std::vector<std::string> first = loggedLines();
  int pending = g_ll;
  processAdminInput(-1, 1, 1);
  testing::internal::GetCapturedStdout();
  g_noscreenlog = 0;

  std::vector<std::string> want = {a};
  want.insert(want.end(), 15, std::string(256, 'b'));
  EXPECT_EQ(first, want);
  EXPECT_EQ(pending, 155);
  want.push_back(std::string(155, 'b') + "c");
  EXPECT_EQ(loggedLines(), want);
  EXPECT_EQ(g_ll, 0);
}

TEST_F(AdminInputTest, StandardInputAtItsEndIsDroppedUnlessATerminal) {
  struct row {
    const char* label;
    int fd;             // becomes standard input
    bool dropped;
  };
  pipeEnds ended, idle;
  ASSERT_TRUE(ended.ok && idle.ok);
  pipeEnds::closeEnd(&ended.fd[1]);
  int nullFd = open("/dev/null", O_RDONLY);
  int master = -1, terminal = -1;
  ASSERT_EQ(0, procOpenPty(&master, &terminal));
  ASSERT_EQ(1, ::write(master, "\x04", 1));  // Ctrl-D: the terminal reads an end once
  const row rows[] = {
      {"pipe whose writer has gone", ended.fd[0], true},
      {"/dev/null", nullFd, true},
      {"idle pipe", idle.fd[0], false},
      {"terminal after Ctrl-D", terminal, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    resetInputGlobals();
    stdinSwap swap(r.fd);
    ASSERT_TRUE(swap.ok());
    processAdminInput(-1, 1, 1);
    processAdminInput(-1, 1, 1);
    EXPECT_EQ(g_stdinEnded, r.dropped ? 1 : 0);
  }
  close(nullFd);
  close(terminal);
  close(master);
}

// Refused datagrams ahead of the owner's in the queue are dropped within the
// same call: at one a call, a flood would keep the owner's line waiting until
// its sender had closed its socket (and so could no longer be verified).
TEST_F(AdminInputTest, RefusedDatagramsDoNotHoldUpTheOwnersLine) {
  g_UDPsock.handle = trSocket(0);
  ASSERT_EQ(0, trBind(g_UDPsock.handle, 0, "127.0.0.1"));
  ASSERT_EQ(0, trRcvbuf(g_UDPsock.handle, 1 << 20));
  trNonblock(g_UDPsock.handle);
  std::string dest = "127.0.0.1:" + std::to_string(trSockPort(g_UDPsock.handle));
  trsock stranger, owner;
  stranger.handle = trSocket(0);
  owner.handle = trSocket(0);
  ASSERT_EQ(0, trBind(stranger.handle, 0, "127.0.0.2"));  // no local peer
  ASSERT_EQ(0, trBind(owner.handle, 0, "127.0.0.1"));
  for (int i = 0; i < 200; i++) ASSERT_EQ(5, trSendto(stranger.handle, "junk\n", 5, dest.c_str()));
  ASSERT_EQ(6, trSendto(owner.handle, "owner\n", 6, dest.c_str()));
  g_noscreenlog = 1;
  processAdminInput(-1, 1, 1);  // reads the datagram let in
  processAdminInput(-1, 1, 1);  // runs its line
  g_noscreenlog = 0;
  EXPECT_EQ(loggedLines(), std::vector<std::string>{"owner"});
}

TEST(IsLocalPeer, OnlyTheFirstNineCharactersCount) {
  struct row {
    const char* text;
    bool local;
  };
  const row rows[] = {{"127.0.0.1:5000", true},  {"127.0.0.12:5", true}, {"127.0.0.199:1", true},
                      {"127.0.0.2:5000", false}, {"10.1.2.3:40000", false}, {"", false}};
  for (const row& r : rows) EXPECT_EQ(isLocalPeer(r.text), r.local) << r.text;
}

}  // namespace
