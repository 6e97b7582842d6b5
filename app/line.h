// One line of the log as every place it goes takes it: the text, and what
// the line is (its server, kind, priority, event, who sent a command, the
// alerts it matched). Made where the line is made; app/log.h's emit hands it
// to each sink in turn. Pure data: no sink's header is needed to make one.
#ifndef QZUCON_APP_LINE_H_
#define QZUCON_APP_LINE_H_

struct serverRec;

// Syslog levels, as the journal's PRIORITY= carries them.
constexpr int kPrioError = 3;
constexpr int kPrioWarning = 4;
constexpr int kPrioNotice = 5;
constexpr int kPrioInfo = 6;

// A server's own line, one of the console's messages, or a command as sent.
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
  kEventReloaded,       // the configuration was read again and applied
  kEventReloadRefused,  // a configuration read again was refused whole
  kJournalEvents
};

struct line {
  // The server the line is from (kJournalServer) or about; null for none.
  const serverRec* server = nullptr;
  journalKind kind = kJournalConsole;
  int priority = kPrioNotice;
  journalEvent event = kEventNone;
  journalSource source = kSourceNone;  // for a command
  long uid = -1;                       // for a command through the control socket
  const char* user = nullptr;          // and the name of that uid's user, when known
  // What the screen and the files show, with its line end: len bytes.
  const char* text = nullptr;
  int len = 0;
  // A server line's text as it came, made printable, without the "->" mark or
  // an added line end: what the alert rules are matched against.
  const char* body = nullptr;
  // That text before it was made printable, for the journal and followers
  // (who take it as UTF-8); null when neither wanted it.
  const char* own = nullptr;
  // In the files (and the journal) only: no screen copy, no followers (a
  // command, which the screen has shown as it was typed).
  bool quiet = false;
  // For the journal alone: no screen, file or follower line.
  bool journalOnly = false;
  // The alert rules the line matched, by name: filled by emit.
  const char* const* alerts = nullptr;
  const int* alertHits = nullptr;  // and by their index in the alert set
  int alertCount = 0;
};

#endif  // QZUCON_APP_LINE_H_
