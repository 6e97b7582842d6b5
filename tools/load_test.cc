// Tests of the load tool's pure parts: reading the console's log lines, the
// tally's figures, the kernel counter texts and the command line.
#include "tools/load.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(LoadLine, ReadsWhatTheConsoleWritesOfOurText) {
  char text[64];
  loadText(text, sizeof text, 1234, 987654321);
  EXPECT_STREQ("load 1234 987654321\n", text);
  // The console shows it behind its stamp and "->"; the file reader drops
  // the line end.
  std::string line = "[03.07.2026 14:05:09] ->" + std::string(text, strlen(text) - 1);
  long seq = 0;
  int64_t us = 0;
  ASSERT_TRUE(parseLoadLine(line.c_str(), &seq, &us));
  EXPECT_EQ(1234, seq);
  EXPECT_EQ(987654321, us);
}

TEST(LoadLine, RejectsEverythingElse) {
  const char* rows[] = {
      "",
      "load 1 2",                                     // no stamp
      "03.07.2026 14:05:09] ->load 1 2",              // no '['
      "[3.7.2026 14:05:09] ->load 1 2",               // stamp of another width
      "[03.07.2026 14:05:09] ->qzstandin x line 1",   // another server's text
      "[03.07.2026 14:05:09] ->load 1",               // no send time
      "[03.07.2026 14:05:09] ->load 1 2 3",           // more after it
      "[03.07.2026 14:05:09] ->load x 2",             // not a number
      "[03.07.2026 14:05:09] ->load -1 2",            // no sign allowed
      "[03.07.2026 14:05:09] ->load 1  2",            // two blanks
      "[03.07.2026 14:05:09] ->load 1 2\r",           // a stray byte at the end
      "[03.07.2026 14:05:09] ->load 99999999999999999999 2",  // overflows
      "[03.07.2026 14:05:09] ->load 1 \xfa",          // what the console makes of noise
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
    long seq = -7;
    int64_t us = -7;
    SCOPED_TRACE(testing::PrintToString(rows[i]));
    EXPECT_FALSE(parseLoadLine(rows[i], &seq, &us));
    EXPECT_EQ(-7, seq);
  }
}

// Feeds the chunks and collects every line handed out after each.
std::vector<std::string> split(const std::vector<std::string>& chunks) {
  lineSplit s;
  std::vector<std::string> out;
  std::string line;
  for (const std::string& c : chunks) {
    s.add(c.data(), c.size());
    while (s.take(&line)) out.push_back(line);
  }
  return out;
}

TEST(LineSplit, HandsOutOnlyWholeLinesWhereverTheChunksBreak) {
  struct row {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
  } rows[] = {
      {{"a\nb\n"}, {"a", "b"}},
      {{"ab", "c\n"}, {"abc"}},
      {{"a\nb", "c\nd"}, {"a", "bc"}},  // "d" waits for its line end
      {{"a\n", "", "\n", "b\n"}, {"a", "", "b"}},
      {{"\n\n"}, {"", ""}},
      {{"no end"}, {}},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
    EXPECT_EQ(rows[i].lines, split(rows[i].chunks)) << testing::PrintToString(rows[i].chunks);
  }
}

TEST(LineSplit, KeepsALongFollowIntact) {
  // Many polls that each catch a line and a half: nothing lost or doubled as
  // the consumed part is dropped from the buffer.
  lineSplit s;
  std::string line;
  long got = 0;
  for (long i = 1; i <= 2000; i++) {
    std::string text = "line " + std::to_string(i) + "\n";
    size_t half = text.size() / 2;
    s.add(text.data(), half);
    while (s.take(&line)) EXPECT_EQ("line " + std::to_string(++got), line);
    s.add(text.data() + half, text.size() - half);
    while (s.take(&line)) EXPECT_EQ("line " + std::to_string(++got), line);
  }
  EXPECT_EQ(2000, got);
}

// ---- The tally ----

class TallyTest : public ::testing::Test {
 protected:
  // Sends lines 1..n at 1000*seq us; every line seen gets the delay given.
  void sendAll(loadTally* t, long n) {
    for (long seq = 1; seq <= n; seq++) t->sent(seq, 1000 * seq);
  }
  void see(loadTally* t, long seq, int64_t delayUs) {
    t->seen(seq, 1000 * seq, 1000 * seq + delayUs);
  }
};

