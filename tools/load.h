// qzload: a load generator for one console. It plays the console's server:
// it sends numbered log lines from the server's address at a chosen rate,
// follows the console's per-server log file and reports how many lines
// arrived, in which order and how late. This file holds the pure parts - the
// options, reading the log file's lines, the tally of sent and arrived lines
// and reading the kernel's UDP counters - so a table of cases can test them;
// load_main.cc owns the socket, the clock, the file and the console process.
#ifndef QZUCON_TOOLS_LOAD_H_
#define QZUCON_TOOLS_LOAD_H_

#include <cstdint>
#include <string>
#include <vector>

constexpr int kLoadPathChars = 255;
constexpr int kLoadLabelChars = 63;

// Standard input of a console the tool starts.
constexpr int kStdinEof = 0;   // /dev/null: at its end from the start (headless)
constexpr int kStdinPipe = 1;  // a pipe kept open and idle
constexpr int kStdinTty = 2;   // an idle terminal (a pseudo-terminal)
// "eof", "pipe" or "tty".
const char* stdinModeName(int mode);

// The local input a scripted batch of commands goes through.
constexpr int kScriptNone = 0;
constexpr int kScriptTcp = 1;
constexpr int kScriptUdp = 2;

struct loadOptions {
  char console[kLoadPathChars + 1];  // program to start; empty with attach
  char dir[kLoadPathChars + 1];      // the console's folder; empty = a new scratch folder
  bool attach;                       // a console is already running; start none
  bool poll;                         // --senders' files read every kPollMs, not watched
  bool metrics;                      // the started console writes its metrics file
  int serverPort;                    // the server address we send from; 0 = free port
  int consolePort;                   // the console's own port; 0 = free port (start only)
  int stdinMode;                     // kStdin*: the started console's standard input
  double rate;                       // lines per second; 0 = as fast as possible
  long count;                        // lines to send
  int timeoutMs;                     // wait for stragglers after the last send
  char label[kLoadLabelChars + 1];   // names the case in the result row
  int script;                        // kScript*: a batch of commands while lines flow
  int commands;                      // commands in the batch
  int batchBytes;                    // their bytes, line ends included
  int idleSecs;                      // > 0: the console's CPU time while idle; no lines
  int servers;                       // servers configured, ours the last of them
  int senders;                       // our servers, each its own socket; lines go round them
  char strace[kLoadPathChars + 1];   // run the console under this strace program
  char token[kLoadPathChars + 1];    // one more configuration token for the console; "" = none
};

// Parses argv[1..]. Returns 0 to run, 1 when --help was asked, -1 on a bad
// option or combination (a reason goes to err, errSize bytes).
int parseLoadArgs(int argc, const char* const* argv, loadOptions* o, char* err, int errSize);
const char* loadUsage();

// The text of line seq sent at sendUs, with its line end: "load <seq> <us>\n".
// Returns the length as trf does.
int loadText(char* out, int size, long seq, int64_t sendUs);

// Reads one line of a per-server log file, without its line end:
// "[MM.DD.YYYY hh:mm:ss] ->load <seq> <us>". True with seq and the send time
// it names for such a line; false for anything else.
bool parseLoadLine(const char* line, long* seq, int64_t* sendUs);

// Cuts a followed file's bytes into lines. A line is handed out only once its
// line end has arrived, so a line caught half-written is read whole later.
class lineSplit {
 public:
  void add(const char* data, size_t n) { pending_.append(data, n); }
  // Moves the next complete line (without '\n') into line; false when none.
  bool take(std::string* line);

 private:
  std::string pending_;
  size_t start_ = 0;  // where the next line begins in pending_
};

struct loadResult {
  long sent;        // lines given to the socket, refused ones included
  long sendErrors;  // lines the socket refused
  long arrived;     // distinct lines seen in the file
  long lost;        // sent and never seen
  long reordered;   // lines seen after a higher-numbered one
  long duplicates;  // lines seen more than once
  long foreign;     // lines of another run (unknown number or send time)
  int64_t medianUs, p99Us, worstUs;  // send to file; -1 when nothing arrived
};

// What was sent when, and what was seen when. Times are microseconds of one
// clock; sequence numbers run from 1 to count.
class loadTally {
 public:
  // Lines go round `streams` servers (line n from server (n-1) % streams),
  // each with its own file: order is kept, and checked, within each.
  explicit loadTally(long count, int streams = 1);
  void sent(long seq, int64_t us);
  void sendFailed(long seq);
  // One line seen in the file at time us, naming seq and the send time
  // namedUs. A line whose number was never sent, or whose send time is not
  // the one we sent it at, belongs to another run and is only counted.
  void seen(long seq, int64_t namedUs, int64_t us);
  bool complete() const { return arrived_ == count_; }
  loadResult result() const;

 private:
  long count_;
  std::vector<int64_t> sendUs_;    // -1: not sent (yet)
  std::vector<int64_t> arriveUs_;  // -1: not seen (yet)
  long sendErrors_ = 0, arrived_ = 0, reordered_ = 0, duplicates_ = 0, foreign_ = 0;
  std::vector<long> highest_;  // highest number seen so far, per stream
};

// One table row "| label | stdin | sent | arrived | lost | reordered |
// median | p99 | worst |" with the delays in ms to one decimal ("-" when
// nothing arrived). Returns the length as trf does.
int resultRow(char* out, int size, const char* label, const char* stdinMode, const loadResult& r);

// The nearest-rank percentile (pct 1..100) of values, which it sorts; -1 for
// none. Median is pct 50: the lower middle of an even count.
int64_t nearestRank(std::vector<int64_t>* values, int pct);

// The commands of a scripted batch: n lines (each with its '\n') of `bytes`
// bytes in all, none a console command, each at most 255 characters before
// its line end and distinct. False (out empty) when the sizes cannot be met.
bool batchCommands(int n, int bytes, std::vector<std::string>* out);

// The longest stretch within [from, to] without one of the times (sorted
// ascending): from and to count as ends of stretches too.
int64_t longestGap(const std::vector<int64_t>& times, int64_t from, int64_t to);

// utime + stime, in clock ticks, from the text of /proc/<pid>/stat; -1 when
// the text does not have them.
long long procCpuTicks(const char* statText);

// The "calls" column of one system call's row (name "total" for the sum) in
// the summary `strace -c` writes; -1 when there is no such row.
long long straceCalls(const char* summary, const char* name);

// The RcvbufErrors counter of the "Udp:" lines of /proc/net/snmp text; -1
// when the text has no such counter.
long long snmpRcvbufErrors(const char* text);

// The receive queue (bytes) and drop counter of the UDP socket bound to port
// on any local address, from /proc/net/udp text. False when no socket there.
bool udpSocketStats(const char* text, int port, long* rxQueue, long long* drops);

#endif  // QZUCON_TOOLS_LOAD_H_
