// One journal entry in journald's native datagram form, made from a log
// line and what the line is (its server, kind, priority, event, and for a
// command who sent it). Pure: no system call, no global; app/journal.cc sends
// what it makes.
#ifndef QZUCON_APP_JOURNALENTRY_H_
#define QZUCON_APP_JOURNALENTRY_H_

#include <cstdint>

// Syslog levels, as PRIORITY= carries them.
constexpr int kPrioError = 3;
constexpr int kPrioWarning = 4;
constexpr int kPrioNotice = 5;
constexpr int kPrioInfo = 6;

enum journalKind { kJournalServer, kJournalConsole, kJournalCommand };

// Where a command came from (QZUCON_SOURCE=); kSourceNone for other lines.
enum journalSource {
  kSourceNone,
  kSourceKeyboard,
  kSourceTcp,
  kSourceUdp,
  kSourceControl,
  kSourceTrigger,  // an on= trigger's command
};

// The events worth finding across a fleet, each with a fixed MESSAGE_ID.
enum journalEvent {
  kEventNone,
  kEventChallenge,    // a server brought a new challenge
  kEventConfirmed,    // a session shown to work by what came back
  kEventMismatch,     // a server's text does not unscramble
  kEventNoAnswer,     // a server stays silent after the console's packets
  kEventAnswerAgain,  // a silent server is heard again
  kEventStarted,      // the console is active
  kEventEnding,       // the console sends its exit notices and ends
  kEventUnreachable,  // a server's port is closed, or a command to it went unanswered
  kJournalEvents
};

// The 32 hex digits of an event's MESSAGE_ID; null for kEventNone.
const char* journalMessageId(journalEvent event);

// What one entry says besides its text.
struct journalTags {
  journalKind kind = kJournalConsole;
  int priority = kPrioNotice;
  const char* server = nullptr;  // QZUCON_SERVER=, when the line is from or about one
  // A server line's own text, before the screen made it printable: MESSAGE is
  // then "SERVER ->TEXT", as qzuconctl follow prints it. Null: the message
  // as log has it (a server line then still begins with its server).
  const char* own = nullptr;
  const char* console = nullptr;  // QZUCON_CONSOLE=, the console's name
  journalEvent event = kEventNone;
  journalSource source = kSourceNone;  // for a command
  long uid = -1;                       // for a command through the control socket
  const char* tags = nullptr;  // QZUCON_TAGS=, the server's tags joined by commas
  // QZUCON_ALERT=, once for each alert rule a server line matched (every
  // one: at most the rules there are).
  const char* const* alerts = nullptr;
  int alertCount = 0;
};

// Writes the entry for the message text of len bytes (one trailing line end
// is dropped) into out, at most room bytes: MESSAGE, PRIORITY,
// SYSLOG_IDENTIFIER=qzucon, QZUCON_KIND and the tags that apply. Every
// value is valid UTF-8 (utf8Clean), so that readers show it as text. A value
// holding a line end goes in the binary form (name, line end, 64-bit
// little-endian length, value). Returns the length, or 0 when the entry does
// not fit: an entry is never cut.
int journalEntry(const char* text, int len, const journalTags& tags, char* out, int room);

// True when a JOURNAL_STREAM value ("<device>:<inode>") names the stream
// with that device and inode: the descriptor is connected to the journal.
bool journalStreamIs(const char* value, unsigned long long dev, unsigned long long ino);

#endif  // QZUCON_APP_JOURNALENTRY_H_
