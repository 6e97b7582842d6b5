// Who besides the console's owner may use the control socket, and what for:
// the members of one Unix group ("controlgroup=GROUP") may connect, and may
// read (status, servers, tags, metrics, follow, top); "allow=WHO:REGEX" rules
// (WHO a user or "@group") let them send the commands that match to the
// servers. Everything else stays the owner's (and root's). A member's every
// request is on record: a screen line, a journal entry naming the user, and
// a count per user and result for the metrics.
//
// The decisions are pure (ctlRoleOf, allowRuleFor, ctlGroupPathProblem) so
// that table tests reach them; the database lookups behind them are
// runtime/groups.h's, done for every connection, never cached.
#ifndef QZUCON_APP_CTLACCESS_H_
#define QZUCON_APP_CTLACCESS_H_

#include <cstdint>

#include "runtime/groups.h"
#include "fleet/pattern.h"
#include "runtime/unixsock.h"

constexpr int kAllowMax = 64;     // allow= rules at most
constexpr int kCtlUsersMax = 64;  // users counted by name; later ones as kCtlOtherUsers
constexpr char kCtlOtherUsers[] = "(others)";

// What a request needs of its sender: a column of the request table.
enum ctlRight {
  kRightRead,   // looks: any member
  kRightSend,   // a command to servers: a member with an allow= rule matching it
  kRightOwner,  // runs the console: its owner and root alone
};

enum ctlRole { kRoleNone, kRoleMember, kRoleOwner };

// The role of the peer uid of a connection to a console run by ownUid: the
// owner (or root), a member when the group is set (groupSet) and gid is among
// the peer's groups (n of them), else none.
ctlRole ctlRoleOf(unsigned peerUid, unsigned ownUid, bool groupSet, unsigned gid,
                  const unsigned* groups, int n);

struct allowRule {
  bool group = false;                   // WHO is "@GROUP"
  char who[kUserNameChars + 1] = {};    // the name, without its '@'
  unsigned id = 0;                      // the user's or group's id
  char source[kPatternChars + 1] = {};  // REGEX as given
  pattern pat;
};

// Splits "WHO:REGEX" into rule's group, who and source (nothing resolved or
// compiled). False with the reason in why when the text is no such rule.
bool allowSplit(const char* text, allowRule* rule, char* why, int whySize);

// The first of the n rules that lets user uid, in the given groups, send
// command: its index, or -1 when none does.
int allowRuleFor(const allowRule* rules, int n, unsigned uid, const unsigned* groups, int ngroups,
                 const char* command);

// Why the socket at path cannot serve group gid, or null when it can. dirs
// holds what lstat said of each folder on the way, from "/" to the socket's
// own folder (count of them); ownUid is the console's user. The own folder
// must be the console user's or root's, and nobody but its owner may write
// in it (another could put a socket of their own in the console's place);
// every folder must let the group pass (its group bits when it is the
// group's, else its bits for others). why is written into whySize bytes.
const char* ctlGroupPathProblem(const trPathInfo* dirs, const char* const* names, int count,
                                unsigned gid, unsigned ownUid, char* why, int whySize);

// The requests of one user, allowed and denied.
struct ctlUserCount {
  char user[kUserNameChars + 1];
  uint64_t ok, denied;
};

// The access settings and the per-user counts, in g_ctlAccess.
struct ctlAccess {
  char group[kUserNameChars + 1] = {};  // controlgroup=; empty: owner only
  bool groupKnown = false;              // the group exists: gid is its id
  unsigned gid = 0;
  allowRule rules[kAllowMax];
  int ruleCount = 0;
  ctlUserCount users[kCtlUsersMax + 1] = {};  // the last row counts the users past the table
  int userCount = 0;
};
extern ctlAccess g_ctlAccess;

// "controlgroup=GROUP" into a: false when the group does not exist (the
// socket is then not opened), with the line that says so in why.
// "allow=WHO:REGEX" into a: false when WHO's user or group does not exist or
// the pattern is bad, the rule left out, with the line in why. value as
// written; why holds whySize bytes.
bool parseControlGroup(ctlAccess* a, const char* value, char* why, int whySize);
bool parseAllow(ctlAccess* a, const char* value, char* why, int whySize);
// A configuration read again: its allow= rules take the place of a's at once
// (from's are moved, from is left without rules); the group stays as the
// socket was made.
void takeAllowRules(ctlAccess* a, ctlAccess* from);
// Releases what a's rules hold.
void freeAllowRules(ctlAccess* a);

// The peer's role and, for anyone but the owner, its user name into user
// (kUserNameChars + 1 bytes; the owner's is looked up once) and its groups
// into groups/ngroups (kUserGroupsMax). Looks the database up now.
ctlRole ctlPeerRole(unsigned uid, char* user, unsigned* groups, int* ngroups);

// Counts one control request of user, allowed or not.
void countCtlRequest(const char* user, bool ok);

// Puts a member's request on record: one line (screen, file, journal with
// QZUCON_USER, QZUCON_UID and QZUCON_SOURCE=control) and its count. denied
// is the refusal's reason, null when the request runs.
void recordMemberRequest(const char* user, unsigned uid, const char* request, const char* denied);

// Program-start state: no group, no rules, no counts.
void resetCtlAccess();

#endif  // QZUCON_APP_CTLACCESS_H_
