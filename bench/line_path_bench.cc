// The floor under the console's cost per received line: the system calls a
// line needs, each timed alone on this machine with nothing of the console
// around them. One line at a time (receive, screen write, open, write,
// close), and a pass's worth at a time as the console works: 64 datagrams
// with one receive, 64 entries with one writev to an opened, then closed,
// file and to /dev/null; and a line to each of 1,000 files in turn, as a
// fleet's pass writes them. The batch figures are per line (items/s).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kLine[] = "[12.10.2026 15:04:05] ->qzstandin 127.0.0.1:28100 line 12345 of a server\n";

void BM_AppendOpenWriteClose(benchmark::State& state) {
  std::string name = std::string(P_tmpdir) + "/qzbench-line-" + std::to_string(getpid()) + ".log";
  for (auto _ : state) {
    int fd = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    benchmark::DoNotOptimize(write(fd, kLine, sizeof kLine - 1));
    close(fd);
  }
  unlink(name.c_str());
}
BENCHMARK(BM_AppendOpenWriteClose);

// The same over 1,000 files in turn, as a pass of a fleet writes them: each
// line to a file that was last written a thousand lines ago.
void BM_AppendOpenWriteClose1000Files(benchmark::State& state) {
  const int files = 1000;
  std::string base = std::string(P_tmpdir) + "/qzbench-fleet-" + std::to_string(getpid()) + "-";
  std::vector<std::string> names;
  for (int i = 0; i < files; i++) names.push_back(base + std::to_string(i) + ".log");
  size_t next = 0;
  for (auto _ : state) {
    int fd = open(names[next].c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    benchmark::DoNotOptimize(write(fd, kLine, sizeof kLine - 1));
    close(fd);
    next = (next + 1) % names.size();
  }
  for (const std::string& n : names) unlink(n.c_str());
}
BENCHMARK(BM_AppendOpenWriteClose1000Files);

// The same with the files kept open, as the console keeps them: a write of
// one line to each in turn, with a pause (not timed) after each round so
// that, as with servers sending 20 lines a second, every write falls in a
// new tick of the file system's clock and updates the file's times.
void BM_AppendWrite1000OpenFiles(benchmark::State& state) {
  const int files = 1000;
  std::string base = std::string(P_tmpdir) + "/qzbench-open-" + std::to_string(getpid()) + "-";
  std::vector<std::string> names;
  std::vector<int> fds;
  for (int i = 0; i < files; i++) {
    names.push_back(base + std::to_string(i) + ".log");
    fds.push_back(open(names.back().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  }
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(write(fds[next], kLine, sizeof kLine - 1));
    next = (next + 1) % fds.size();
    if (next == 0) {
      state.PauseTiming();
      usleep(10000);
      state.ResumeTiming();
    }
  }
  for (size_t i = 0; i < names.size(); i++) {
    close(fds[i]);
    unlink(names[i].c_str());
  }
}
BENCHMARK(BM_AppendWrite1000OpenFiles);

void BM_ScreenWriteToDevNull(benchmark::State& state) {
  int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (auto _ : state) benchmark::DoNotOptimize(write(fd, kLine, sizeof kLine - 1));
  close(fd);
}
BENCHMARK(BM_ScreenWriteToDevNull);

// A sender and a receiver bound on loopback; *to is the receiver's address.
// False when the receiver cannot be bound.
bool loopbackPair(int* tx, int* rx, sockaddr_in* to) {
  *tx = socket(AF_INET, SOCK_DGRAM, 0);
  *rx = socket(AF_INET, SOCK_DGRAM, 0);
  *to = {};
  to->sin_family = AF_INET;
  to->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof *to;
  return bind(*rx, reinterpret_cast<sockaddr*>(to), len) == 0 &&
         getsockname(*rx, reinterpret_cast<sockaddr*>(to), &len) == 0;
}

// One loopback datagram received; sending it is left out of the time.
void BM_RecvfromLoopback(benchmark::State& state) {
  int tx, rx;
  sockaddr_in to;
  if (!loopbackPair(&tx, &rx, &to)) state.SkipWithError("no loopback socket");
  char buf[1500];
  for (auto _ : state) {
    state.PauseTiming();
    sendto(tx, kLine, sizeof kLine - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    state.ResumeTiming();
    sockaddr_in from;
    socklen_t fromLen = sizeof from;
    benchmark::DoNotOptimize(
        recvfrom(rx, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen));
  }
  close(tx);
  close(rx);
}
BENCHMARK(BM_RecvfromLoopback);

constexpr int kBatch = 64;  // lines a busy pass takes at once

// A pass's entries for one file: kBatch lines as writev pieces.
void batchPieces(iovec* iov) {
  for (int i = 0; i < kBatch; i++) {
    iov[i].iov_base = const_cast<char*>(kLine);
    iov[i].iov_len = sizeof kLine - 1;
  }
}

void BM_AppendOpenWritev64Close(benchmark::State& state) {
  std::string name = std::string(P_tmpdir) + "/qzbench-batch-" + std::to_string(getpid()) + ".log";
  iovec iov[kBatch];
  batchPieces(iov);
  long n = 0;
  for (auto _ : state) {
    int fd = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    benchmark::DoNotOptimize(writev(fd, iov, kBatch));
    close(fd);
    if (++n % 256 == 0) {  // keep the file small, out of the time
      state.PauseTiming();
      truncate(name.c_str(), 0);
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  unlink(name.c_str());
}
BENCHMARK(BM_AppendOpenWritev64Close);

void BM_Writev64ToDevNull(benchmark::State& state) {
  int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  iovec iov[kBatch];
  batchPieces(iov);
  for (auto _ : state) benchmark::DoNotOptimize(writev(fd, iov, kBatch));
  state.SetItemsProcessed(state.iterations() * kBatch);
  close(fd);
}
BENCHMARK(BM_Writev64ToDevNull);

// kBatch loopback datagrams received with one recvmmsg; sending them is left
// out of the time.
void BM_Recvmmsg64Loopback(benchmark::State& state) {
  int tx, rx;
  sockaddr_in to;
  if (!loopbackPair(&tx, &rx, &to)) state.SkipWithError("no loopback socket");
  static char buf[kBatch][1500];
  mmsghdr out[kBatch] = {}, in[kBatch] = {};
  iovec outIov[kBatch], inIov[kBatch];
  sockaddr_in from[kBatch];
  batchPieces(outIov);
  for (int i = 0; i < kBatch; i++) {
    out[i].msg_hdr.msg_iov = &outIov[i];
    out[i].msg_hdr.msg_iovlen = 1;
    out[i].msg_hdr.msg_name = &to;
    out[i].msg_hdr.msg_namelen = sizeof to;
    inIov[i].iov_base = buf[i];
    inIov[i].iov_len = sizeof buf[i];
    in[i].msg_hdr.msg_iov = &inIov[i];
    in[i].msg_hdr.msg_iovlen = 1;
    in[i].msg_hdr.msg_name = &from[i];
  }
  for (auto _ : state) {
    state.PauseTiming();
    sendmmsg(tx, out, kBatch, 0);
    for (mmsghdr& m : in) m.msg_hdr.msg_namelen = sizeof(sockaddr_in);
    state.ResumeTiming();
    benchmark::DoNotOptimize(recvmmsg(rx, in, kBatch, MSG_DONTWAIT, nullptr));
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  close(tx);
  close(rx);
}
BENCHMARK(BM_Recvmmsg64Loopback);

}  // namespace
