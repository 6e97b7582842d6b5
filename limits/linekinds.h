// The kinds of log line that anybody who can reach the console's sockets can
// cause, each bounded per second on its own (app/bounded.h). This table is
// the only place that holds their texts: both the line and the summary of
// the lines held back are printed from it.
//
// One row per kind: X(name, scope, priority, event, quoted, rest)
//   scope   kAboutAnyone: one limit for the kind; kAboutServer: one limit per
//           configured server, kept in its record
//   priority, event  what the line is in the journal (app/journalentry.h)
//   quoted  the line's printf format up to and with the peer's %s: what the
//           summary quotes, without a leading "**", with "..." for the peer
//           (kAboutAnyone) or the server's address (kAboutServer)
//   rest    the rest of the line's format: its other values and the "\n"
#ifndef QZUCON_LIMITS_LINEKINDS_H_
#define QZUCON_LIMITS_LINEKINDS_H_

#define QZUCON_BOUNDED_LINES(X)                                                                  \
  X(kUnknownSender, kAboutAnyone, kPrioWarning, kEventNone,                                      \
    "**Ignoring packet from %s - unknown source address / header", "\n")                         \
  X(kTcpDenied, kAboutAnyone, kPrioWarning, kEventNone, "TCP Connection Request Denied from %s", \
    "\n")                                                                                        \
  X(kTcpBusy, kAboutAnyone, kPrioWarning, kEventNone,                                            \
    "TCP Local Connection Request Denied: TCP Socket already open", "\n")                        \
  X(kTcpOtherUser, kAboutAnyone, kPrioWarning, kEventNone,                                       \
    "**Refused local TCP input from %s: another user", "\n")                                     \
  X(kTcpUnverified, kAboutAnyone, kPrioWarning, kEventNone,                                      \
    "**Refused local TCP input from %s: sender could not be verified", "\n")                     \
  X(kUdpOtherUser, kAboutAnyone, kPrioWarning, kEventNone,                                       \
    "**Refused local UDP input from %s: another user", "\n")                                     \
  X(kUdpUnverified, kAboutAnyone, kPrioWarning, kEventNone,                                      \
    "**Refused local UDP input from %s: sender could not be verified", "\n")                     \
  X(kShortPacket, kAboutServer, kPrioWarning, kEventNone, "**Ignoring short packet from %s",     \
    " [%s]\n")                                                                                   \
  X(kNewChallenge, kAboutServer, kPrioNotice, kEventChallenge,                                   \
    "Received Server Challenge from %s", ", was=%02x%02x%02x%02x, now=%02x%02x%02x%02x\n")       \
  X(kPortUnreachable, kAboutServer, kPrioWarning, kEventUnreachable, "**Server %s unreachable",  \
    ": port unreachable, reported by %s\n")                                                      \
  X(kAnswerAgain, kAboutServer, kPrioNotice, kEventAnswerAgain, "**Answer again from %s", "\n")  \
  X(kCtlOtherUser, kAboutAnyone, kPrioWarning, kEventNone,                                       \
    "**Refused control connection from user %s: another user", "\n")                             \
  X(kCtlUnverified, kAboutAnyone, kPrioWarning, kEventNone,                                      \
    "**Refused control connection: its user could not be verified", "\n")

enum lineScope { kAboutAnyone, kAboutServer };

#define QZUCON_LINE_KIND_NAME(name, scope, priority, event, quoted, rest) name,
enum lineKind { QZUCON_BOUNDED_LINES(QZUCON_LINE_KIND_NAME) kLineKinds };
#undef QZUCON_LINE_KIND_NAME

#define QZUCON_LINE_KIND_SCOPE(name, scope, priority, event, quoted, rest) scope,
constexpr lineScope kLineScopes[kLineKinds] = {QZUCON_BOUNDED_LINES(QZUCON_LINE_KIND_SCOPE)};
#undef QZUCON_LINE_KIND_SCOPE

// Where a kind's limit sits among those of its scope: the kinds of one scope
// are numbered 0, 1, ... in table order.
constexpr int lineSlot(lineKind kind) {
  int slot = 0;
  for (int k = 0; k < kind; k++) slot += kLineScopes[k] == kLineScopes[kind] ? 1 : 0;
  return slot;
}

constexpr int linesInScope(lineScope scope) {
  int n = 0;
  for (lineScope s : kLineScopes) n += s == scope ? 1 : 0;
  return n;
}

// The limits a server record keeps, one per kind about a server.
constexpr int kServerLineKinds = linesInScope(kAboutServer);

#endif  // QZUCON_LIMITS_LINEKINDS_H_
