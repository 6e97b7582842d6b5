// Lookups in the user and group database.
#include "runtime/groups.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Room for one record's strings: member lists of large groups need more
// than the C library's suggestion.
constexpr int kRecordChars = 64 * 1024;
char record[kRecordChars];

// The lookups return their error instead of setting errno: set it, so that
// the caller's trLastError tells it as for any other call.
int failed(int err) {
  errno = err;
  return -1;
}

}  // namespace

int trGroupId(const char* name, unsigned* gid) {
  group g;
  group* found = nullptr;
  if (int err = getgrnam_r(name, &g, record, sizeof record, &found)) return failed(err);
  if (found == nullptr) return 1;
  *gid = static_cast<unsigned>(g.gr_gid);
  return 0;
}

int trUserId(const char* name, unsigned* uid) {
  passwd p;
  passwd* found = nullptr;
  if (int err = getpwnam_r(name, &p, record, sizeof record, &found)) return failed(err);
  if (found == nullptr) return 1;
  *uid = static_cast<unsigned>(p.pw_uid);
  return 0;
}

int trUserOf(unsigned uid, char* name, unsigned* gid) {
  passwd p;
  passwd* found = nullptr;
  int err = getpwuid_r(static_cast<uid_t>(uid), &p, record, sizeof record, &found);
  if (err != 0) return failed(err);
  if (found == nullptr) return 1;
  strncpy(name, p.pw_name, kUserNameChars);
  name[kUserNameChars] = 0;
  *gid = static_cast<unsigned>(p.pw_gid);
  return 0;
}

int trUserGroups(const char* name, unsigned gid, unsigned* groups, int max) {
  static gid_t list[kUserGroupsMax];
  int n = kUserGroupsMax;
  // A user in more groups than the list holds gets -1 and the count needed;
  // the list is filled as far as it goes all the same.
  if (getgrouplist(name, static_cast<gid_t>(gid), list, &n) < 0 && n <= kUserGroupsMax) return -1;
  if (n > kUserGroupsMax) n = kUserGroupsMax;
  if (n > max) n = max;
  for (int i = 0; i < n; i++) groups[i] = static_cast<unsigned>(list[i]);
  return n;
}

int trOwnGroups(unsigned* groups, int max) {
  static gid_t list[kUserGroupsMax];
  int n = getgroups(kUserGroupsMax, list);
  if (n < 0 || max < 1) return -1;
  groups[0] = static_cast<unsigned>(getegid());
  int count = 1;
  for (int i = 0; i < n && count < max; i++) groups[count++] = static_cast<unsigned>(list[i]);
  return count;
}

int trChangeGroup(const char* path, unsigned gid) {
  return chown(path, static_cast<uid_t>(-1), static_cast<gid_t>(gid));
}
