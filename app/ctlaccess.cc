// The control socket's group, its allow= rules and the record of members.
#include "app/ctlaccess.h"

#include <cstring>

#include "app/globals.h"
#include "app/journal.h"
#include "app/log.h"
#include "runtime/files.h"
#include "runtime/text.h"

ctlAccess g_ctlAccess;

namespace {

const char* skipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') p++;
  return p;
}

bool hasGroup(const unsigned* groups, int n, unsigned gid) {
  for (int i = 0; i < n; i++) {
    if (groups[i] == gid) return true;
  }
  return false;
}

// Whether a folder lets group gid pass (search): through its group bits
// when the folder is the group's, else through those for others.
bool groupPasses(const trPathInfo& d, unsigned gid) {
  return d.gid == gid ? (d.mode & 010) != 0 : (d.mode & 001) != 0;
}

char ownName[kUserNameChars + 1];  // the console's user, looked up once
bool ownNameKnown = false;

}  // namespace

ctlRole ctlRoleOf(unsigned peerUid, unsigned ownUid, bool groupSet, unsigned gid,
                  const unsigned* groups, int n) {
  if (peerUid == ownUid || peerUid == 0) return kRoleOwner;
  return groupSet && hasGroup(groups, n, gid) ? kRoleMember : kRoleNone;
}

bool allowSplit(const char* text, allowRule* rule, char* why, int whySize) {
  text = skipBlanks(text);
  const char* colon = strchr(text, ':');
  bool group = *text == '@';
  const char* who = group ? text + 1 : text;
  int len = colon ? static_cast<int>(colon - who) : 0;
  if (!colon || len <= 0) {
    trf(why, whySize, "it is not WHO:REGEX (WHO a user or @group)");
    return false;
  }
  if (len > kUserNameChars) {
    trf(why, whySize, "the name is longer than %d characters", kUserNameChars);
    return false;
  }
  if (colon[1] == 0) {
    trf(why, whySize, "the pattern is empty");
    return false;
  }
  rule->group = group;
  strzcpy(rule->who, who, len);
  strzcpy(rule->source, colon + 1, kPatternChars);
  if (strlen(colon + 1) > static_cast<size_t>(kPatternChars)) {
    trf(why, whySize, "the pattern is longer than %d characters", kPatternChars);
    return false;
  }
  return true;
}

int allowRuleFor(const allowRule* rules, int n, unsigned uid, const unsigned* groups, int ngroups,
                 const char* command) {
  for (int i = 0; i < n; i++) {
    const allowRule& r = rules[i];
    bool his = r.group ? hasGroup(groups, ngroups, r.id) : r.id == uid;
    if (his && patternMatch(&r.pat, command)) return i;
  }
  return -1;
}

const char* ctlGroupPathProblem(const trPathInfo* dirs, const char* const* names, int count,
                                unsigned gid, unsigned ownUid, char* why, int whySize) {
  if (count <= 0) return nullptr;
  const trPathInfo& own = dirs[count - 1];
  const char* ownDir = names[count - 1];
  if (own.kind != kPathDir) {
    trf(why, whySize, "%s is not a folder", ownDir);
  } else if (own.uid != ownUid && own.uid != 0) {
    trf(why, whySize, "the folder %s belongs to another user", ownDir);
  } else if ((own.mode & 022) != 0) {
    trf(why, whySize, "others may write in the folder %s (make it mode 0750)", ownDir);
  } else {
    for (int i = 0; i < count; i++) {
      if (dirs[i].kind == kPathDir && groupPasses(dirs[i], gid)) continue;
      trf(why, whySize, "the group cannot reach the socket: %s is closed to it", names[i]);
      return why;
    }
    return nullptr;
  }
  return why;
}

bool parseControlGroup(ctlAccess* a, const char* value, char* why, int whySize) {
  strzcpy(a->group, skipBlanks(value), kUserNameChars);
  strim(a->group, " \t");
  a->groupKnown = false;
  if (a->group[0] == 0) return true;
  int rc = trGroupId(a->group, &a->gid);
  a->groupKnown = rc == 0;
  if (rc == 0) return true;
  trf(why, whySize, "controlgroup=%s: %s", a->group,
      rc > 0 ? "no such group" : trErrorText(trLastError()));
  return false;
}

