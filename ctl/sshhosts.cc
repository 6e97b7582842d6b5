// qzuconctl -H's pure part: the host list, quoting for the remote shell,
// the ssh command line and the host in JSON lines.
#include "ctl/sshhosts.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ctl/answer.h"
#include "runtime/text.h"

namespace {

const char kScheme[] = "ssh://";

bool nameChar(char c) {
  return isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

// A name (or user) of n characters: nameChar only, not starting with '-'.
bool plainName(const char* s, int n) {
  if (n == 0 || s[0] == '-') return false;
  for (int i = 0; i < n; i++) {
    if (!nameChar(s[i])) return false;
  }
  return true;
}

bool v6Address(const char* s, int n) {
  if (n == 0) return false;
  for (int i = 0; i < n; i++) {
    if (!isxdigit(static_cast<unsigned char>(s[i])) && s[i] != ':' && s[i] != '.') return false;
  }
  return true;
}

bool fail(char* err, int errSize, const char* what, const char* entry, int n) {
  trf(err, errSize, "%s: %.*s", what, n > 80 ? 80 : n, entry);
  return false;
}

// One entry of n characters (not terminated) into h.
bool parseHost(const char* e, int n, sshHost* h, char* err, int errSize) {
  const char* whole = e;
  int wholeLen = n;
  if (n >= 6 && strncmp(e, kScheme, 6) == 0) {
    e += 6;
    n -= 6;
  }
  *h = sshHost{};
  if (n == 0 || n >= static_cast<int>(sizeof h->shown)) {
    return fail(err, errSize, "not a host", whole, wholeLen);
  }
  strzcpy(h->shown, e, n);
  const char* at = static_cast<const char*>(memchr(e, '@', n));
  if (at) {
    int u = static_cast<int>(at - e);
    if (u > kHostUserChars || !plainName(e, u))
      return fail(err, errSize, "bad user", whole, wholeLen);
    strzcpy(h->user, e, u);
    n -= u + 1;
    e = at + 1;
  }
  int nameLen = n;
  const char* name = e;
  const char* rest = e + n;
  if (n > 0 && e[0] == '[') {
    const char* close = static_cast<const char*>(memchr(e, ']', n));
    if (!close) return fail(err, errSize, "bad host", whole, wholeLen);
    name = e + 1;
    nameLen = static_cast<int>(close - name);
    if (!v6Address(name, nameLen)) return fail(err, errSize, "bad host", whole, wholeLen);
    rest = close + 1;
  } else {
    const char* colon = static_cast<const char*>(memchr(e, ':', n));
    if (colon) nameLen = static_cast<int>(colon - e);
    if (!plainName(name, nameLen)) return fail(err, errSize, "bad host", whole, wholeLen);
    rest = e + nameLen;
  }
  if (nameLen > kHostNameChars) return fail(err, errSize, "bad host", whole, wholeLen);
  strzcpy(h->name, name, nameLen);
  int restLen = static_cast<int>(e + n - rest);
  if (restLen == 0) return true;
  // ":PORT", 1 to 65535, digits only.
  bool port = rest[0] == ':' && restLen >= 2 && restLen <= 6;
  for (int i = 1; port && i < restLen; i++) port = isdigit(static_cast<unsigned char>(rest[i]));
  if (port) {
    strzcpy(h->port, rest + 1, restLen - 1);
    long p = strtol(h->port, nullptr, 10);
    port = p >= 1 && p <= 65535;
  }
  return port || fail(err, errSize, "bad port", whole, wholeLen);
}

}  // namespace

int parseHosts(const char* list, sshHost* hosts, int max, char* err, int errSize) {
  int count = 0;
  const char* p = list;
  for (;;) {
    int n = static_cast<int>(strcspn(p, ","));
    if (count == max) {
      trf(err, errSize, "more than %d hosts", max);
      return -1;
    }
    if (!parseHost(p, n, &hosts[count], err, errSize)) return -1;
    count++;
    if (p[n] == 0) return count;
    p += n + 1;
  }
}

int hostsOfArgs(const ctlArgs& a, const char* env, sshHost* hosts, int max, char* err,
                int errSize) {
  const char* list = a.hosts ? a.hosts : env;
  if (list == nullptr || (a.hosts == nullptr && list[0] == 0)) return 0;
  if (a.command == kCmdTop) {
    trf(err, errSize, "top shows one console: it takes no -H or QZUCON_HOST");
    return -1;
  }
  return parseHosts(list, hosts, max, err, errSize);
}

bool shellQuote(const char* arg, char* out, int size) {
  int n = 0;
  auto put = [&](const char* s) {
    for (; *s; s++) {
      if (n + 1 >= size) return false;
      out[n++] = *s;
    }
    return true;
  };
  bool ok = put("'");
  for (const char* c = arg; ok && *c; c++) {
    char one[2] = {*c, 0};
    ok = put(*c == '\'' ? "'\\''" : one);
  }
  ok = ok && put("'");
  out[ok ? n : 0] = 0;
  return ok;
}

bool remoteCommand(int argc, const char* const* argv, int skip, char* out, int size) {
  // QZUCON_HOST emptied: should the user's ssh pass it on (SendEnv), a host
  // would otherwise run the command over ssh once more.
  int n = trf(out, size, "env QZUCON_HOST= qzuconctl");
  for (int i = 1; i < argc; i++) {
    if (skip > 0 && (i == skip || i == skip + 1)) continue;
    if (n + 2 >= size) return false;
    out[n++] = ' ';
    if (!shellQuote(argv[i], out + n, size - n)) return false;
    n += static_cast<int>(strlen(out + n));
  }
  return true;
}

void sshArgv(const sshHost& h, const char* cmd, const char** argv) {
  int n = 0;
  for (const char* w : {"ssh", "-o", "BatchMode=yes", "-T"}) argv[n++] = w;
  if (h.user[0]) {
    argv[n++] = "-l";
    argv[n++] = h.user;
  }
  if (h.port[0]) {
    argv[n++] = "-p";
    argv[n++] = h.port;
  }
  argv[n++] = "--";
  argv[n++] = h.name;
  argv[n++] = cmd;
  argv[n] = nullptr;
}

void jsonWithHost(const char* line, const char* name, char* out, int size) {
  if (line[0] != '{') {
    trf(out, size, "%s", line);
    return;
  }
  const char* rest = line + 1;
  while (*rest == ' ') rest++;
  trf(out, size, "{\"host\":\"%s\"%s%s", name, *rest == '}' ? "" : ",", rest);
}

void streamAdd(hostStream* s, int n) {
  int end = s->len + n;
  int kept = s->len > 0 && s->buf[s->len - 1] == '\r' ? s->len - 1 : s->len;
  for (int i = kept; i < end; i++) {
    if (!(s->buf[i] == '\r' && i + 1 < end && s->buf[i + 1] == '\n')) s->buf[kept++] = s->buf[i];
  }
  s->len = kept;
}

bool streamLine(hostStream* s, bool ended, char* line, int size) {
  if (takeLine(s->buf, &s->len, sizeof s->buf, line, size)) return true;
  if (!ended || s->len == 0) return false;
  s->buf[s->len++] = '\n';  // room: a full buffer was taken above
  return takeLine(s->buf, &s->len, sizeof s->buf, line, size);
}

int hostStatus(int exitCode) {
  return exitCode >= kCtlOk && exitCode <= kCtlStopped ? exitCode : kCtlError;
}
