// qzuconctl's command line: the commands, which options each takes, and the
// TARGET its -t tags make.
#include "ctl/ctlargs.h"

#include <cstdlib>
#include <cstring>

#include "ctlproto/words.h"
#include "runtime/text.h"

namespace {

struct reader {
  int argc;
  const char* const* argv;
  int i;
  char* err;
  int errSize;

  const char* next() { return i < argc ? argv[i++] : nullptr; }
  bool fail(const char* what, const char* arg) {
    trf(err, errSize, "%s%s%s", what, arg ? ": " : "", arg ? arg : "");
    return false;
  }
  // The value of option opt, which must follow it.
  bool value(const char* opt, const char** out) {
    *out = next();
    return *out != nullptr || fail("missing value after", opt);
  }
};

const struct {
  const char* word;
  ctlCommand command;
} kCommands[] = {{"send", kCmdSend},       {"status", kCmdStatus}, {"follow", kCmdFollow},
                 {"do", kCmdDo},           {"exit", kCmdExit},     {"list", kCmdList},
                 {"metrics", kCmdMetrics}, {"top", kCmdTop}, {"reload", kCmdReload}};

// -w's seconds, fractions allowed, into milliseconds; false when not a
// number from 0 to a day.
bool readSeconds(const char* s, long* ms) {
  char* end = nullptr;
  double secs = strtod(s, &end);
  if (end == s || *end != 0 || !(secs >= 0 && secs <= 86400)) return false;
  *ms = static_cast<long>(secs * 1000 + 0.5);
  return true;
}

// An option before the command: which console (-p or -S), and on which
// hosts (-H; sshhosts.* reads the list).
bool globalOption(reader* r, const char* arg, ctlArgs* out) {
  const char* v = nullptr;
  if (strcmp(arg, "-H") == 0) {
    // Twice would leave one -H in the hosts' command line: each host would
    // run it over ssh again.
    if (out->hosts) return r->fail("give -H once", nullptr);
    out->hostsAt = r->i - 1;
    if (!r->value(arg, &out->hosts)) return false;
    if (out->hosts[0] == 0) return r->fail("-H needs a host", nullptr);
  } else if (strcmp(arg, "-p") == 0) {
    char* end = nullptr;
    if (!r->value(arg, &v)) return false;
    out->port = strtol(v, &end, 10);
    if (*v == 0 || *end != 0 || out->port < 1 || out->port > 65535) {
      return r->fail("the port must be a number from 1 to 65535", v);
    }
  } else if (strcmp(arg, "-S") == 0) {
    if (!r->value(arg, &v)) return false;
    out->socket = v;
  } else {
    return r->fail("unknown option", arg);
  }
  if (out->port && out->socket) return r->fail("give -p or -S, not both", nullptr);
  return true;
}

// A value into list (at most max of them), counted in count.
bool listValue(reader* r, const char* opt, const char** list, int* count, int max) {
  const char* v = nullptr;
  if (!r->value(opt, &v)) return false;
  if (*count == max) return r->fail("too many of", opt);
  list[(*count)++] = v;
  return true;
}

// The options of the fleet: tags, filters, alerts and JSON output.
bool fleetOption(reader* r, const char* arg, ctlArgs* out, bool* taken) {
  ctlCommand c = out->command;
  *taken = true;
  if (strcmp(arg, "-t") == 0 &&
      (c == kCmdSend || c == kCmdFollow || c == kCmdStatus || c == kCmdTop)) {
    if (!listValue(r, arg, out->tags, &out->tagCount, kCtlMaxTags)) return false;
    const char* tag = out->tags[out->tagCount - 1];
    if (!tagNameValid(tag, static_cast<int>(strlen(tag)))) {
      return r->fail("a tag is 1 to 32 letters, digits, '-' and '_'", tag);
    }
  } else if (strcmp(arg, "-e") == 0 && c == kCmdFollow) {
    return listValue(r, arg, out->keep, &out->keepCount, kCtlMaxPatterns);
  } else if (strcmp(arg, "-v") == 0 && c == kCmdFollow) {
    return listValue(r, arg, out->hide, &out->hideCount, kCtlMaxPatterns);
  } else if (strcmp(arg, "--alerts") == 0 && c == kCmdFollow) {
    out->alerts = true;
  } else if (strcmp(arg, "--json") == 0 && (c == kCmdSend || c == kCmdFollow || c == kCmdStatus ||
                                            c == kCmdList || c == kCmdReload)) {
    out->json = true;
  } else {
    *taken = false;
  }
  return true;
}

// The options of send --rolling. False when arg is none of them; *ok
// false after a usage error.
bool rollingOption(reader* r, const char* arg, ctlArgs* out, bool* ok) {
  const char* v = nullptr;
  *ok = true;
  if (strcmp(arg, "--rolling") == 0) {
    out->rolling = true;
  } else if (strcmp(arg, "--keep-going") == 0) {
    out->keepGoing = true;
  } else if (strcmp(arg, "--until") == 0) {
    *ok = r->value(arg, &out->until);
  } else if (strcmp(arg, "--gap") == 0 || strcmp(arg, "--timeout") == 0) {
    bool isGap = arg[2] == 'g';
    *ok = r->value(arg, &v);
    if (*ok && !readSeconds(v, isGap ? &out->gapMs : &out->timeoutMs)) {
      *ok = r->fail(
          isGap ? "--gap takes seconds from 0 to 86400" : "--timeout takes seconds from 0 to 86400",
          v);
    }
  } else {
    return false;
  }
  return true;
}

// An option after the command: only those the command takes, and no two
// that name the servers differently.
bool commandOption(reader* r, const char* arg, ctlArgs* out) {
  bool takesServer = out->command == kCmdSend || out->command == kCmdFollow;
  const char* v = nullptr;
  bool taken = false;
  if (!fleetOption(r, arg, out, &taken)) return false;
  if (taken) {
    if (out->tagCount > 0 && (out->server || out->all)) {
      return r->fail("give -t, or -s or -a, not both", nullptr);
    }
    return true;
  }
  if (takesServer && strcmp(arg, "-s") == 0) {
    if (!r->value(arg, &v)) return false;
    out->server = v;
  } else if (out->command == kCmdSend && strcmp(arg, "-a") == 0) {
    out->all = true;
  } else if (out->command == kCmdSend && strcmp(arg, "-w") == 0) {
    if (!r->value(arg, &v)) return false;
    if (!readSeconds(v, &out->waitMs)) return r->fail("-w takes seconds from 0 to 86400", v);
  } else if (bool ok = true; out->command == kCmdSend && rollingOption(r, arg, out, &ok)) {
    if (!ok) return false;
  } else {
    return r->fail("unknown option", arg);
  }
  if (out->server && out->all) return r->fail("give -s or -a, not both", nullptr);
  if (out->tagCount > 0 && (out->server || out->all)) {
    return r->fail("give -t, or -s or -a, not both", nullptr);
  }
  if (out->alerts && out->server) return r->fail("--alerts takes -t, not -s", nullptr);
  return true;
}

// The LINEs: send and do need one, the others take none, and none may hold
// a line break, which the console would read as a second request.
// --rolling needs a group, and its options need --rolling.
bool checkRolling(reader* r, const ctlArgs* out) {
  bool options = out->gapMs || out->until || out->timeoutMs != kCtlUntilTimeoutMs || out->keepGoing;
  if (options && !out->rolling) {
    return r->fail("--gap, --until, --timeout and --keep-going need --rolling", nullptr);
  }
  if (out->rolling && !out->server && !out->all && out->tagCount == 0) {
    return r->fail("--rolling needs -s, -a or -t", nullptr);
  }
  return true;
}

bool checkLines(reader* r, ctlArgs* out) {
  bool wantsLines = out->command == kCmdSend || out->command == kCmdDo;
  if (wantsLines && out->lineCount == 0) return r->fail("nothing to send: give a LINE", nullptr);
  if (!wantsLines && out->lineCount > 0) return r->fail("unexpected argument", out->lines[0]);
  for (int i = 0; i < out->lineCount; i++) {
    if (strchr(out->lines[i], '\n')) return r->fail("a LINE may not hold a line break", nullptr);
  }
  return true;
}

}  // namespace