TEST_F(TallyTest, CountsOutOfOrderLinesAgainstTheHighestSeen) {
  struct row {
    std::vector<long> order;
    long reordered;
  } rows[] = {
      {{1, 2, 3, 4, 5}, 0},
      {{2, 1, 3, 4, 5}, 1},
      {{5, 1, 2, 3, 4}, 4},  // one early line puts every other behind it
      {{1, 3, 2, 5, 4}, 2},
      {{5, 4, 3, 2, 1}, 4},
      {{1, 2, 4, 5}, 0},     // a gap alone is a loss, not a reordering
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
    SCOPED_TRACE("seen " + testing::PrintToString(rows[i].order));
    loadTally t(5);
    sendAll(&t, 5);
    for (long seq : rows[i].order) see(&t, seq, 100);
    loadResult r = t.result();
    EXPECT_EQ(rows[i].reordered, r.reordered);
    EXPECT_EQ(long(rows[i].order.size()), r.arrived);
    EXPECT_EQ(5 - r.arrived, r.lost);
    EXPECT_EQ(r.lost == 0, t.complete());
  }
}

// With lines spread over servers, each server's file is read on its own:
// order counts within a server only.
TEST_F(TallyTest, CountsOrderWithinEachServerOfSeveral) {
  struct row {
    std::vector<long> order;  // lines n from server (n-1) % 2
    long reordered;
  } rows[] = {
      {{2, 4, 6, 1, 3, 5}, 0},  // one server's file read before the other's
      {{1, 4, 3, 2, 5, 6}, 1},  // 2 after 4: both from the second server
      {{5, 3, 1, 6, 4, 2}, 4},
  };
  for (const row& r : rows) {
    SCOPED_TRACE("seen " + testing::PrintToString(r.order));
    loadTally t(6, 2);
    sendAll(&t, 6);
    for (long seq : r.order) see(&t, seq, 100);
    EXPECT_EQ(r.reordered, t.result().reordered);
  }
}

TEST_F(TallyTest, KeepsDuplicatesAndOtherRunsOutOfTheFigures) {
  loadTally t(3);
  t.sent(1, 1000);
  t.sent(2, 2000);  // 3 is never sent
  t.seen(1, 1000, 1500);
  t.seen(1, 1000, 9000);  // the same line again
  t.seen(2, 1999, 2500);  // number 2 of an earlier run
  t.seen(3, 3000, 3500);  // never sent
  t.seen(0, 0, 100);
  t.seen(4, 4000, 4500);
  loadResult r = t.result();
  EXPECT_EQ(2, r.sent);
  EXPECT_EQ(1, r.arrived);
  EXPECT_EQ(1, r.lost);
  EXPECT_EQ(1, r.duplicates);
  EXPECT_EQ(4, r.foreign);
  EXPECT_EQ(500, r.worstUs) << "the duplicate's later time must not count";
  EXPECT_FALSE(t.complete());
}

TEST_F(TallyTest, CountsRefusedSendsAsSentAndLost) {
  loadTally t(3);
  t.sent(1, 1000);
  t.sendFailed(2);
  t.sent(3, 3000);
  see(&t, 1, 10);
  see(&t, 3, 10);
  loadResult r = t.result();
  EXPECT_EQ(3, r.sent);
  EXPECT_EQ(1, r.sendErrors);
  EXPECT_EQ(2, r.arrived);
  EXPECT_EQ(1, r.lost);
}

TEST_F(TallyTest, DelaysAreSendToFile) {
  loadTally t(100);
  sendAll(&t, 100);
  for (long seq = 1; seq <= 100; seq++) see(&t, 101 - seq, seq * 10);  // 10..1000 us
  loadResult r = t.result();
  EXPECT_EQ(500, r.medianUs);
  EXPECT_EQ(990, r.p99Us);
  EXPECT_EQ(1000, r.worstUs);

  loadTally none(4);
  sendAll(&none, 4);
  r = none.result();
  EXPECT_EQ(4, r.lost);
  EXPECT_EQ(-1, r.medianUs);
  EXPECT_EQ(-1, r.p99Us);
  EXPECT_EQ(-1, r.worstUs);
}

