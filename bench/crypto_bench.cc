// Benchmarks of the crypto primitives, each registered right before its
// reference so pairs sit next to each other in the output. References carry
// the label "ref"; rates are in bytes_per_second or items_per_second.
//   md5/seeded/N      vs md5/openssl/N    (OpenSSL MD5, same seeded words)
//   genrand/624       vs std_mt19937/624  (one state's worth of draws)
//   keystream/600     vs std_mt19937_seed_draw/600
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "crypto/keystream.h"
#include "crypto/md5.h"
#include "crypto/mt.h"

#ifdef QZBENCH_HAVE_OPENSSL
// The low-level MD5 calls are deprecated in OpenSSL 3 but are the only way
// to set the initial chaining words; silence that here only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/md5.h>
#endif

namespace {

constexpr uint32_t kSeed = 3;

std::vector<unsigned char> message(size_t n) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; i++) v[i] = static_cast<unsigned char>(i * 31 + 7);
  return v;
}

void md5Seeded(benchmark::State& state) {
  const std::vector<unsigned char> msg = message(state.range(0));
  for (auto _ : state) {
    md5 h(msg.data(), static_cast<uint32_t>(msg.size()), kSeed);
    benchmark::DoNotOptimize(h.digest()[0]);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

#ifdef QZBENCH_HAVE_OPENSSL
void opensslSeeded(const std::vector<unsigned char>& msg, unsigned char out[16]) {
  MD5_CTX ctx;
  MD5_Init(&ctx);
  uint32_t w[4];
  md5SeedWords(kSeed, w);
  ctx.A = w[0];
  ctx.B = w[1];
  ctx.C = w[2];
  ctx.D = w[3];
  MD5_Update(&ctx, msg.data(), msg.size());
  MD5_Final(out, &ctx);
}

void md5OpenSsl(benchmark::State& state) {
  const std::vector<unsigned char> msg = message(state.range(0));
  unsigned char out[16];
  opensslSeeded(msg, out);
  md5 ours(msg.data(), static_cast<uint32_t>(msg.size()), kSeed);
  if (std::memcmp(out, ours.digest(), 16) != 0) {
    state.SkipWithError("digest differs from the reference");
    return;
  }
  for (auto _ : state) {
    opensslSeeded(msg, out);
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  state.SetLabel("ref");
}
#pragma GCC diagnostic pop
#endif

void genrandSteady(benchmark::State& state) {
  sgenrand(4357);
  for (auto _ : state) {
    for (int i = 0; i < kMtN; i++) benchmark::DoNotOptimize(genrand());
  }
  state.SetItemsProcessed(state.iterations() * kMtN);
}

void stdMtSteady(benchmark::State& state) {
  std::mt19937 gen(4357);
  for (auto _ : state) {
    for (int i = 0; i < kMtN; i++) benchmark::DoNotOptimize(gen());
  }
  state.SetItemsProcessed(state.iterations() * kMtN);
  state.SetLabel("ref");
}

constexpr size_t kRunBytes = 600;

void keystreamRun(benchmark::State& state) {
  unsigned char buf[kRunBytes] = {};
  uint32_t seed = 36250418;
  for (auto _ : state) {
    keystreamXor(seed++, buf, sizeof buf);
    benchmark::DoNotOptimize(buf);
  }
  state.SetItemsProcessed(state.iterations());
}

void stdMtSeedDraw(benchmark::State& state) {
  unsigned char buf[kRunBytes] = {};
  uint32_t seed = 36250418;
  std::mt19937 gen;
  for (auto _ : state) {
    gen.seed(seed++);
    for (size_t i = 0; i < sizeof buf; i++)
      buf[i] ^= static_cast<unsigned char>(gen());
    benchmark::DoNotOptimize(buf);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("ref");
}

void md5Pair(int64_t len) {
  benchmark::RegisterBenchmark("md5/seeded", md5Seeded)->Arg(len);
#ifdef QZBENCH_HAVE_OPENSSL
  benchmark::RegisterBenchmark("md5/openssl", md5OpenSsl)->Arg(len);
#endif
}

const bool kRegistered = [] {
  for (int64_t len : {16, 64, 1 << 20}) md5Pair(len);
  benchmark::RegisterBenchmark("genrand", genrandSteady)->Arg(kMtN);
  benchmark::RegisterBenchmark("std_mt19937", stdMtSteady)->Arg(kMtN);
  benchmark::RegisterBenchmark("keystream", keystreamRun)->Arg(kRunBytes);
  benchmark::RegisterBenchmark("std_mt19937_seed_draw", stdMtSeedDraw)->Arg(kRunBytes);
  return true;
}();

}  // namespace
