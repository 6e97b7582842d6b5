// The floor under the console's cost per received line: the system calls a
// line needs when each message opens, appends to and closes its log file
// (receive, screen write, open, write, close), each timed alone on this
// machine, with nothing of the console around them. The console cannot take
// less CPU per line than their sum.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

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

void BM_ScreenWriteToDevNull(benchmark::State& state) {
  int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (auto _ : state) benchmark::DoNotOptimize(write(fd, kLine, sizeof kLine - 1));
  close(fd);
}
BENCHMARK(BM_ScreenWriteToDevNull);

// One loopback datagram received; sending it is left out of the time.
void BM_RecvfromLoopback(benchmark::State& state) {
  int tx = socket(AF_INET, SOCK_DGRAM, 0), rx = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof to;
  if (bind(rx, reinterpret_cast<sockaddr*>(&to), len) != 0 ||
      getsockname(rx, reinterpret_cast<sockaddr*>(&to), &len) != 0) {
    state.SkipWithError("no loopback socket");
  }
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

}  // namespace