TEST(NearestRank, PicksTheRankThatCoversThePercentage) {
  struct row {
    std::vector<int64_t> values;
    int pct;
    int64_t want;
  } rows[] = {
      {{}, 50, -1},
      {{7}, 50, 7},
      {{7}, 99, 7},
      {{4, 1, 3, 2}, 50, 2},    // the lower middle, unsorted input
      {{4, 1, 3, 2}, 100, 4},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 99, 10},  // fewer than 100: p99 is the worst
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 90, 9},
      {{1, 2, 3}, 1, 1},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++) {
    SCOPED_TRACE(std::to_string(rows[i].pct) + "% of " + testing::PrintToString(rows[i].values));
    EXPECT_EQ(rows[i].want, nearestRank(&rows[i].values, rows[i].pct));
  }
}

TEST(ResultRow, ShowsDelaysInMillisecondsAndADashForNone) {
  loadResult r = {1000, 0, 998, 2, 1, 0, 0, 1234, 50001, 123456};
  char row[200];
  resultRow(row, sizeof row, "burst 1000", "pipe", r);
  EXPECT_STREQ("| burst 1000 | pipe | 1000 | 998 | 2 | 1 | 1.2 | 50.0 | 123.5 |", row);
  r.medianUs = r.p99Us = r.worstUs = -1;
  resultRow(row, sizeof row, "x", "eof", r);
  EXPECT_STREQ("| x | eof | 1000 | 998 | 2 | 1 | - | - | - |", row);
}

// ---- Scripted batches, gaps, process figures ----

TEST(BatchCommands, MeetsCountAndBytesWithDistinctLinesOrRefuses) {
  struct row {
    int n, bytes;
    bool ok;
  } rows[] = {{40, 989, true}, {3, 40, true},   {1, 256, true},
              {1, 257, false}, {40, 300, false}, {0, 10, false}};
  for (const row& r : rows) {
    SCOPED_TRACE(std::to_string(r.n) + " in " + std::to_string(r.bytes));
    std::vector<std::string> b;
    ASSERT_EQ(r.ok, batchCommands(r.n, r.bytes, &b));
    if (!r.ok) {
      EXPECT_TRUE(b.empty());
      continue;
    }
    ASSERT_EQ(size_t(r.n), b.size());
    size_t bytes = 0;
    std::set<std::string> distinct(b.begin(), b.end());
    for (const std::string& line : b) {
      bytes += line.size();
      EXPECT_EQ(line.size() - 1, line.find('\n')) << line;
      EXPECT_LE(line.size(), 256u) << "a line of 256 characters would be cut";
      EXPECT_NE(0, line.compare(0, 6, "qzucon")) << line;
    }
    EXPECT_EQ(size_t(r.bytes), bytes);
    EXPECT_EQ(b.size(), distinct.size());
  }
}

TEST(LongestGap, CountsTheWindowsEndsAsStretchEnds) {
  struct row {
    const char* label;
    std::vector<int64_t> times;
    int64_t from, to, want;
  } rows[] = {
      {"steady", {0, 50, 100, 150, 200}, 0, 200, 50},
      {"a stall inside", {0, 50, 900, 950}, 0, 1000, 850},
      {"nothing after the start", {0, 10}, 20, 500, 480},
      {"nothing at all", {}, 0, 300, 300},
      {"times outside ignored", {-500, 40, 80, 2000}, 0, 100, 40},
  };
  for (const row& r : rows) EXPECT_EQ(r.want, longestGap(r.times, r.from, r.to)) << r.label;
}

TEST(ProcStat, AddsUserAndSystemTime) {
  EXPECT_EQ(123 + 45, procCpuTicks("4242 (qzucon) S 1 4242 4242 0 -1 4194560 310 0 0 0 123 45 0 0 "
                                   "20 0 1 0 99 12345 678"));
  EXPECT_EQ(7 + 8, procCpuTicks("9 (a (b) c) R 1 2 3 4 5 6 7 8 9 10 7 8 0 0"))
      << "a name with blanks and parentheses";
  EXPECT_EQ(-1, procCpuTicks("4242 (qzucon) S 1 2 3"));
  EXPECT_EQ(-1, procCpuTicks(""));
}

TEST(StraceSummary, ReadsTheCallsColumn) {
  const char summary[] =
      "% time     seconds  usecs/call     calls    errors syscall\n"
      "------ ----------- ----------- --------- --------- ----------------\n"
      " 32.40    0.018372           4      4020           write\n"
      " 18.25    0.010348           4      2460       460 recvfrom\n"
      "  0.00    0.000000           0         1         1 access\n"
      "------ ----------- ----------- --------- --------- ----------------\n"
      "100.00    0.056700           5     10900       925 total\n";
  EXPECT_EQ(4020, straceCalls(summary, "write"));
  EXPECT_EQ(2460, straceCalls(summary, "recvfrom")) << "with an errors column";
  EXPECT_EQ(1, straceCalls(summary, "access"));
  EXPECT_EQ(10900, straceCalls(summary, "total"));
  EXPECT_EQ(-1, straceCalls(summary, "openat"));
  EXPECT_EQ(-1, straceCalls(summary, "syscall")) << "the heading is no row";
  EXPECT_EQ(-1, straceCalls("", "total"));
}

