// Reading and writing the configuration tokens.
#include "app/config.h"

#include <strings.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/alerts.h"
#include "app/ctlaccess.h"
#include "app/globals.h"
#include "app/journal.h"
#include "app/log.h"
#include "app/triggers.h"
#include "runtime/bfc.h"
#include "runtime/files.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"

namespace {

// Longest piece written at once: one server's three lines (256 + 32 + 64
// characters of values and their keywords), or its tag line (263), or an
// alert (32 + 255).
constexpr int kIniLineSize = 512;
constexpr int kIniLine = 1024;  // 1023 characters a read; longer lines split

const char* skipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') p++;
  return p;
}

// Only a setting other than the default is written back: a configuration
// written once then keeps following the default.
bool controlSocketDefault() {
  char value[kNameChars + 1];
  strzcpy(value, g_ctlsocket, kNameChars);
  strim(value, " \t");
  return value[0] == 0 || strcasecmp(value, "on") == 0;
}

// The configuration is written to a new file beside the old one, which is
// replaced only once the new one is whole on the disk.
struct iniOut {
  int fd;
  bool ok;
};

void put(iniOut* out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void put(iniOut* out, const char* fmt, ...) {
  char line[kIniLineSize];
  va_list ap;
  va_start(ap, fmt);
  vtrf(line, sizeof line, fmt, ap);
  va_end(ap);
  for (size_t done = 0, len = strlen(line); out->ok && done < len;) {
    int n = trFileWrite(out->fd, line + done, static_cast<unsigned>(len - done));
    out->ok = n > 0;
    done += out->ok ? static_cast<size_t>(n) : 0;
  }
}

// The control group and the allow= rules, as given.
void putAccess(iniOut* out) {
  const ctlAccess& a = g_ctlAccess;
  if (a.group[0]) put(out, "controlgroup=%s\n", a.group);
  for (int i = 0; i < a.ruleCount; i++) {
    const allowRule& r = a.rules[i];
    put(out, "allow=%s%s:%s\n", r.group ? "@" : "", r.who, r.source);
  }
}

void putConfiguration(iniOut* out) {
  put(out, "qzuconlog %s\n", g_logfn);
  if (g_TCPlistenport) put(out, "TCPlistenPort=%ld\n", static_cast<long>(g_TCPlistenport));
  if (g_UDPlistenport) put(out, "UDPlistenPort=%ld\n", static_cast<long>(g_UDPlistenport));
  if (g_localusers == kLocalUsersAny) put(out, "localusers=any\n");
  put(out, "myaddr=%s\n", g_myaddr);
  if (g_consoleName[0]) put(out, "name=%s\n", g_consoleName);
  if (!controlSocketDefault()) put(out, "controlsocket=%s\n", g_ctlsocket);
  if (g_journal.mode != kJournalAuto) {
    put(out, "journal=%s\n", g_journal.mode == kJournalOn ? "on" : "off");
  }
  if (g_metricsPath[0]) put(out, "metrics=%s\n", g_metricsPath);
  for (int i = 0; i < g_alerts.count(); i++) {
    put(out, "alert=%s:%s\n", g_alerts.name(i), g_alerts.source(i));
  }
  putAccess(out);
  for (int t = 0; t < g_triggers.count(); t++) {
    put(out, "on=%s:%s\n", g_alerts.name(g_triggers.alert(t)), g_triggers.command(t));
  }
  if (g_triggers.cooldownMs() != kTriggerCooldownMs) {
    put(out, "oncooldown=%g\n", g_triggers.cooldownMs() / 1000.0);
  }
  put(out, ";List of Servers\n");
  for (int i = 0; i < flServer.nodes(); i++) {
    const serverRec* s = serverAt(i);
    put(out, "server=%s\nlogin=%s\npassword=%s\n", s->address, s->login, s->password);
    if (s->tags[0]) put(out, "tag=%s\n", s->tags);
    put(out, "\n");
  }
}

struct leftovers {
  char dir[kNameChars + 8];
  const char* base;
};

void removeLeftover(const char* entry, void* ctx) {
  const leftovers* l = static_cast<const leftovers*>(ctx);
  if (!iniLeftoverName(entry, l->base)) return;
  char path[sizeof l->dir + kNameChars + 8];
  trf(path, sizeof path, "%s%s", l->dir, entry);
  trPathInfo info;
  if (trPathStat(path, &info) == 0 && info.kind == kPathOther && info.uid == trUid()) trUnlink(path);
}

// The temporary files of earlier writes of name that were cut short (the
// console killed between making one and renaming it) hold passwords too: the
// console's user's own are removed.
void removeLeftovers(const char* name) {
  leftovers l;
  const char* slash = strrchr(name, '/');
  int dirLen = slash ? static_cast<int>(slash - name) + 1 : 0;
  strzcpy(l.dir, name, dirLen);
  l.base = name + dirLen;
  trDirNames(dirLen ? l.dir : ".", removeLeftover, &l);
}

// Writes the configuration to a temporary file in name's folder and renames
// it over name. A new file is private (it holds passwords in clear text); a
// file of the console's own user that is replaced passes its permissions on.
// Anyone else's file says nothing about who may read the passwords (another
// user may have planted it, readable by all, in a shared folder). On any
// failure the temporary file is removed and whatever was at name stays as it
// was.
bool replaceIni(const char* name) {
  char tmp[kNameChars + 8];
  trf(tmp, sizeof tmp, "%s.XXXXXX", name);
  unsigned owner = 0;
  int mode = trFileMode(name, &owner);
  if (owner != trUid()) mode = -1;
  removeLeftovers(name);
  iniOut out = {trMakeTemp(tmp), true};
  if (out.fd < 0) return false;
  if (mode >= 0 && mode != 0600) out.ok = trFileChmod(out.fd, static_cast<unsigned>(mode)) == 0;
  putConfiguration(&out);
  out.ok = out.ok && trFileSync(out.fd) == 0;
  out.ok = trFileClose(out.fd) == 0 && out.ok;
  out.ok = out.ok && trRename(tmp, name) == 0;
  if (!out.ok) trUnlink(tmp);
  return out.ok;
}

// A setting's one word, without the blanks around it; word holds kNameChars + 1.
void trimmedWord(const char* value, char* word) {
  mystrzcpy(word, value, kNameChars);
  strim(word, " \t");
}

// Where a token came from, as an error names it.
void whereFrom(tokenFrom from, char* out, int size) {
  if (from.file) {
    trf(out, size, "%s line %d", from.file, from.line);
  } else {
    trf(out, size, "the command line");
  }
}

// What a keyword's handler gets: where the token goes and came from, and its
// value.
struct wordCall {
  const configTarget& t;
  tokenFrom from;
  const char* value;
  char* dest;  // where storeText puts the value, with its character limit
  int limit;
};

// The handlers of the keywords: false when the value is not one the keyword
// takes, which leaves the setting as it was.

// "owner" or "any", in any case, blanks around it allowed.
bool parseLocalUsers(const wordCall& c) {
  char word[kNameChars + 1];
  trimmedWord(c.value, word);
  if (strcasecmp(word, "owner") == 0) {
    *c.t.localusers = kLocalUsersOwner;
  } else if (strcasecmp(word, "any") == 0) {
    *c.t.localusers = kLocalUsersAny;
  } else {
    return false;
  }
  return true;
}

// "auto", "on" or "off", in any case, blanks around it allowed.
bool parseJournal(const wordCall& c) {
  static const char* const kWords[] = {"auto", "on", "off"};
  char word[kNameChars + 1];
  trimmedWord(c.value, word);
  for (int m = 0; m < 3; m++) {
    if (strcasecmp(word, kWords[m]) == 0) {
      *c.t.journal = static_cast<journalMode>(m);
      return true;
    }
  }
  return false;
}

// "tag=" belongs to the server= before it, as login= does; a tag that is no
// tag is named and the whole token ignored.
bool parseTags(const wordCall& c) {
  char bad[kTagChars + 1];
  const char* why = "";
  serverRec* s = c.t.pending;
  char where[kNameChars + 32];
  whereFrom(c.from, where, sizeof where);
  if (s->address[0] == 0) {
    if (c.t.errors) {
      configError(c.t.errors, "%s: tag=%.300s: no server= before it", where, skipBlanks(c.value));
    } else {
      log("ERROR: tag=%.300s: no server= before it\n", skipBlanks(c.value));
    }
  } else if (!tagListAdd(s->tags, c.value, bad, sizeof bad, &why)) {
    if (c.t.errors) {
      configError(c.t.errors, "%s: Bad tag \"%s\" for server %s: %s", where, bad, s->address, why);
    } else {
      log("ERROR: Bad tag \"%s\" for server %s: %s\n", bad, s->address, why);
    }
  }
  return true;  // named above, with the reason
}

// A value a word could not use (why says which and why): collected for a
// reload or a check, else said at once; the token is left out.
void badValue(const wordCall& c, const char* why) {
  if (c.t.errors) {
    char where[kNameChars + 32];
    whereFrom(c.from, where, sizeof where);
    configError(c.t.errors, "%s: %s", where, why);
  } else {
    log("ERROR: %s\n", why);
  }
}

// "alert=NAME:REGEX": a rule that cannot be used is named with the reason
// and left out; the console runs on without it.
bool parseAlert(const wordCall& c) {
  char why[160], line[600];
  if (!c.t.alerts->add(skipBlanks(c.value), why, sizeof why)) {
    trf(line, sizeof line, "Bad alert \"%.300s\": %s", skipBlanks(c.value), why);
    badValue(c, line);
  }
  return true;  // named above, with the reason
}

bool controlGroupWord(const wordCall& c) {
  char why[400];
  if (!parseControlGroup(c.t.access, c.value, why, sizeof why)) badValue(c, why);
  return true;  // named above, with the reason
}

bool allowWord(const wordCall& c) {
  char why[400];
  if (!parseAllow(c.t.access, c.value, why, sizeof why)) badValue(c, why);
  return true;
}

// "on=ALERT:COMMAND": as an alert, a trigger that cannot be used is named
// with the reason and left out.
bool parseTrigger(const wordCall& c) {
  char why[160], line[600];
  if (!c.t.triggers->add(*c.t.alerts, skipBlanks(c.value), why, sizeof why)) {
    trf(line, sizeof line, "Bad trigger \"%.300s\": %s", skipBlanks(c.value), why);
    badValue(c, line);
  }
  return true;  // named above, with the reason
}

// "oncooldown=SECONDS", fractions allowed, up to a day.
bool setTriggerCooldown(const wordCall& c) {
  char* end = nullptr;
  const char* value = skipBlanks(c.value);
  double secs = strtod(value, &end);
  if (end == value || *skipBlanks(end) != 0 || !(secs >= 0 && secs <= 86400)) return false;
  c.t.triggers->setCooldownMs(static_cast<uint32_t>(secs * 1000 + 0.5));
  return true;
}

// A keyword that stores its value, blanks before it skipped, into a text.
bool storeText(const wordCall& c) {
  mystrzcpy(c.dest, c.value, c.limit);
  return true;
}
bool storeLogin(const wordCall& c) {
  mystrzcpy(c.t.pending->login, c.value, kServerLoginChars);
  return true;
}
bool storePassword(const wordCall& c) {
  mystrzcpy(c.t.pending->password, c.value, kServerPasswordChars);
  return true;
}

// A new server= ends the record of the one before it.
bool startServer(const wordCall& c) {
  commitPendingInto(c.t);
  mystrzcpy(c.t.pending->address, c.value, kNameChars);
  return true;
}

bool setTcpPort(const wordCall& c) {
  *c.t.tcpPort = atoul(skipBlanks(c.value));
  return true;
}
bool setUdpPort(const wordCall& c) {
  *c.t.udpPort = atoul(skipBlanks(c.value));
  return true;
}
bool setDebug(const wordCall& c) {
  *c.t.debug = 1;
  return true;
}
// A configuration read apart from the running one writes no file.
bool writeIniTo(const wordCall& c) {
  if (!c.t.errors) writeini(c.value);
  return true;
}

bool setLogName(const wordCall& c) {
  mystrzcpy(c.t.logfn, c.value, kNameChars);
  strim(c.t.logfn, " \t");
  return true;
}

// A name a metrics label and a journal field carry: blanks around it are no
// part of it.
bool setConsoleName(const wordCall& c) {
  mystrzcpy(c.t.consoleName, c.value, kConsoleNameChars);
  strim(c.t.consoleName, " \t");
  return true;
}

// The configuration's vocabulary: a token is handled by the first row whose
// word it begins with, in any case; the rest of the token is the value. The
// bash completion, the manual page and qzucon --help list the same words
// (config_test.cc holds them to it).
struct configWord {
  const char* word;
  bool (*apply)(const wordCall& c);
  char* configTarget::*dest;  // where storeText puts the value, with its character limit
  int limit;
  const char* help;  // after the word in the full usage text; null for the
                     // words the usage text names
};

const configWord kConfigWords[] = {
    {"server=", startServer, nullptr, 0, "[host:port] (starts a server entry)"},
    {"ini=", storeText, &configTarget::inifn, kNameChars, nullptr},
    {"myaddr=", storeText, &configTarget::myaddr, kNameChars, nullptr},
    {"name=", setConsoleName, nullptr, 0, "[text] (the console's name in metrics and the journal)"},
    {"login=", storeLogin, nullptr, 0, "[name] (of the server above)"},
    {"password=", storePassword, nullptr, 0, "[text] (of the server above)"},
    {"controlsocket=", storeText, &configTarget::ctlsocket, kNameChars, "[off | socket path]"},
    {"metrics=", storeText, &configTarget::metricsPath, kNameChars,
     "[file] (metrics for node_exporter)"},
    {"TCPlistenport=", setTcpPort, nullptr, 0, "[port] (local TCP input)"},
    {"UDPlistenport=", setUdpPort, nullptr, 0, "[port] (local UDP input)"},
    {"localusers=", parseLocalUsers, nullptr, 0, "[owner | any] (who may send local input)"},
    {"journal=", parseJournal, nullptr, 0, "[auto | on | off] (lines to the systemd journal)"},
    {"tag=", parseTags, nullptr, 0, "[name,...] (tags of the server above)"},
    {"alert=", parseAlert, nullptr, 0, "[name:regex] (counts the lines that match)"},
    {"controlgroup=", controlGroupWord, nullptr, 0,
     "[group] (its members may use the control socket)"},
    {"allow=", allowWord, nullptr, 0, "[user:regex | @group:regex] (commands members may send)"},
    {"on=", parseTrigger, nullptr, 0, "[alert:command] (sent to a server when its line matches)"},
    {"oncooldown=", setTriggerCooldown, nullptr, 0, "[seconds] (between two of a trigger's sends)"},
    {"qzucondebug", setDebug, nullptr, 0, nullptr},
    {"qzuconwrite ", writeIniTo, nullptr, 0, nullptr},
    {"qzuconlog ", setLogName, nullptr, 0, nullptr},
};

// The usage text, as it has always been: it names a few of the words.
const char* const kUsageLines[] = {
    "QZUCON Help\n",
    " ini=[ini filename] (@ command line only)\n",
    " myaddr=[my ip:port]\n",
    " qzuconactive [server ip:port]\n",
    " qzuconwrite [filename] (writes ini file)\n",
    " qzuconlog [log filename]\n",
    " qzucondebug (to toggle debug mode)\n",
    " qzuconexit (to exit console)\n",
};

// Whether a usage line begins with the word (without its ending blank).
bool usageNames(const char* word) {
  size_t n = strcspn(word, " ");
  for (const char* line : kUsageLines) {
    if (line[0] == ' ' && strncmp(line + 1, word, n) == 0) return true;
  }
  return false;
}

// The text between the token's quotes in tokenFaultLine: up to the value
// when it is left out, control characters as '?', cut with "...".
void shownToken(const char* token, bool withValue, char* out, int size) {
  const char* p = skipBlanks(token);
  int n = static_cast<int>(strlen(p));
  const char* eq = strchr(p, '=');
  if (!withValue && eq) n = static_cast<int>(eq - p) + 1;
  bool cut = n > kTokenShown;
  if (cut) n = kTokenShown;
  int o = 0;
  for (int i = 0; i < n && o < size - 4; i++) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    out[o++] = c < 32 || c == 127 ? '?' : static_cast<char>(c);
  }
  out[o] = 0;
  if (cut) traf(out, size, "...");
}

}  // namespace

