// The native journal entry: text fields and the binary form for values with
// line ends.
#include "app/journalentry.h"

#include <cstdlib>
#include <cstring>

#include "runtime/text.h"

namespace {

// Fixed for good: operators keep them in saved searches and alert rules.
const char* const kMessageIds[kJournalEvents] = {
    nullptr,
    "feb98f5fd15447378c21dd60bfb94a4b",  // challenge received
    "28ff4e5e48f645ab80f2be58b0fa37db",  // session confirmed
    "0e4b9dc419634ca69e98ef10a6d76519",  // password mismatch
    "3c66ff63b90f4fc39da72949773c08df",  // no answer
    "115a4caad9c541be8826d815848c793e",  // answer again
    "36356963573f49da8df53abb568d1462",  // console started
    "178ceab5a1394407bdb7c25d0d5cb6dc",  // console ending
    "12ebcacd94214419b6f6e329fac720a4",  // server unreachable
    "790b9ea9a84d4f43896c5ef0f79cbc9b",  // configuration reloaded
    "822cfd1ea77148d7a43b2bd01c35e48e",  // configuration reload refused
};

const char* const kKinds[] = {"server", "console", "command"};
const char* const kSources[] = {nullptr, "keyboard", "tcp", "udp", "control", "trigger"};

// Appends to a bounded buffer; once anything failed to fit, ok stays false.
struct entryOut {
  char* p;
  int len, room;
  bool ok;

  void put(const void* data, int n) {
    if (!ok || n > room - len) {
      ok = false;
      return;
    }
    memcpy(p + len, data, static_cast<size_t>(n));
    len += n;
  }
  void put(const char* s) { put(s, static_cast<int>(strlen(s))); }
};

// A value of up to three pieces, as UTF-8 (utf8Clean); a value with a line
// end in the binary form.
struct piece {
  const char* text;
  int len;
};

void field(entryOut* o, const char* name, const piece* parts, int n) {
  bool lineEnd = false;
  uint64_t size = 0;
  for (int i = 0; i < n; i++) {
    lineEnd = lineEnd || memchr(parts[i].text, '\n', static_cast<size_t>(parts[i].len)) != nullptr;
    size += static_cast<uint64_t>(utf8Clean(parts[i].text, parts[i].len, nullptr, 0));
  }
  o->put(name);
  if (lineEnd) {
    o->put("\n", 1);
    unsigned char bytes[8];
    for (int i = 0; i < 8; i++) bytes[i] = static_cast<unsigned char>(size >> (8 * i));
    o->put(bytes, 8);
  } else {
    o->put("=", 1);
  }
  for (int i = 0; i < n && o->ok; i++) {
    int done = utf8Clean(parts[i].text, parts[i].len, o->p + o->len, o->room - o->len);
    if (done < 0) o->ok = false;
    o->len += done < 0 ? 0 : done;
  }
  o->put("\n", 1);
}

void field(entryOut* o, const char* name, const char* value) {
  piece p = {value, static_cast<int>(strlen(value))};
  field(o, name, &p, 1);
}

}  // namespace

const char* journalMessageId(journalEvent event) {
  return event > kEventNone && event < kJournalEvents ? kMessageIds[event] : nullptr;
}

int journalEntry(const char* text, int len, const journalTags& tags, char* out, int room) {
  if (len > 0 && text[len - 1] == '\n') len--;
  entryOut o = {out, 0, room, true};
  if (tags.kind == kJournalServer && tags.server) {
    // "SERVER ->TEXT": plain journalctl shows whose line it is.
    piece own = tags.own ? piece{tags.own, static_cast<int>(strlen(tags.own))} : piece{text, len};
    if (tags.own && own.len > 0 && own.text[own.len - 1] == '\n') own.len--;
    const piece msg[] = {{tags.server, static_cast<int>(strlen(tags.server))},
                         {tags.own ? " ->" : " ", tags.own ? 3 : 1},
                         own};
    field(&o, "MESSAGE", msg, 3);
  } else {
    piece msg = {text, len};
    field(&o, "MESSAGE", &msg, 1);
  }
  char prio[2] = {static_cast<char>('0' + (tags.priority & 7)), 0};
  field(&o, "PRIORITY", prio);
  field(&o, "SYSLOG_IDENTIFIER", "qzucon");
  field(&o, "QZUCON_KIND", kKinds[tags.kind]);
  if (tags.console && tags.console[0]) field(&o, "QZUCON_CONSOLE", tags.console);
  if (tags.server) field(&o, "QZUCON_SERVER", tags.server);
  if (const char* id = journalMessageId(tags.event)) field(&o, "MESSAGE_ID", id);
  if (tags.source != kSourceNone) field(&o, "QZUCON_SOURCE", kSources[tags.source]);
  if (tags.tags && tags.tags[0]) field(&o, "QZUCON_TAGS", tags.tags);
  for (int i = 0; i < tags.alertCount; i++) field(&o, "QZUCON_ALERT", tags.alerts[i]);
  if (tags.uid >= 0) {
    char uid[24];
    trf(uid, sizeof uid, "%ld", tags.uid);
    field(&o, "QZUCON_UID", uid);
  }
  if (tags.user) field(&o, "QZUCON_USER", tags.user);
  return o.ok ? o.len : 0;
}

bool journalStreamIs(const char* value, unsigned long long dev, unsigned long long ino) {
  if (value == nullptr || *value < '0' || *value > '9') return false;
  char* end = nullptr;
  unsigned long long d = strtoull(value, &end, 10);
  if (*end != ':' || end[1] < '0' || end[1] > '9') return false;
  unsigned long long i = strtoull(end + 1, &end, 10);
  return *end == 0 && d == dev && i == ino;
}
