// The kernel's socket diagnostics over netlink: a question about one socket
// and its answer, as bytes. Building the question and reading the answer are
// the caller's (they are pure); each function here is one system call with
// its raw result, and none of them logs.
#ifndef QZUCON_RUNTIME_SOCKDIAG_H_
#define QZUCON_RUNTIME_SOCKDIAG_H_

// A netlink socket for socket diagnostics: handle or -1 (refused where the
// kernel or a sandbox forbids it). Closed with trClosesocket.
int trDiagOpen();
// Sends one request to the kernel: bytes sent or -1.
int trDiagAsk(int h, const void* req, unsigned len);
// Takes one waiting reply without blocking (the kernel answers a single
// lookup before trDiagAsk returns): bytes, or -1 when none is waiting.
int trDiagReply(int h, void* buf, unsigned len);

#endif  // QZUCON_RUNTIME_SOCKDIAG_H_
