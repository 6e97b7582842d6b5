// Thin layer for the private control channel: Unix stream sockets by path
// (and the datagram socket the journal is written to),
// the peer's user from the kernel, and the few path calls needed to keep a
// per-user folder. Each function is one system call (two where said) with its
// raw result; none of them logs or retries. Paths longer than a socket
// address holds (kUnixPathChars) fail with ENAMETOOLONG.
#ifndef QZUCON_RUNTIME_UNIXSOCK_H_
#define QZUCON_RUNTIME_UNIXSOCK_H_

constexpr int kUnixPathChars = 107;  // sun_path less its terminator

// A new Unix stream socket, close-on-exec; handle or -1.
int trUnixSocket();
// A new Unix datagram socket, non-blocking and close-on-exec; handle or -1.
int trUnixDgramSocket();
// Waits up to ms for h to take a datagram (poll for POLLOUT): 1 when it
// will, 0 when the time ran out, -1 on error.
int trWaitWritable(int h, unsigned ms);
// Asks for a send buffer of bytes (SO_SNDBUF): 0 or -1.
int trSndbuf(int h, int bytes);
// Binds h to path with the process's file mask set to mask for the bind
// alone (so the socket file is created with the wanted permissions), then
// put back. 0 or -1.
int trUnixBind(int h, const char* path, unsigned mask);
// connect: 0 or -1.
int trUnixConnect(int h, const char* path);
// Accepts one pending connection, non-blocking and close-on-exec. Handle or -1.
int trUnixAccept(int h);
// The user id of the peer of a connected Unix socket (SO_PEERCRED). 0 or -1.
int trPeerUid(int h, unsigned* uid);
// One send that never blocks and never raises SIGPIPE: bytes sent or -1.
int trSendNow(int h, const char* data, unsigned len);
// True when the last failed call only found nothing to do now (EAGAIN).
bool trWouldBlock();

// What lstat says about a path; a symbolic link is itself, never followed.
enum { kPathNone = 0, kPathDir = 1, kPathSocket = 2, kPathOther = 3 };
struct trPathInfo {
  int kind;       // kPath*
  unsigned uid;   // owner
  unsigned gid;   // group
  unsigned mode;  // permission bits (07777)
  unsigned long long dev, ino;
};
// 0 with *out filled (kind kPathNone when nothing is there), -1 when lstat
// failed for another reason than a missing path.
int trPathStat(const char* path, trPathInfo* out);
int trMakeDir(const char* path, unsigned mode);  // mkdir: 0 or -1
// The device and inode of what descriptor fd is open on (fstat): 0 or -1.
int trFdIdentity(int fd, unsigned long long* dev, unsigned long long* ino);
// The value of an environment variable, or null.
const char* trEnv(const char* name);
// Calls fn for every entry name in folder dir (opendir/readdir/closedir);
// "." and ".." are skipped. 0, or -1 when the folder cannot be opened.
int trDirNames(const char* dir, void (*fn)(const char* name, void* ctx), void* ctx);

#endif  // QZUCON_RUNTIME_UNIXSOCK_H_
