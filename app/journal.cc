// The journal copy of the log: deciding whether there is a journal, the
// pass's entries, sending them without waiting, and counting what was lost.
#include "app/journal.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "app/globals.h"
#include "app/log.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/sock.h"
#include "runtime/text.h"
#include "runtime/unixsock.h"

journalState g_journal;
uint64_t g_journalDropped;

namespace {

// journald's queue, not ours, is what a burst fills; a larger buffer lets a
// pass's burst wait in the kernel rather than be lost.
constexpr int kJournalSndbuf = 8 << 20;

bool descriptorIsJournal(int fd) {
  unsigned long long dev = 0, ino = 0;
  return trFdIdentity(fd, &dev, &ino) == 0 && journalStreamIs(trEnv("JOURNAL_STREAM"), dev, ino);
}

// A journal restarted or gone: the socket is connected again, at most once a
// second, so that a missing journal costs no call per pass.
bool connectJournal(time_t now) {
  journalState& j = g_journal;
  j.triedAt = now;
  j.connected = trUnixConnect(j.fd, kJournalSocket) == 0;
  if (!j.connected) j.lastError = trLastError();
  return j.connected;
}

void countDropped(int n, int err) {
  g_journalDropped += static_cast<uint64_t>(n);
  g_journal.unreported += static_cast<uint64_t>(n);
  g_journal.lastError = err;
}

// What the entry says besides its text, from the line's record.
journalTags tagsOf(const line& l) {
  journalTags t;
  t.kind = l.kind;
  t.priority = l.priority;
  t.event = l.event;
  t.source = l.source;
  t.uid = l.uid;
  t.user = l.user;
  t.server = l.server ? l.server->ipPort : nullptr;
  t.tags = l.server ? l.server->tags : nullptr;
  t.own = l.own;
  t.alerts = l.alerts;
  t.alertCount = l.alertCount;
  t.console = g_consoleLabel;
  return t;
}

// At start-up only, within its budget: waits a little for journald's queue.
bool waitAtStart() {
  journalState& j = g_journal;
  if (j.running || j.startWaitedMs >= kJournalStartWaitMs) return false;
  uint32_t from = trMonoMs();
  int ready = trWaitWritable(j.fd, static_cast<unsigned>(kJournalStartWaitMs - j.startWaitedMs));
  j.startWaitedMs += static_cast<int>(trMonoMs() - from);
  return ready == 1;
}

// Sends n entries with one call per run the kernel takes; the rest of a run
// that stopped short are counted lost, never kept for another try.
void sendEntries(mmsghdr* msgs, int n) {
  journalState& j = g_journal;
  int done = 0;
  while (done < n) {
    int sent = trSendBatch(j.fd, msgs + done, static_cast<unsigned>(n - done));
    if (sent > 0) {
      done += sent;
      continue;
    }
    int err = trLastError();
    if (err == EAGAIN && waitAtStart()) continue;
    if (err == EMSGSIZE) {  // an entry larger than a datagram: that one alone
      countDropped(1, err);
      done++;
      continue;
    }
    countDropped(n - done, err);
    // Not connected or no one listening: reached again at the next second.
    if (err != EAGAIN && err != ENOBUFS) j.connected = false;
    return;
  }
}

}  // namespace

void startJournal() {
  journalState& j = g_journal;
  bool stderrIsJournal = descriptorIsJournal(2);
  if (j.mode == kJournalOff || (j.mode == kJournalAuto && !stderrIsJournal)) return;
  j.fd = trUnixDgramSocket();
  if (j.fd >= 0) trSndbuf(j.fd, kJournalSndbuf);
  if (j.fd < 0 || !connectJournal(trTime())) {
    int err = j.fd < 0 ? trLastError() : j.lastError;
    if (j.fd >= 0) trClosesocket(j.fd);
    j.fd = -1;
    if (j.mode == kJournalOn) {
      log("**No journal at %s (%s): lines go to the screen and the log files only\n",
          kJournalSocket, trErrorText(err));
    }
    return;
  }
  // Under a unit whose output goes to the journal the screen copy would be
  // every line a second time, as plain text without its fields.
  j.screenIsJournal = descriptorIsJournal(1);
}

void resetJournal() {
  journalState& j = g_journal;
  if (j.fd >= 0) trClosesocket(j.fd);
  j.mode = kJournalAuto;
  j.fd = -1;
  j.screenIsJournal = j.connected = j.reported = j.reportedGone = j.running = false;
  j.startWaitedMs = 0;
  j.entries = j.bytes = 0;
  j.unreported = 0;
  j.lastError = 0;
  j.reportedAt = j.triedAt = 0;
  g_journalDropped = 0;
}

void journalRunning() { g_journal.running = true; }

bool journalOn() { return g_journal.fd >= 0; }

void journalModeChanged(journalMode mode) {
  journalState& j = g_journal;
  if (mode == j.mode) return;
  if (j.fd >= 0) {
    sendJournal();
    trClosesocket(j.fd);
  }
  j.fd = -1;
  j.connected = j.screenIsJournal = false;
  j.mode = mode;
  startJournal();
}

void journalTake(const line& l) {
  journalState& j = g_journal;
  if (j.fd < 0) return;
  if (j.entries == kJournalBatch || kJournalBytes - j.bytes < kJournalEntryChars) sendJournal();
  int n = journalEntry(l.text, l.len, tagsOf(l), j.text + j.bytes, kJournalEntryChars);
  if (n == 0) {
    countDropped(1, EMSGSIZE);
    return;
  }
  j.off[j.entries] = j.bytes;
  j.len[j.entries++] = n;
  j.bytes += n;
}

void sendJournal() {
  journalState& j = g_journal;
  if (j.entries == 0) return;
  int n = j.entries;
  j.entries = j.bytes = 0;
  time_t now = trTime();
  if (!j.connected && (now == j.triedAt || !connectJournal(now))) {
    countDropped(n, j.lastError);
    return;
  }
  static iovec iov[kJournalBatch];
  static mmsghdr msgs[kJournalBatch];
  for (int i = 0; i < n; i++) {
    iov[i].iov_base = j.text + j.off[i];
    iov[i].iov_len = static_cast<size_t>(j.len[i]);
    memset(&msgs[i], 0, sizeof msgs[i]);
    msgs[i].msg_hdr.msg_iov = &iov[i];
    msgs[i].msg_hdr.msg_iovlen = 1;
  }
  sendEntries(msgs, n);
}

void reportJournalDrops(uint32_t mono, bool force) {
  journalState& j = g_journal;
  if (j.unreported == 0) return;
  // A full queue and a journal gone are two stories: the change is told at
  // once, the same story again only after the quiet time.
  bool gone = j.lastError != EAGAIN && j.lastError != ENOBUFS;
  bool back = j.reportedGone && j.connected;  // what it missed while gone, told at once
  bool news = !j.reported || gone != j.reportedGone || back;
  if (!force && !news && mono - j.reportedAt < kJournalQuietSecs * 1000u) return;
  unsigned long long n = j.unreported;
  j.unreported = 0;
  j.reported = true;
  j.reportedGone = gone && !j.connected;
  j.reportedAt = mono;
  logAbout(nullptr, kPrioWarning, kEventNone,
           "**%llu lines did not reach the journal (%s); the log files have every line\n", n,
           trErrorText(j.lastError));
}

void journalEnding(int servers) {
  if (!journalOn()) return;
  char msg[96];
  line l;
  l.len = trf(msg, sizeof msg, "Console ending: exit notices sent to %d servers", servers);
  l.text = msg;
  l.event = kEventEnding;
  journalTake(l);
  sendJournal();
}
