// Reading and writing the configuration tokens.
#include "app/config.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/globals.h"
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

// The handlers of the keywords: false when the value is not one the keyword
// takes, which leaves the setting as it was.

// "owner" or "any", in any case, blanks around it allowed.
bool parseLocalUsers(const char* value, char*, int) {
  char word[kNameChars + 1];
  trimmedWord(value, word);
  if (strcasecmp(word, "owner") == 0) {
    g_localusers = kLocalUsersOwner;
  } else if (strcasecmp(word, "any") == 0) {
    g_localusers = kLocalUsersAny;
  } else {
    return false;
  }
  return true;
}

// "auto", "on" or "off", in any case, blanks around it allowed.
bool parseJournal(const char* value, char*, int) {
  static const char* const kWords[] = {"auto", "on", "off"};
  char word[kNameChars + 1];
  trimmedWord(value, word);
  for (int m = 0; m < 3; m++) {
    if (strcasecmp(word, kWords[m]) == 0) {
      g_journal.mode = static_cast<journalMode>(m);
      return true;
    }
  }
  return false;
}

// "tag=" belongs to the server= before it, as login= does; a tag that is no
// tag is named and the whole token ignored.
bool parseTags(const char* value, char*, int) {
  char bad[kTagChars + 1];
  const char* why = "";
  if (g_tempServer.address[0] == 0) {
    log("ERROR: tag=%.300s: no server= before it\n", skipBlanks(value));
  } else if (!tagListAdd(g_tempServer.tags, value, bad, sizeof bad, &why)) {
    log("ERROR: Bad tag \"%s\" for server %s: %s\n", bad, g_tempServer.address, why);
  }
  return true;  // named above, with the reason
}

// "alert=NAME:REGEX": a rule that cannot be used is named with the reason
// and left out; the console runs on without it.
bool parseAlert(const char* value, char*, int) {
  char why[160];
  if (!g_alerts.add(skipBlanks(value), why, sizeof why)) {
    log("ERROR: Bad alert \"%.300s\": %s\n", skipBlanks(value), why);
  }
  return true;  // named above, with the reason
}

// "on=ALERT:COMMAND": as an alert, a trigger that cannot be used is named
// with the reason and left out.
bool parseTrigger(const char* value, char*, int) {
  char why[160];
  if (!g_triggers.add(g_alerts, skipBlanks(value), why, sizeof why)) {
    log("ERROR: Bad trigger \"%.300s\": %s\n", skipBlanks(value), why);
  }
  return true;  // named above, with the reason
}

// "oncooldown=SECONDS", fractions allowed, up to a day.
bool setTriggerCooldown(const char* value, char*, int) {
  char* end = nullptr;
  double secs = strtod(skipBlanks(value), &end);
  if (end == skipBlanks(value) || *skipBlanks(end) != 0 || !(secs >= 0 && secs <= 86400)) {
    return false;
  }
  g_triggers.setCooldownMs(static_cast<uint32_t>(secs * 1000 + 0.5));
  return true;
}

// A keyword that stores its value, blanks before it skipped, into a text.
bool storeText(const char* value, char* dest, int limit) {
  mystrzcpy(dest, value, limit);
  return true;
}

// A new server= ends the record of the one before it.
bool startServer(const char* value, char*, int) {
  commitPendingServer();
  mystrzcpy(g_tempServer.address, value, kNameChars);
  return true;
}

bool setTcpPort(const char* value, char*, int) {
  g_TCPlistenport = atoul(skipBlanks(value));
  return true;
}
bool setUdpPort(const char* value, char*, int) {
  g_UDPlistenport = atoul(skipBlanks(value));
  return true;
}
bool setDebug(const char*, char*, int) {
  g_debug = 1;
  return true;
}
bool writeIniTo(const char* value, char*, int) {
  writeini(value);
  return true;
}

bool setLogName(const char* value, char*, int) {
  mystrzcpy(g_logfn, value, kNameChars);
  strim(g_logfn, " \t");
  return true;
}

// A name a metrics label and a journal field carry: blanks around it are no
// part of it.
bool setConsoleName(const char* value, char*, int) {
  mystrzcpy(g_consoleName, value, kConsoleNameChars);
  strim(g_consoleName, " \t");
  return true;
}

// The configuration's vocabulary: a token is handled by the first row whose
// word it begins with, in any case; the rest of the token is the value. The
// bash completion, the manual page and qzucon --help list the same words
// (config_test.cc holds them to it).
struct configWord {
  const char* word;
  bool (*apply)(const char* value, char* dest, int limit);
  char* dest;  // where storeText puts the value, with its character limit
  int limit;
  const char* help;  // after the word in the full usage text; null for the
                     // words the usage text names
};

const configWord kConfigWords[] = {
    {"server=", startServer, nullptr, 0, "[host:port] (starts a server entry)"},
    {"ini=", storeText, g_inifn, kNameChars, nullptr},
    {"myaddr=", storeText, g_myaddr, kNameChars, nullptr},
    {"name=", setConsoleName, nullptr, 0, "[text] (the console's name in metrics and the journal)"},
    {"login=", storeText, g_tempServer.login, 32, "[name] (of the server above)"},
    {"password=", storeText, g_tempServer.password, 64, "[text] (of the server above)"},
    {"controlsocket=", storeText, g_ctlsocket, kNameChars, "[off | socket path]"},
    {"metrics=", storeText, g_metricsPath, kNameChars, "[file] (metrics for node_exporter)"},
    {"TCPlistenport=", setTcpPort, nullptr, 0, "[port] (local TCP input)"},
    {"UDPlistenport=", setUdpPort, nullptr, 0, "[port] (local UDP input)"},
    {"localusers=", parseLocalUsers, nullptr, 0, "[owner | any] (who may send local input)"},
    {"journal=", parseJournal, nullptr, 0, "[auto | on | off] (lines to the systemd journal)"},
    {"tag=", parseTags, nullptr, 0, "[name,...] (tags of the server above)"},
    {"alert=", parseAlert, nullptr, 0, "[name:regex] (counts the lines that match)"},
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

void commitPendingServer() {
  if (g_tempServer.address[0]) {
    // A text copy: stops at the template's first zero byte, the end of the magic.
    mystrzcpy(reinterpret_cast<char*>(g_tempServer.header),
              reinterpret_cast<const char*>(g_HEADER), kHeaderSize - 1);
    g_tempServer.rseed = kDefaultSeed;
    flServer.add(&g_tempServer);
  }
  memset(&g_tempServer, 0, sizeof g_tempServer);
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

void parseToken(const char* token, tokenFrom from) {
  const char* p = skipBlanks(token);
  if (*p == 0 || *p == ';') return;
  char line[kTokenShown + kNameChars + 96];
  for (const configWord& w : kConfigWords) {
    const char* value = skipWordNoCase(p, w.word);
    if (value == nullptr) continue;
    if (strpbrk(value, "\r\n")) {
      tokenFaultLine(line, sizeof line, kTokenLineBreak, p, from);
      log("%s", line);
    } else if (!w.apply(value, w.dest, w.limit)) {
      showHelp();
      tokenFaultLine(line, sizeof line, kTokenBadValue, p, from);
      log("%s", line);
    }
    return;
  }
  showHelp();
  tokenFaultLine(line, sizeof line, kTokenUnknown, p, from);
  log("%s", line);
}

void parseInput(const char* token) { parseToken(token, kCommandLine); }

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
  fputs(" --help (this text)\n --version (the version)\n", stdout);
  fflush(stdout);
}
