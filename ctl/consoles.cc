// The running consoles of this user: list, and the choice of the one to talk
// to.
#include "ctl/consoles.h"

#include <cstdio>
#include <cstring>

#include "ctl/answer.h"
#include "ctl/ctlout.h"
#include "ctl/fleetout.h"
#include "ctlproto/words.h"
#include "runtime/clock.h"
#include "runtime/text.h"

int noConsole() {
  fprintf(stderr, "qzuconctl: no running console of this user found; is one running?\n");
  return kCtlError;
}

namespace {

// What list knows of one console before its servers: its socket, own
// address and name.
struct listedConsole {
  const char* socket;
  char myaddr[kCtlLineSize] = "";
  char name[kCtlLineSize] = "";
  bool shown = false;  // its text line is begun
};

// One server of list --json: its console, state and tags.
void listJson(const listedConsole& k, const char* server) {
  char line[kCtlLineSize];
  strzcpy(line, server, sizeof line - 1);
  ctlParts p;
  const char* state = strrchr(line, ' ');
  if (state) {
    strzcpy(p.state, state + 1, sizeof p.state - 1);
    line[state - line] = 0;
  }
  strzcpy(p.server, line, sizeof p.server - 1);
  p.kind = "list";
  p.socket = k.socket;
  p.myaddr = k.myaddr;
  p.console = k.name;
  static char json[6 * kCtlLineSize + 1024];
  if (ctlJson(p, fleetTagsOf(p.server), trWallMs(), json, sizeof json) > 0) print(json);
}

// The start of a console's text line: "NAME: SOCKET ADDRESS" (a console
// that tells no name, "SOCKET ADDRESS").
void listHead(listedConsole* k) {
  if (k->shown) return;
  k->shown = true;
  printf("%s%s%s %s", k->name, k->name[0] ? ": " : "", k->socket, k->myaddr);
}

}  // namespace

// One line per console: its name, socket, own address and servers, each
// with its tags in brackets when it has any; or with --json one object per
// server.
int listConsoles(const ctlArgs& a) {
  ctlFound found;
  if (a.socket) {
    // The one console named: a service's, say, that this user's group may read.
    strzcpy(found.paths[found.count++], a.socket, kCtlPathSize - 1);
  } else {
    findConsoles(&found);
  }
  if (found.count == 0) return noConsole();
  for (int i = 0; i < found.count; i++) {
    ctlConn c;
    if (!c.open(found.paths[i], a.socket == nullptr, a.socket != nullptr)) {
      if (a.socket) return kCtlError;  // said by open
      continue;
    }
    fleetForgetTags();
    fetchTags(&c);
    if (!c.request("%s", kReqServers)) continue;
    char line[kCtlLineSize];
    static listedConsole k;
    k = listedConsole();
    k.socket = found.paths[i];
    while (c.readLine(line, sizeof line, 5000) == 1 && answerKindOf(line) != kAnswerOk) {
      const char* rest = nullptr;
      if ((rest = afterWord(line, kAnsMyaddr)) != nullptr)
        strzcpy(k.myaddr, rest, kCtlLineSize - 1);
      if ((rest = afterWord(line, kAnsName)) != nullptr) strzcpy(k.name, rest, kCtlLineSize - 1);
      if ((rest = afterWord(line, kAnsServer)) == nullptr) continue;
      if (a.json) {
        listJson(k, rest);
        continue;
      }
      listHead(&k);
      int n = static_cast<int>(strcspn(rest, " "));
      char addr[256];
      strzcpy(addr, rest, n < 255 ? n : 255);
      const char* tags = fleetTagsOf(addr);
      printf(" %s%s%s%s", addr, tags[0] ? "[" : "", tags, tags[0] ? "]" : "");
    }
    if (!a.json) {
      listHead(&k);
      fputc('\n', stdout);
    }
    fflush(stdout);
  }
  return kCtlOk;
}

// The socket to use: -S, -p, or the only running console.
bool chooseSocket(const ctlArgs& a, char* path) {
  if (a.socket) {
    strzcpy(path, a.socket, kCtlPathSize - 1);
    return true;
  }
  if (a.port) return portSocket(a.port, path);
  ctlFound found;
  findConsoles(&found);
  if (found.count == 1) {
    memcpy(path, found.paths[0], kCtlPathSize);
    return true;
  }
  if (found.count == 0) {
    noConsole();
  } else {
    fprintf(stderr, "qzuconctl: %d consoles are running; choose one with -p or -S:\n", found.count);
    for (int i = 0; i < found.count; i++) fprintf(stderr, "  %s\n", found.paths[i]);
  }
  return false;
}