// ---- Kernel counters ----

const char kSnmp[] =
    "Ip: Forwarding DefaultTTL InReceives\n"
    "Ip: 2 64 7419\n"
    "Udp: InDatagrams NoPorts InErrors OutDatagrams RcvbufErrors SndbufErrors\n"
    "Udp: 6278 63 44 6397 41 0\n"
    "UdpLite: InDatagrams NoPorts InErrors OutDatagrams RcvbufErrors SndbufErrors\n"
    "UdpLite: 0 0 0 0 7 0\n";

TEST(Snmp, ReadsTheUdpRcvbufErrorsColumn) {
  EXPECT_EQ(41, snmpRcvbufErrors(kSnmp));
  EXPECT_EQ(41, snmpRcvbufErrors(strstr(kSnmp, "Udp:"))) << "Udp lines first";
  const char* missing[] = {
      "",
      "Ip: Forwarding\nIp: 2\n",
      "Udp: InDatagrams NoPorts\nUdp: 1 2\n",        // no such column
      "Udp: InDatagrams RcvbufErrors\n",             // no values line
      "Udp: InDatagrams RcvbufErrors\nIp: 1 2\n",    // values of something else
      "UdpLite: RcvbufErrors\nUdpLite: 7\n",         // the other protocol only
  };
  for (size_t i = 0; i < sizeof missing / sizeof missing[0]; i++) {
    EXPECT_EQ(-1, snmpRcvbufErrors(missing[i])) << testing::PrintToString(missing[i]);
  }
}

const char kUdp[] =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode ref pointer drops\n"
    "  117: 0100007F:9C40 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 "
    "4711 2 0000000000000000 0\n"
    "  118: 00000000:9C41 00000000:0000 07 00000000:0001A2C0 00:00000000 00000000  1000        0 "
    "4712 2 0000000000000000 1234\n";

TEST(ProcNetUdp, FindsTheSocketByItsLocalPort) {
  long rx = -1;
  long long drops = -1;
  ASSERT_TRUE(udpSocketStats(kUdp, 0x9C41, &rx, &drops));
  EXPECT_EQ(0x1A2C0, rx);
  EXPECT_EQ(1234, drops);
  ASSERT_TRUE(udpSocketStats(kUdp, 0x9C40, &rx, &drops));
  EXPECT_EQ(0, rx);
  EXPECT_EQ(0, drops);
  EXPECT_FALSE(udpSocketStats(kUdp, 0x9C42, &rx, &drops));
  EXPECT_FALSE(udpSocketStats("", 0x9C40, &rx, &drops));
}

// ---- Command line ----

int parse(std::vector<const char*> args, loadOptions* o) {
  char err[200];
  return parseLoadArgs(static_cast<int>(args.size()), args.data(), o, err, sizeof err);
}

TEST(LoadArgs, DefaultsStartTheConsoleBesideTheTool) {
  loadOptions o;
  ASSERT_EQ(0, parse({"/opt/q/bin/qzload"}, &o));
  EXPECT_STREQ("/opt/q/bin/qzucon", o.console);
  EXPECT_FALSE(o.attach);
  EXPECT_EQ(kStdinEof, o.stdinMode);
  EXPECT_EQ(kScriptNone, o.script);
  EXPECT_EQ(40, o.commands);
  EXPECT_EQ(989, o.batchBytes);
  EXPECT_EQ(1, o.servers);
  EXPECT_EQ(0, o.rate);
  EXPECT_EQ(1000, o.count);
  EXPECT_EQ(10000, o.timeoutMs);
  EXPECT_STREQ("", o.dir);
  // Found by PATH: no folder to look beside, so the console must be named.
  EXPECT_EQ(-1, parse({"qzload"}, &o));
  ASSERT_EQ(0, parse({"qzload", "--console", "/x/qzucon"}, &o));
  EXPECT_STREQ("/x/qzucon", o.console);
}

