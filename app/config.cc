// Reading and writing the configuration tokens.
#include "app/config.h"

#include <cstdio>
#include <cstring>

#include "app/globals.h"
#include "app/log.h"
#include "runtime/bfc.h"
#include "runtime/text.h"

namespace {

const char* skipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') p++;
  return p;
}

// Keywords that store a value into a text, with their character limits.
struct textKey {
  const char* word;
  char* dest;
  int limit;
};

const textKey kTextKeys[] = {
    {"ini=", g_inifn, kNameChars},
    {"myaddr=", g_myaddr, kNameChars},
    {"login=", g_tempServer.login, 32},
    {"password=", g_tempServer.password, 64},
};

bool parseTextKey(const char* p) {
  for (const textKey& k : kTextKeys) {
    if (!startsWithNoCase(p, k.word)) continue;
    mystrzcpy(k.dest, p + strlen(k.word), k.limit);
    return true;
  }
  return false;
}

}  // namespace

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
  if (startsWithNoCase(p, "server=")) {
    commitPendingServer();
    mystrzcpy(g_tempServer.address, p + 7, kNameChars);
    return;
  }
  if (parseTextKey(p)) return;
  if (startsWithNoCase(p, "TCPlistenport=")) {
    g_TCPlistenport = atoul(skipBlanks(p + 14));
  } else if (startsWithNoCase(p, "UDPlistenport=")) {
    g_UDPlistenport = atoul(skipBlanks(p + 14));
  } else if (startsWithNoCase(p, "qzucondebug")) {
    g_debug = 1;
  } else if (startsWithNoCase(p, "qzuconwrite ")) {
    writeini(p + 11);
  } else if (startsWithNoCase(p, "qzuconlog ")) {
    mystrzcpy(g_logfn, p + 10, kNameChars);
    strim(g_logfn, " \t");
  } else {
    showHelp();
  }
}

void writeini(const char* name) {
  while (*name == ' ') name++;
  if (*name == 0) name = "qzucon.ini";
  bfc file("wb", "%s", name);
  file.setNewFileMode(0600);  // the file holds passwords in clear text
  if (!file.open()) {
    log("ERROR: Unable to write configuration file: %s\n", name);
    return;
  }
  file.wrtf("qzuconlog %s\n", g_logfn);
  if (g_TCPlistenport) file.wrtf("TCPlistenPort=%ld\n", static_cast<long>(g_TCPlistenport));
  if (g_UDPlistenport) file.wrtf("UDPlistenPort=%ld\n", static_cast<long>(g_UDPlistenport));
  file.wrtf("myaddr=%s\n", g_myaddr);
  file.wrtf(";List of Servers\n");
  for (int i = 0; i < flServer.nodes(); i++) {
    const serverRec* s = serverAt(i);
    file.wrtf("server=%s\nlogin=%s\npassword=%s\n\n", s->address, s->login, s->password);
  }
  if (file.close()) {
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
