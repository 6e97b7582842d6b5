// Reading and writing the configuration tokens.
#include "app/config.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/globals.h"
#include "app/log.h"
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

// "owner" or "any", in any case, blanks around it allowed. Anything else
// keeps the setting and prints the usage text, as an unknown token does.
void parseLocalUsers(const char* value, char*, int) {
  char word[kNameChars + 1];
  trimmedWord(value, word);
  if (strcasecmp(word, "owner") == 0) {
    g_localusers = kLocalUsersOwner;
  } else if (strcasecmp(word, "any") == 0) {
    g_localusers = kLocalUsersAny;
  } else {
    showHelp();
  }
}

// "auto", "on" or "off", in any case, blanks around it allowed; anything else
// keeps the setting and prints the usage text.
void parseJournal(const char* value, char*, int) {
  static const char* const kWords[] = {"auto", "on", "off"};
  char word[kNameChars + 1];
  trimmedWord(value, word);
  for (int m = 0; m < 3; m++) {
    if (strcasecmp(word, kWords[m]) == 0) {
      g_journal.mode = static_cast<journalMode>(m);
      return;
    }
  }
  showHelp();
}

// "tag=" belongs to the server= before it, as login= does; a tag that is no
// tag is named and the whole token ignored.
void parseTags(const char* value, char*, int) {
  char bad[kTagChars + 1];
  const char* why = "";
  if (g_tempServer.address[0] == 0) {
    log("ERROR: tag=%.300s: no server= before it\n", skipBlanks(value));
  } else if (!tagListAdd(g_tempServer.tags, value, bad, sizeof bad, &why)) {
    log("ERROR: Bad tag \"%s\" for server %s: %s\n", bad, g_tempServer.address, why);
  }
}

// "alert=NAME:REGEX": a rule that cannot be used is named with the reason
// and left out; the console runs on without it.
void parseAlert(const char* value, char*, int) {
  char why[160];
  if (!g_alerts.add(skipBlanks(value), why, sizeof why)) {
    log("ERROR: Bad alert \"%.300s\": %s\n", skipBlanks(value), why);
  }
}

// A keyword that stores its value, blanks before it skipped, into a text.
void storeText(const char* value, char* dest, int limit) { mystrzcpy(dest, value, limit); }

// A new server= ends the record of the one before it.
void startServer(const char* value, char*, int) {
  commitPendingServer();
  mystrzcpy(g_tempServer.address, value, kNameChars);
}

void setTcpPort(const char* value, char*, int) { g_TCPlistenport = atoul(skipBlanks(value)); }
void setUdpPort(const char* value, char*, int) { g_UDPlistenport = atoul(skipBlanks(value)); }
void setDebug(const char*, char*, int) { g_debug = 1; }
void writeIniTo(const char* value, char*, int) { writeini(value); }

void setLogName(const char* value, char*, int) {
  mystrzcpy(g_logfn, value, kNameChars);
  strim(g_logfn, " \t");
}

// A name a metrics label and a journal field carry: blanks around it are no
// part of it.
void setConsoleName(const char* value, char*, int) {
  mystrzcpy(g_consoleName, value, kConsoleNameChars);
  strim(g_consoleName, " \t");
}

// The configuration's vocabulary: a token is handled by the first row whose
// word it begins with, in any case; the rest of the token is the value. The
// bash completion and the manual page list the same words (config_test.cc
// holds them to it).
struct configWord {
  const char* word;
  void (*apply)(const char* value, char* dest, int limit);
  char* dest;  // where storeText puts the value, with its character limit
  int limit;
};

const configWord kConfigWords[] = {
    {"server=", startServer, nullptr, 0},
    {"ini=", storeText, g_inifn, kNameChars},
    {"myaddr=", storeText, g_myaddr, kNameChars},
    {"name=", setConsoleName, nullptr, 0},
    {"login=", storeText, g_tempServer.login, 32},
    {"password=", storeText, g_tempServer.password, 64},
    {"controlsocket=", storeText, g_ctlsocket, kNameChars},
    {"metrics=", storeText, g_metricsPath, kNameChars},
    {"TCPlistenport=", setTcpPort, nullptr, 0},
    {"UDPlistenport=", setUdpPort, nullptr, 0},
    {"localusers=", parseLocalUsers, nullptr, 0},
    {"journal=", parseJournal, nullptr, 0},
    {"tag=", parseTags, nullptr, 0},
    {"alert=", parseAlert, nullptr, 0},
    {"qzucondebug", setDebug, nullptr, 0},
    {"qzuconwrite ", writeIniTo, nullptr, 0},
    {"qzuconlog ", setLogName, nullptr, 0},
};

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

void parseInput(const char* token) {
  const char* p = skipBlanks(token);
  if (*p == 0 || *p == ';') return;
  for (const configWord& w : kConfigWords) {
    const char* value = skipWordNoCase(p, w.word);
    if (value == nullptr) continue;
    w.apply(value, w.dest, w.limit);
    return;
  }
  showHelp();
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
  static const char* const kLines[] = {
      "QZUCON Help\n",
      " ini=[ini filename] (@ command line only)\n",
      " myaddr=[my ip:port]\n",
      " qzuconactive [server ip:port]\n",
      " qzuconwrite [filename] (writes ini file)\n",
      " qzuconlog [log filename]\n",
      " qzucondebug (to toggle debug mode)\n",
      " qzuconexit (to exit console)\n",
  };
  for (const char* line : kLines) fputs(line, stdout);
  fflush(stdout);
}