bool iniLeftoverName(const char* entry, const char* base) {
  size_t n = strlen(base);
  if (strncmp(entry, base, n) != 0 || entry[n] != '.' || strlen(entry + n + 1) != 6) return false;
  for (const char* c = entry + n + 1; *c; c++) {
    if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9'))) {
      return false;
    }
  }
  return true;
}

char* mystrzcpy(char* dst, const char* src, int limit) {
  return strzcpy(dst, skipBlanks(src), limit);
}

void commitPendingServer() { commitPendingInto(liveConfig()); }

void commitPendingInto(const configTarget& t) {
  serverRec* s = t.pending;
  if (s->address[0]) {
    // A text copy: stops at the template's first zero byte, the end of the magic.
    mystrzcpy(reinterpret_cast<char*>(s->header), reinterpret_cast<const char*>(g_HEADER),
              kHeaderSize - 1);
    s->rseed = kDefaultSeed;
    t.servers->add(s);
  }
  memset(s, 0, sizeof *s);
}

void configError(configErrors* e, const char* fmt, ...) {
  if (e->count < kConfigErrorsMax) {
    va_list ap;
    va_start(ap, fmt);
    vtrf(e->text[e->count], kConfigErrorChars, fmt, ap);
    va_end(ap);
  }
  e->count++;
}

