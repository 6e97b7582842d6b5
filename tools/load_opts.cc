// The load tool's command line and usage text.
#include <cstdlib>
#include <cstring>

#include "runtime/text.h"
#include "tools/args.h"
#include "tools/load.h"

namespace {

const char kUsage[] =
    "usage: qzload [options]\n"
    "Sends numbered log lines to one qzucon console as its server would, follows\n"
    "the console's per-server log file and reports how many lines arrived, how\n"
    "many came out of order and how long each took from send to file.\n"
    "\n"
    "By default it starts the console itself (qzucon beside qzload) in a new\n"
    "scratch folder under the temporary directory, configured for one server on\n"
    "loopback without a password, and stops it at the end. The folder is kept.\n"
    "\n"
    "options (\"--name value\" or \"--name=value\"):\n"
    "  --rate R          lines per second; 0 (the default) sends all at once.\n"
    "  --count N         lines to send, default 1000.\n"
    "  --timeout-ms MS   how long to wait for missing lines after the last send,\n"
    "                    default 10000.\n"
    "  --stdin eof|pipe|tty  the started console's standard input: /dev/null\n"
    "                    (at end of file, the default), a pipe kept open and idle,\n"
    "                    or an idle terminal (a pseudo-terminal).\n"
    "  --console PATH    the console program to start.\n"
    "  --dir DIR         the console's folder (it must exist); the log file is\n"
    "                    followed from its end at the start of the run.\n"
    "  --server-port N   the server's UDP port on 127.0.0.1; 0 (the default when\n"
    "                    starting the console) takes a free one.\n"
    "  --console-port N  the console's own UDP port; 0 (default) takes a free one.\n"
    "  --attach          start no console: one is running in --dir with its own\n"
    "                    port --console-port and the server 127.0.0.1:<server-port>\n"
    "                    configured without a password. Both ports are needed.\n"
    "  --label TEXT      names the case in the result row.\n"
    "  --script tcp|udp  a scripted batch: the console also takes local input over\n"
    "                    TCP (one connection) or UDP (a datagram per command);\n"
    "                    while lines flow at --rate (for as long as it takes;\n"
    "                    --count does not apply), the tool makes itself the\n"
    "                    active server, then sends the batch at once and reports\n"
    "                    how long until every command reached it and the longest\n"
    "                    time without a line reaching the file meanwhile.\n"
    "  --commands N      commands in the batch, default 40.\n"
    "  --batch-bytes N   their bytes, line ends included, default 989.\n"
    "  --idle S          send nothing: the console's CPU time over S seconds idle.\n"
    "  --servers N       configure N servers, ours the last, through a qzucon.ini\n"
    "                    the tool writes in the folder; default 1 (command line).\n"
    "  --senders N       N servers send, each from its own socket and configured\n"
    "                    in the console (the last N of --servers); line n goes\n"
    "                    out from server (n-1) mod N, and each server's file is\n"
    "                    followed; order is checked within each. Default 1.\n"
    "                    Before the run each server sends one line that is not\n"
    "                    counted, and the run starts once every server's file\n"
    "                    exists: what is measured is the flow, not the making\n"
    "                    of a thousand files.\n"
    "  --poll            with --senders: read every server's file every 20 ms\n"
    "                    instead of watching the folder for writes. A watch\n"
    "                    makes each write of the console queue a change for the\n"
    "                    tool, paid for in the console's CPU time (about 1 us a\n"
    "                    line with 1,000 files); delays are then known to 20 ms.\n"
    "  --metrics         the started console writes its metrics file (metrics=),\n"
    "                    qzucon.prom in its folder: what the file costs it.\n"
    "  --strace PATH     run the console under this strace (-f -c) and report its\n"
    "                    system calls per line that arrived.\n"
    "  --token TEXT      one more configuration token for the started console,\n"
    "                    after the others (journal=on, say).\n"
    "  --help            this text.\n"
    "\n"
    "Each datagram carries zero client and server challenges and the text\n"
    "\"load <n> <send time in us>\" scrambled with the default keystream seed.\n"
    "The result is one line \"qzload: result key=value ...\" and one table row\n"
    "\"| label | stdin | sent | arrived | lost | reordered | median | p99 | worst |\"\n"
    "(delays in ms), with the kernel's UDP RcvbufErrors counter before and after,\n"
    "the console socket's drop counter and deepest receive queue seen, and the\n"
    "console's CPU time over the run (from /proc) per line that arrived.\n"
    "Exit status: 0 when every line arrived in order, 1 otherwise, 2 on a bad\n"
    "option, 3 when the run could not be set up.\n";

bool readInt(const char* s, long lo, long hi, int* out) {
  long n = 0;
  if (!readLong(s, lo, hi, &n)) return false;
  *out = static_cast<int>(n);
  return true;
}

bool readPort(const char* s, int* port) { return readInt(s, 0, 65535, port); }
bool readPositiveInt(const char* s, int* out) { return readInt(s, 1, 100000000L, out); }

// Takes the tool's arguments into its options.
class loadArgs : public optionSink {
 public:
  explicit loadArgs(loadOptions* o) : o_(o) {}
  bool flag(const char* arg) override {
    if (strcmp(arg, "--attach") == 0) return o_->attach = true;
    if (strcmp(arg, "--poll") == 0) return o_->poll = true;
    if (strcmp(arg, "--metrics") == 0) return o_->metrics = true;
    return false;
  }
  bool value(const char* name, const char* v) override {
    if (strcmp(name, "rate") == 0) return readRate(v);
    if (strcmp(name, "count") == 0) return readLong(v, 1, kMaxCount, &o_->count);
    if (strcmp(name, "timeout-ms") == 0) return readPositiveInt(v, &o_->timeoutMs);
    if (strcmp(name, "stdin") == 0) return readStdin(v);
    if (strcmp(name, "script") == 0) return readScript(v);
    if (strcmp(name, "commands") == 0) return readInt(v, 1, 256, &o_->commands);
    if (strcmp(name, "batch-bytes") == 0) return readInt(v, 1, 65536, &o_->batchBytes);
    if (strcmp(name, "idle") == 0) return readInt(v, 1, 86400, &o_->idleSecs);
    if (strcmp(name, "servers") == 0) return readInt(v, 1, 100000, &o_->servers);
    if (strcmp(name, "senders") == 0) return readInt(v, 1, 10000, &o_->senders);
    if (strcmp(name, "strace") == 0) return strzcpy(o_->strace, v, kLoadPathChars) != nullptr;
    if (strcmp(name, "token") == 0) return strzcpy(o_->token, v, kLoadPathChars) != nullptr;
    if (strcmp(name, "server-port") == 0) return readPort(v, &o_->serverPort);
    if (strcmp(name, "console-port") == 0) return readPort(v, &o_->consolePort);
    if (strcmp(name, "console") == 0) return strzcpy(o_->console, v, kLoadPathChars) != nullptr;
    if (strcmp(name, "dir") == 0) return strzcpy(o_->dir, v, kLoadPathChars) != nullptr;
    if (strcmp(name, "label") == 0) return strzcpy(o_->label, v, kLoadLabelChars) != nullptr;
    return false;
  }

