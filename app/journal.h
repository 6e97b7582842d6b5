// The copy of every log line that goes to the systemd journal, one native
// entry a line, with the line's server, kind, priority and event in fields of
// their own (app/journalentry.h). A pass's entries go out together, without
// waiting: an entry the journal cannot take at once is counted
// (g_journalDropped) and summed up in one line, at once when the journal's
// state changes (its queue full, the journal gone) and then at most every
// kJournalQuietSecs, never kept to be sent again. The screen and the log files
// are written as if there were no journal.
#ifndef QZUCON_APP_JOURNAL_H_
#define QZUCON_APP_JOURNAL_H_

#include <cstdint>
#include <ctime>

#include "app/journalentry.h"

struct serverRec;

constexpr const char* kJournalSocket = "/run/systemd/journal/socket";
constexpr int kJournalBatch = 1024;          // entries held in a pass before they are sent
constexpr int kJournalBytes = 512 << 10;     // their bytes
// One entry: the longest message and its fields, a line that matched every
// alert rule (256 names of 32 characters) included.
constexpr int kJournalEntryChars = 16 << 10;
constexpr int kJournalQuietSecs = 60;        // between two reports of entries not taken
// Before the main loop nothing waits for the console, and a configuration of
// a thousand servers says four thousand lines at once: up to this long in
// all, start-up waits for the journal's queue instead of losing them.
constexpr int kJournalStartWaitMs = 500;

// "journal=": on when standard error is the journal (auto), always, or never.
enum journalMode { kJournalAuto, kJournalOn, kJournalOff };

struct journalState {
  journalMode mode = kJournalAuto;
  int fd = -1;                   // connected to the journal's socket; -1 when off
  bool screenIsJournal = false;  // standard output is the journal: its copy is left out
  journalTags next;              // what the next message is, when tagged
  bool tagged = false;
  int entries = 0, bytes = 0;  // the pass's entries in text
  int off[kJournalBatch], len[kJournalBatch];
  char text[kJournalBytes];
  uint64_t unreported = 0;  // entries not taken since the last report
  int lastError = 0;        // why the last of them was not taken
  bool reported = false;
  bool reportedGone = false;  // the last report was of a journal gone, not of a full queue
  uint32_t reportedAt = 0;    // monotonic ms
  bool connected = false;
  bool running = false;   // the main loop runs: never wait for the journal
  int startWaitedMs = 0;  // of kJournalStartWaitMs
  time_t triedAt = 0;     // the last try to reach the journal
};

// Decides from g_journal.mode and the standard descriptors whether lines go
// to the journal, and connects to it. Said once when "journal=on" finds no
// journal; auto mode without one is quietly off.
void startJournal();
// From here on the journal is never waited for (the main loop starts).
void journalRunning();
// Off, nothing held or counted: program-start state (the setting back to auto).
void resetJournal();
bool journalOn();

// Tags the next message that log takes, for the journal only: the server it
// is about (or null), its priority and event. A message not tagged is a
// server's line when g_lineFrom is set, else the console's (priority 3 for
// "ERROR", 5 otherwise).
void tagNextLine(const serverRec* about, int priority, journalEvent event = kEventNone);
// Tags the next message as a command from source (uid for the control socket,
// else -1; user, when not null, the control user's name), sent to server
// about when not null.
void tagNextCommand(const serverRec* about, journalSource source, long uid,
                    const char* user = nullptr);

// log's side: one message of len bytes into the pass's entries; sendJournal
// sends what the pass holds.
void journalTake(const char* msg, int len);
void sendJournal();

// Once a pass, at the pass's monotonic ms: the line that sums up the entries
// not taken, when there are some and either their cause differs from the
// last report's (a full queue, a journal gone) or that report is
// kJournalQuietSecs old; with force, whenever there are some (at the end).
void reportJournalDrops(uint32_t mono, bool force);

// A journal entry with no screen or file line: the console is ending and has
// sent servers exit notices. Sent at once.
void journalEnding(int servers);
// A journal entry with no screen or file line: server about's text has shown
// its password right (the session is confirmed). Goes out with the pass.
void journalConfirmed(const serverRec* about);

#endif  // QZUCON_APP_JOURNAL_H_