configTarget liveConfig() {
  return {g_inifn,       g_logfn,          g_myaddr,         g_consoleName, g_ctlsocket,
          g_metricsPath, &g_TCPlistenport, &g_UDPlistenport, &g_localusers, &g_journal.mode,
          &g_debug,      &g_tempServer,    &flServer,        &g_alerts,     &g_ctlAccess,
          &g_triggers,   nullptr};
}

void tokenFaultLine(char* out, int size, tokenFault fault, const char* token, tokenFrom from) {
  char shown[kTokenShown + 8];
  shownToken(token, fault == kTokenBadValue, shown, sizeof shown);
  static const char* const kWhat[] = {"Unknown token", "Bad value in token",
                                      "Line break in the value of token"};
  trf(out, size, "ERROR: %s \"%s\" ", kWhat[fault], shown);
  if (from.file) {
    traf(out, size, "in %s line %d", from.file, from.line);
  } else {
    traf(out, size, "on the command line");
  }
  traf(out, size, "%s\n", fault == kTokenLineBreak ? ": the token is ignored" : "");
}

namespace {

// A refused token: logged with the usage text before it (start-up), or
// collected without "ERROR: " and its line end.
void refuseToken(const configTarget& t, tokenFault fault, const char* token, tokenFrom from) {
  char line[kTokenShown + kNameChars + 96];
  tokenFaultLine(line, sizeof line, fault, token, from);
  if (t.errors) {
    line[strcspn(line, "\n")] = 0;
    configError(t.errors, "%s", line + strlen("ERROR: "));
    return;
  }
  if (fault != kTokenLineBreak) showHelp();
  log("%s", line);
}

}  // namespace