bool parseCtlArgs(int argc, const char* const* argv, ctlArgs* out, char* err, int errSize) {
  reader r = {argc, argv, 1, err, errSize};
  const char* arg = nullptr;
  while ((arg = r.next()) != nullptr && arg[0] == '-') {
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      out->help = true;
      return true;
    }
    if (strcmp(arg, "--version") == 0) {
      out->version = true;
      return true;
    }
    if (!globalOption(&r, arg, out)) return false;
  }
  if (arg == nullptr) return r.fail("no command given", nullptr);
  for (const auto& c : kCommands) {
    if (strcmp(arg, c.word) == 0) out->command = c.command;
  }
  if (out->command == kCmdNone) return r.fail("unknown command", arg);
  bool options = true;
  while ((arg = r.next()) != nullptr) {
    if (options && strcmp(arg, "--") == 0) {
      options = false;
    } else if (options && arg[0] == '-' && arg[1] != 0 && out->lineCount == 0) {
      if (!commandOption(&r, arg, out)) return false;
    } else if (out->lineCount == kCtlMaxLines) {
      return r.fail("too many LINE arguments", nullptr);
    } else {
      out->lines[out->lineCount++] = arg;
    }
  }
  return checkLines(&r, out) && checkRolling(&r, out);
}

void tagTarget(const ctlArgs& a, char* out, int size) {
  trf(out, size, "%c", kTargetTags);
  for (int i = 0; i < a.tagCount; i++) traf(out, size, "%s%s", i ? "," : "", a.tags[i]);
}
