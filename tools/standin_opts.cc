// The stand-in's command line and usage text.
#include <cstdlib>
#include <cstring>

#include "runtime/text.h"
#include "tools/args.h"
#include "tools/standin.h"

namespace {

const char kUsage[] =
    "usage: qzstandin [options]\n"
    "A stand-in for a remote server's service module: it answers a qzucon\n"
    "console over UDP on loopback so the console can be run and tested\n"
    "without a real server.\n"
    "\n"
    "options (\"--name value\" or \"--name=value\"):\n"
    "  --port N       UDP port to listen on; 0 (the default) takes a free port.\n"
    "  --bind ADDR    local IPv4 address to bind, default 127.0.0.1.\n"
    "  --password PW  the password consoles must prove (default: empty).\n"
    "  --rate R       log lines per second to each proven console, default 2;\n"
    "                 0 sends none. Fractions are allowed (0.5 = one per 2 s).\n"
    "  --count N      stop after N log lines per console; 0 (default) = no end.\n"
    "  --login NAME   serve only consoles with this login; others are ignored.\n"
    "  --quiet        drop the per-line and heartbeat notes.\n"
    "  --text TEXT    every log line's text, instead of \"qzstandin <addr> line N\"\n"
    "                 (a datagram holds 1,491 bytes of it).\n"
    "  --help         this text.\n"
    "\n"
    "What it does (the console's protocol is silent about the server; these\n"
    "choices are ours):\n"
    "  - A console is known by the address in its packets' plain prefix\n"
    "    \"<addr>;<login>;\"; datagrams go back to that address (or to the\n"
    "    packet's source when it is no numeric ip:port).\n"
    "  - The first packet of an unknown console is answered with a challenge:\n"
    "    its client challenge, a fresh non-zero server challenge and a greeting,\n"
    "    scrambled with the password's keystream seed.\n"
    "  - A packet carrying that challenge and the right proof makes the console\n"
    "    proven. From then on it gets log lines \"qzstandin <addr> line N\" at\n"
    "    the chosen rate (N counts per console, so loss is visible).\n"
    "  - A proven console's command is answered with the log line\n"
    "    \"echo: <command>\". An unproven console's commands are ignored.\n"
    "  - A packet without a valid proof (wrong password, stale or missing\n"
    "    challenge) withdraws the proof and brings a new challenge, at most one\n"
    "    per second per console.\n"
    "  - \"qzuconexit\" makes it forget the console.\n"
    "\n"
    "Every event is one line on standard error, \"qzstandin: <event> key=value\":\n"
    "  listening addr=A seed=S          bad-packet from=A bytes=N reason=R\n"
    "  challenge console=A login=L challenge=X reason=new|unanswered|stale|bad-proof\n"
    "  proof-ok console=A login=L challenge=X   proof-bad ...   proof-lost ...\n"
    "  heartbeat console=A login=L proven=yes|no\n"
    "  command console=A login=L text=T  ignored-command ... reason=unproven text=T\n"
    "  sent-line console=A n=N          count-reached console=A lines=N\n"
    "  exit console=A login=L known=yes|no proven=yes|no\n"
    "  unknown-login console=A login=L  table-full console=A login=L\n"
    "Bytes outside printable ASCII are shown as '?'.\n";

bool readRate(const char* s, int* intervalMs) {
  char* end = nullptr;
  double r = strtod(s, &end);
  if (end == s || *end != 0 || !(r >= 0 && r <= 1000)) return false;
  *intervalMs = r > 0 ? static_cast<int>(1000.0 / r + 0.5) : 0;
  if (r > 0 && *intervalMs < 1) *intervalMs = 1;
  return true;
}

bool setValue(standinOptions* o, const char* name, const char* v) {
  long n = 0;
  if (strcmp(name, "port") == 0) {
    if (!readLong(v, 0, 65535, &n)) return false;
    o->port = static_cast<int>(n);
  } else if (strcmp(name, "bind") == 0) {
    strzcpy(o->bind, v, kAddrChars);
  } else if (strcmp(name, "password") == 0) {
    strzcpy(o->password, v, kPasswordChars);
  } else if (strcmp(name, "login") == 0) {
    strzcpy(o->login, v, kLoginChars);
  } else if (strcmp(name, "rate") == 0) {
    return readRate(v, &o->intervalMs);
  } else if (strcmp(name, "count") == 0) {
    if (!readLong(v, 0, 1000000000L, &n)) return false;
    o->count = n;
  } else if (strcmp(name, "text") == 0) {
    strzcpy(o->text, v, sizeof o->text - 1);
  } else {
    return false;
  }
  return true;
}

class optionTaker : public optionSink {
 public:
  explicit optionTaker(standinOptions* o) : o_(o) {}
  bool flag(const char* arg) override {
    if (strcmp(arg, "--quiet") != 0) return false;
    o_->quiet = true;
    return true;
  }
  bool value(const char* name, const char* v) override { return setValue(o_, name, v); }

 private:
  standinOptions* o_;
};

void defaults(standinOptions* o) {
  memset(o, 0, sizeof *o);
  strzcpy(o->bind, "127.0.0.1", kAddrChars);
  o->intervalMs = 500;
}

}  // namespace

const char* standinUsage() { return kUsage; }

int parseStandinArgs(int argc, const char* const* argv, standinOptions* o, char* err,
                     int errSize) {
  defaults(o);
  optionTaker taker(o);
  return parseOptions(argc, argv, &taker, err, errSize);
}