void parseTokenInto(const configTarget& t, const char* token, tokenFrom from) {
  const char* p = skipBlanks(token);
  if (*p == 0 || *p == ';') return;
  for (const configWord& w : kConfigWords) {
    const char* value = skipWordNoCase(p, w.word);
    if (value == nullptr) continue;
    wordCall c = {t, from, value, w.dest ? t.*w.dest : nullptr, w.limit};
    if (strpbrk(value, "\r\n")) {
      refuseToken(t, kTokenLineBreak, p, from);
    } else if (!w.apply(c)) {
      refuseToken(t, kTokenBadValue, p, from);
    }
    return;
  }
  refuseToken(t, kTokenUnknown, p, from);
}

void parseToken(const char* token, tokenFrom from) { parseTokenInto(liveConfig(), token, from); }

void parseInput(const char* token) { parseToken(token, kCommandLine); }

int readConfigFile(const configTarget& t, const char* name, bool named, bool* found) {
  trPathInfo info;
  if (trPathStat(name, &info) == 0 && info.kind == kPathDir) return EISDIR;
  bfc ini("rb", "%s", name);
  if (!ini.open()) {
    int err = trLastError();
    return trNoSuchFile(err) && !named ? 0 : err;
  }
  if (found) *found = true;
  // Read without the strip, so that a line's number counts only the reads
  // that end it: a longer line arrives as several tokens of one number.
  char line[kIniLine];
  tokenFrom from = {ini.name(), 1};
  while (ini.rdln(line, kIniLine, 0)) {
    size_t len = strlen(line);
    bool ended = len > 0 && line[len - 1] == '\n';
    while (len > 0 && (line[len - 1] == '\r' || line[len - 1] == '\n')) line[--len] = 0;
    parseTokenInto(t, line, from);
    if (ended) from.line++;
  }
  return 0;
}

