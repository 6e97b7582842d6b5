// The system's user and group database, as the control socket's group rule
// reads it: names to ids, a user's name, and every group a user is in. Each
// function is one lookup of the database (through the C library, so the
// host's name services answer), with its raw result; none logs. Nothing is
// cached: a user removed from a group is out at the next lookup.
#ifndef QZUCON_RUNTIME_GROUPS_H_
#define QZUCON_RUNTIME_GROUPS_H_

constexpr int kUserNameChars = 32;   // a user or group name at most, as useradd allows
constexpr int kUserGroupsMax = 256;  // groups of one user looked at, at most

// The id of group name (getgrnam_r): 0 with *gid, 1 when there is no such
// group, -1 when the lookup failed.
int trGroupId(const char* name, unsigned* gid);
// The id of user name (getpwnam_r): 0, 1 or -1 as above.
int trUserId(const char* name, unsigned* uid);
// The name (kUserNameChars + 1 bytes) and primary group of user uid
// (getpwuid_r): 0, 1 when no user has that id, -1 when the lookup failed.
int trUserOf(unsigned uid, char* name, unsigned* gid);
// Every group user name is in, its primary group gid among them
// (getgrouplist), into groups (room for max): how many, -1 when the lookup
// failed. Past max the rest are left out.
int trUserGroups(const char* name, unsigned gid, unsigned* groups, int max);
// This process's groups, its effective group first (getegid, getgroups),
// into groups (room for max): how many, -1 when getgroups failed.
int trOwnGroups(unsigned* groups, int max);
// The group of the file at path (chown with the owner left): 0 or -1.
int trChangeGroup(const char* path, unsigned gid);

#endif  // QZUCON_RUNTIME_GROUPS_H_