bool parseAllow(ctlAccess* a, const char* value, char* why, int whySize) {
  const char* text = skipBlanks(value);
  char reason[200];
  if (a->ruleCount == kAllowMax) {
    trf(why, whySize, "Bad allow \"%.300s\": more than %d rules", text, kAllowMax);
    return false;
  }
  allowRule& r = a->rules[a->ruleCount];
  patternFree(&r.pat);
  r = allowRule();
  if (!allowSplit(value, &r, reason, sizeof reason)) {
    trf(why, whySize, "Bad allow \"%.300s\": %s", text, reason);
    return false;
  }
  int rc = r.group ? trGroupId(r.who, &r.id) : trUserId(r.who, &r.id);
  if (rc != 0) {
    trf(why, whySize, "Bad allow \"%.300s\": %s%s: %s", text, r.group ? "@" : "", r.who,
        rc > 0 ? (r.group ? "no such group" : "no such user") : trErrorText(trLastError()));
    return false;
  }
  if (!patternCompile(&r.pat, r.source, reason, sizeof reason)) {
    trf(why, whySize, "Bad allow \"%.300s\": %s", text, reason);
    return false;
  }
  a->ruleCount++;
  return true;
}

void freeAllowRules(ctlAccess* a) {
  for (int i = 0; i < kAllowMax; i++) patternFree(&a->rules[i].pat);
  a->ruleCount = 0;
}

void takeAllowRules(ctlAccess* a, ctlAccess* from) {
  freeAllowRules(a);
  for (int i = 0; i < from->ruleCount; i++) {
    a->rules[i] = from->rules[i];  // the compiled pattern moves with it
    from->rules[i].pat = pattern();
  }
  a->ruleCount = from->ruleCount;
  from->ruleCount = 0;
}

ctlRole ctlPeerRole(unsigned uid, char* user, unsigned* groups, int* ngroups) {
  *ngroups = 0;
  unsigned own = trUid();
  unsigned primary = 0;
  if (uid == own && ownNameKnown) {
    strzcpy(user, ownName, kUserNameChars);
    return kRoleOwner;
  }
  int rc = trUserOf(uid, user, &primary);
  if (rc != 0) trf(user, kUserNameChars + 1, "%u", uid);  // a uid the database does not know
  if (uid == own) {
    strzcpy(ownName, user, kUserNameChars);
    ownNameKnown = true;
  }
  const ctlAccess& a = g_ctlAccess;
  if (rc == 0 && uid != own && uid != 0 && a.groupKnown) {
    int n = trUserGroups(user, primary, groups, kUserGroupsMax);
    *ngroups = n > 0 ? n : 0;
  }
  return ctlRoleOf(uid, own, a.groupKnown, a.gid, groups, *ngroups);
}

void countCtlRequest(const char* user, bool ok) {
  ctlAccess& a = g_ctlAccess;
  int i = 0;
  while (i < a.userCount && strcmp(a.users[i].user, user) != 0) i++;
  if (i == a.userCount) {
    if (a.userCount < kCtlUsersMax) {
      strzcpy(a.users[a.userCount++].user, user, kUserNameChars);
    } else {
      i = kCtlUsersMax;
      strzcpy(a.users[i].user, kCtlOtherUsers, kUserNameChars);
    }
  }
  (ok ? a.users[i].ok : a.users[i].denied)++;
}

void recordMemberRequest(const char* user, unsigned uid, const char* request, const char* denied) {
  // The request is the member's text: no byte of it may drive a terminal.
  char shown[301];
  strzcpy(shown, request, sizeof shown - 1);
  for (char* p = shown; *p; p++) {
    unsigned char b = static_cast<unsigned char>(*p);
    if (b < 32 || b == 127) *p = '?';
  }
  line l;
  l.kind = kJournalCommand;
  l.source = kSourceControl;
  l.uid = uid;
  l.user = user;
  if (denied) {
    logRecord(l, "Control: %s (uid %u) denied: %s: %s\n", user, uid, shown, denied);
  } else {
    logRecord(l, "Control: %s (uid %u): %s\n", user, uid, shown);
  }
  countCtlRequest(user, denied == nullptr);
}

void resetCtlAccess() {
  ctlAccess& a = g_ctlAccess;
  freeAllowRules(&a);
  a.group[0] = 0;
  a.groupKnown = false;
  a.gid = 0;
  a.ruleCount = 0;
  a.userCount = 0;
  memset(a.users, 0, sizeof a.users);
  ownNameKnown = false;
}