void consoleNameFor(const char* given, const char* ini, const char* myaddr, char* out) {
  if (given[0]) {
    strzcpy(out, given, kConsoleNameChars);
    return;
  }
  // "/etc/qzucon/site.ini" is "site": the instance of qzucon@site.
  const char* base = ini ? strrchr(ini, '/') : nullptr;
  base = base ? base + 1 : ini;
  if (base && base[0]) {
    const char* dot = strrchr(base, '.');
    int len = dot && dot != base ? static_cast<int>(dot - base) : static_cast<int>(strlen(base));
    strzcpy(out, base, len < kConsoleNameChars ? len : kConsoleNameChars);
    return;
  }
  const char* colon = strrchr(myaddr, ':');
  strzcpy(out, colon ? colon + 1 : "", kConsoleNameChars);
  strim(out, " \t");
}

int configWordCount() { return static_cast<int>(sizeof kConfigWords / sizeof kConfigWords[0]); }

const char* configWordAt(int i) { return kConfigWords[i].word; }

void writeini(const char* name) {
  while (*name == ' ') name++;
  if (*name == 0) name = "qzucon.ini";
  // The name a bfc would open: cut to its length, backslashes read as
  // slashes. The temporary file then lies beside the file it replaces.
  char fixed[kFileNameChars + 1];
  strzcpy(fixed, name, kFileNameChars);
  fixFileName(fixed);
  if (replaceIni(fixed)) {
    log("Configuration written to file: %s\n", name);
  } else {
    log("ERROR: Unable to write configuration file: %s\n", name);
  }
}

void showHelp() {
  char text[1024] = "";
  for (const char* line : kUsageLines) traf(text, sizeof text, "%s", line);
  logScreenOnly(text);
}

void showFullHelp() {
  for (const char* line : kUsageLines) fputs(line, stdout);
  for (const configWord& w : kConfigWords) {
    if (!usageNames(w.word)) printf(" %s%s\n", w.word, w.help ? w.help : "");
  }
  fputs(
      " --help (this text)\n --version (the version)\n"
      " --check [tokens...] (reads the configuration, says what is wrong, runs nothing)\n",
      stdout);
  fflush(stdout);
}