 private:
  static constexpr long kMaxCount = 100000000L;

  bool readStdin(const char* v) {
    const char* const names[] = {"eof", "pipe", "tty"};
    return readChoice(v, names, 3, &o_->stdinMode);
  }
  bool readScript(const char* v) {
    const char* const names[] = {"", "tcp", "udp"};
    return readChoice(v, names, 3, &o_->script) && o_->script != kScriptNone;
  }
  static bool readChoice(const char* v, const char* const* names, int n, int* out) {
    for (int i = 0; i < n; i++) {
      if (strcmp(v, names[i]) != 0) continue;
      *out = i;
      return true;
    }
    return false;
  }

  bool readRate(const char* v) {
    char* end = nullptr;
    o_->rate = strtod(v, &end);
    return end != v && *end == 0 && o_->rate >= 0 && o_->rate <= 1e6;
  }

  loadOptions* o_;
};

// The console beside this program, when it was started by a path.
void defaultConsole(const char* argv0, char* out) {
  out[0] = 0;
  const char* slash = argv0 ? strrchr(argv0, '/') : nullptr;
  if (slash) trf(out, kLoadPathChars + 1, "%.*s/qzucon", static_cast<int>(slash - argv0), argv0);
}

void defaults(loadOptions* o, const char* argv0) {
  memset(o, 0, sizeof *o);
  defaultConsole(argv0, o->console);
  o->count = 1000;
  o->timeoutMs = 10000;
  o->commands = 40;
  o->batchBytes = 989;
  o->servers = 1;
  o->senders = 1;
}

// The combinations that cannot work; a reason, or null.
const char* badCombination(const loadOptions& o) {
  if (o.attach && (o.serverPort == 0 || o.consolePort == 0 || !o.dir[0])) {
    return "--attach needs --server-port, --console-port and --dir";
  }
  if (!o.attach && !o.console[0]) return "no console program: give --console";
  if (o.attach &&
      (o.script || o.idleSecs || o.servers > 1 || o.strace[0] || o.token[0] || o.metrics)) {
    return "--script, --idle, --servers, --strace, --token and --metrics start the console: no "
           "--attach";
  }
  if (o.script && o.idleSecs) return "--script and --idle are two different runs";
  if (o.senders > 1 && (o.attach || o.script))
    return "--senders needs a console of its own, no --script";
  if (o.script && o.rate <= 0) return "--script needs the lines' --rate";
  return nullptr;
}

}  // namespace

const char* loadUsage() { return kUsage; }

int parseLoadArgs(int argc, const char* const* argv, loadOptions* o, char* err, int errSize) {
  defaults(o, argc > 0 ? argv[0] : nullptr);
  loadArgs args(o);
  int r = parseOptions(argc, argv, &args, err, errSize);
  if (r != 0) return r;
  const char* bad = badCombination(*o);
  if (bad) trf(err, errSize, "%s", bad);
  return bad ? -1 : 0;
}
