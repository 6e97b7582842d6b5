// qzload's process side, shared by its kinds of run: the console it starts
// (standard input, extra configuration, a server list in an ini file, strace
// around it), its CPU time, files followed as they grow, and the flow of
// numbered log lines to the console and back out of its per-server file.
#ifndef QZUCON_TOOLS_LOAD_RUN_H_
#define QZUCON_TOOLS_LOAD_RUN_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/sock.h"
#include "support/freeport.h"
#include "support/proc.h"
#include "tools/load.h"

// Follows a file from where it ended when follow() was called (or from its
// start when it did not exist yet) and hands its new bytes out.
class fileFollower {
 public:
  ~fileFollower();
  void follow(const std::string& path);
  // Appends what was written since the last call to out.
  void poll(std::string* out);
  void poll(lineSplit* out);

 private:
  std::string path_;
  FILE* f_ = nullptr;
};

struct consoleProc {
  int pid = -1;         // our child: the console, or the strace running it
  int console = -1;     // the console itself, once known
  std::string program;  // its path
  procIo io = {-1, -1, -1};
  fileFollower mainLog;
  std::string mainText;          // the console's main log as far as read
  std::vector<int> senderPorts;  // with --senders: our servers' ports, in order
};

// Starts the console as the options ask, with extraTokens after its own
// configuration, and waits until it has announced itself. False (with a note
// on stderr) when it does not start or ends early.
bool startConsole(const loadOptions& o, const std::vector<std::string>& extraTokens,
                  consoleProc* c);
// Waits up to timeoutMs until the console's main log holds needle.
bool waitMainLog(consoleProc* c, const char* needle, int timeoutMs);
bool consoleRunning(consoleProc* c);
// The console's CPU time so far (user and system), ms; -1 when unreadable.
double consoleCpuMs(const consoleProc& c);
// SIGTERM, then SIGKILL when it does not end within a few seconds.
void stopConsole(consoleProc* c);
// Sleeps ms in small steps; false as soon as the console has ended.
bool idleWhileRunning(consoleProc* c, int ms);

// Ports and folder for a console we start; false (with a note) on failure.
bool prepare(loadOptions* o);
// The server socket we send from, bound to 127.0.0.1:serverPort (a free port
// when 0, written back). The handle or -1.
int openServerSocket(loadOptions* o);

// Reads a whole (small) file into out, cut to size-1 bytes; false when it
// cannot be read.
bool readText(const char* path, char* out, int size);

// Between two steps of a run: short, since a line is seen in the file only at
// the next step, and that wait is part of every delay measured.
constexpr unsigned kStepUs = 200;

// The flow of numbered lines to the console.
struct runState {
  // Lines from sock to the console of o, counted in tally.
  runState(const loadOptions* opts, int socket, loadTally* t);

  const loadOptions* o;
  int sock;
  std::vector<int> socks;    // with --senders: line n goes out on socks[(n-1) % size]
  char dest[kAddrTextSize];  // the console
  loadTally* tally;
  lineSplit lines;
  std::vector<int64_t> arrivals;  // when each line was seen, us from the start
  int64_t startUs;
  long next = 1;  // the next line to send
  int64_t lastSendUs = 0;
  long peakRx = 0;  // deepest queue seen on the console's socket
  bool sawSocket = false;
};

// Sends every line whose time has come: line n is due (n-1)/rate seconds
// after the start, all at once for rate 0.
void sendDue(runState* s);
// Sends one line that is not counted ("warm-up") from every socket of
// --senders, and waits (at most waitMs) until the file of each of their ports
// exists in
// the console's folder. False when some did not appear in time.
bool warmUp(runState* s, const std::vector<int>& ports, int waitMs);
// Takes the lines the console has written to its per-server file since.
void readArrivals(runState* s, fileFollower* f);
// Follows the per-server file of our server in the console's folder.
void followServerFile(const loadOptions& o, fileFollower* f);
void followServerFile(const loadOptions& o, int port, fileFollower* f);

// The files of many senders: only those the console wrote since the last
// look are read (inotify), so a thousand of them cost no more than one;
// with --poll (no watch) every one is read at each sweep.
struct senderFiles {
  ~senderFiles();
  // Follows the file of each port's server; false when they cannot be watched.
  bool follow(const loadOptions& o, const std::vector<int>& ports);
  int watch = -1;
  std::vector<fileFollower> files;
  std::vector<lineSplit> lines;
  std::unordered_map<std::string, size_t> byName;  // file name in the folder: index
};
// Takes what the console wrote to the files of many senders since the last
// look: readArrivals those it heard of, readAllArrivals every one (at the
// end, and now and then should the kernel's queue of changes overflow).
void readArrivals(runState* s, senderFiles* f);
void readAllArrivals(runState* s, senderFiles* f);

// The scripted batch (--script): runs it against a started console and
// reports; the tool's exit status.
int runScript(loadOptions* o, int sock);

#endif  // QZUCON_TOOLS_LOAD_RUN_H_