TEST(LoadArgs, ReadsValuesAndRefusesBadOnes) {
  loadOptions o;
  ASSERT_EQ(0, parse({"/b/qzload", "--rate=12.5", "--count", "600", "--stdin", "pipe",
                      "--timeout-ms=2500", "--label", "rate 12.5"},
                     &o));
  EXPECT_DOUBLE_EQ(12.5, o.rate);
  EXPECT_EQ(600, o.count);
  EXPECT_EQ(kStdinPipe, o.stdinMode);
  EXPECT_EQ(2500, o.timeoutMs);
  EXPECT_STREQ("rate 12.5", o.label);
  const std::vector<const char*> bad[] = {
      {"/b/qzload", "--rate", "-1"},      {"/b/qzload", "--rate", "fast"},
      {"/b/qzload", "--count", "0"},      {"/b/qzload", "--stdin", "term"},
      {"/b/qzload", "--server-port", "70000"}, {"/b/qzload", "--count"},
      {"/b/qzload", "count=5"},           {"/b/qzload", "--colour", "red"},
  };
  for (size_t i = 0; i < sizeof bad / sizeof bad[0]; i++) {
    std::vector<std::string> args(bad[i].begin(), bad[i].end());
    EXPECT_EQ(-1, parse(bad[i], &o)) << testing::PrintToString(args);
  }
  EXPECT_EQ(1, parse({"/b/qzload", "--help"}, &o));
}

TEST(LoadArgs, NewRunsAndTheirCombinations) {
  loadOptions o;
  ASSERT_EQ(0, parse({"/b/qzload", "--script", "udp", "--rate", "20", "--commands", "10",
                      "--batch-bytes", "300", "--stdin", "tty", "--servers", "10000", "--strace",
                      "/usr/bin/strace", "--token", "journal=on"},
                     &o));
  EXPECT_EQ(kScriptUdp, o.script);
  EXPECT_EQ(10, o.commands);
  EXPECT_EQ(300, o.batchBytes);
  EXPECT_EQ(kStdinTty, o.stdinMode);
  EXPECT_EQ(10000, o.servers);
  EXPECT_STREQ("/usr/bin/strace", o.strace);
  EXPECT_STREQ("journal=on", o.token);
  ASSERT_EQ(0, parse({"/b/qzload", "--idle", "60"}, &o));
  EXPECT_EQ(60, o.idleSecs);
  ASSERT_EQ(0, parse({"/b/qzload", "--senders", "1000", "--rate", "20000"}, &o));
  EXPECT_EQ(1000, o.senders);
  EXPECT_FALSE(o.poll);
  ASSERT_EQ(0, parse({"/b/qzload", "--senders", "1000", "--poll"}, &o));
  EXPECT_TRUE(o.poll);
  const std::vector<const char*> bad[] = {
      {"/b/qzload", "--script", "tcp"},  // lines need a rate
      {"/b/qzload", "--script", "pipe", "--rate", "20"},
      {"/b/qzload", "--script", "tcp", "--rate", "20", "--idle", "5"},
      {"/b/qzload", "--idle", "0"},
      {"/b/qzload", "--servers", "0"},
      {"/b/qzload", "--senders", "0"},
      {"/b/qzload", "--senders", "2", "--script", "tcp", "--rate", "20"},
      {"qzload", "--attach", "--server-port", "5", "--console-port", "6", "--dir", "/d", "--idle",
       "5"},
  };
  for (size_t i = 0; i < sizeof bad / sizeof bad[0]; i++) {
    EXPECT_EQ(-1, parse(bad[i], &o)) << "row " << i;
  }
}

TEST(LoadArgs, AttachingNeedsBothPortsAndTheFolder) {
  loadOptions o;
  EXPECT_EQ(-1, parse({"qzload", "--attach"}, &o));
  EXPECT_EQ(-1, parse({"qzload", "--attach", "--server-port", "5", "--dir", "/d"}, &o));
  EXPECT_EQ(-1, parse({"qzload", "--attach", "--server-port", "5", "--console-port", "6"}, &o));
  ASSERT_EQ(0, parse({"qzload", "--attach", "--server-port", "5", "--console-port", "6", "--dir",
                      "/d"},
                     &o));
  EXPECT_TRUE(o.attach);
  EXPECT_EQ(5, o.serverPort);
  EXPECT_EQ(6, o.consolePort);
  EXPECT_STREQ("/d", o.dir);
}

}  // namespace
