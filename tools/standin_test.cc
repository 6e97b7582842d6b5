// The stand-in's wire functions against byte strings written out by hand,
// its behaviour towards a console driven packet by packet, and its options.
// The default seed's keystream is pinned here, from outside this code base,
// so that the console and the stand-in cannot drift apart together. A
// password's seed, keystream and proof come from the key derivation both
// share, whose own table pins them (protocol/keys_test.cc).
#include "tools/standin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/keystream.h"
#include "protocol/keys.h"

namespace {

using bytes = std::vector<unsigned char>;

// Keystream bytes 0..15 of the default seed.
const unsigned char kDefaultKs[16] = {0x27, 0x1d, 0x76, 0xf5, 0xff, 0x2a, 0xc4, 0xb6,
                                      0xc6, 0x73, 0x21, 0x53, 0x6c, 0x86, 0xbc, 0xf4};
const unsigned char kChallenge[4] = {0x12, 0x34, 0x56, 0x78};

// The password "secret": its seed, that seed's keystream bytes 0..15 and the
// proof that answers kChallenge.
struct secretKeys {
  uint32_t seed;
  unsigned char ks[16];
  unsigned char proof[16];
};

const secretKeys& secret() {
  static const secretKeys keys = [] {
    secretKeys k = {};
    k.seed = keystreamSeedFor("secret");
    keystreamXor(k.seed, k.ks, sizeof k.ks);
    authDigestFor("secret", kChallenge, k.seed, k.proof);
    return k;
  }();
  return keys;
}

std::string hex(const unsigned char* b, int n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < n; i++) {
    s += d[b[i] >> 4];
    s += d[b[i] & 15];
  }
  return s;
}

// A console packet: header, plain prefix, then `tail` as given (already
// scrambled, NUL included).
bytes consolePkt(const unsigned char sc[4], const unsigned char digest[16], const char* prefix,
                 const bytes& tail) {
  bytes p = {0xFF, 0xFF, 0xFF, 0xFF, 'Q', 'Z', '_', 'U', 0, 0, 0, 0};
  p.insert(p.end(), sc, sc + 4);
  p.insert(p.end(), digest, digest + 16);
  p.insert(p.end(), prefix, prefix + strlen(prefix));
  p.insert(p.end(), tail.begin(), tail.end());
  return p;
}

// The text and its NUL XORed with the first keystream bytes given.
bytes scrambled(const char* text, const unsigned char* ks) {
  bytes t;
  for (size_t i = 0; i <= strlen(text); i++) {
    t.push_back(static_cast<unsigned char>(text[i]) ^ ks[i]);
  }
  return t;
}

const unsigned char kZero[16] = {};

TEST(WireVectors, DefaultSeedGivesThePinnedKeystream) {
  unsigned char ks[16] = {};
  keystreamXor(kStandinDefaultSeed, ks, sizeof ks);
  EXPECT_EQ(hex(kDefaultKs, 16), hex(ks, 16));
}

TEST(ParseConsolePacket, KindsAndRejections) {
  bytes hb = consolePkt(kZero, kZero, "127.0.0.1:5000;admin;", {0});
  bytes cmdDefault =
      consolePkt(kZero, kZero, "127.0.0.1:5000;admin;", scrambled("ls -l", kDefaultKs));
  bytes cmdSecret = consolePkt(kChallenge, secret().proof, "127.0.0.1:5000;admin;",
                               scrambled("st", secret().ks));
  bytes emptyCmd = consolePkt(kZero, kZero, "a:1;;", scrambled("", kDefaultKs));
  bytes noNul = consolePkt(kZero, kZero, "a:1;b;", {'x' ^ 0x27, 'y' ^ 0x1d});
  bytes badMagic = hb;
  badMagic[4] = 'X';
  bytes oneSemi = consolePkt(kZero, kZero, "127.0.0.1:5000;admin", {0});
  bytes longLogin = consolePkt(kZero, kZero, ("a:1;" + std::string(33, 'L') + ";").c_str(), {0});
  bytes maxLogin = consolePkt(kZero, kZero, ("a:1;" + std::string(32, 'L') + ";").c_str(), {0});
  bytes noTail = consolePkt(kZero, kZero, "a:1;b;", {});
  struct Row {
    const char* what;
    const bytes* pkt;
    int n;
    int kind;
    const char* addr;
    const char* login;
    const char* command;
  } rows[] = {
      {"heartbeat", &hb, -1, kPacketHeartbeat, "127.0.0.1:5000", "admin", ""},
      {"command, default seed", &cmdDefault, -1, kPacketCommand, "127.0.0.1:5000", "admin",
       "ls -l"},
      {"command, password's seed", &cmdSecret, -1, kPacketCommand, "127.0.0.1:5000", "admin",
       "st"},
      {"empty command and login", &emptyCmd, -1, kPacketCommand, "a:1", "", ""},
      {"command without NUL", &noNul, -1, kPacketCommand, "a:1", "b", "xy"},
      {"32-character login", &maxLogin, -1, kPacketHeartbeat, "a:1", nullptr, ""},
      {"34 bytes", &hb, 34, kPacketShort, nullptr, nullptr, nullptr},
      {"wrong magic", &badMagic, -1, kPacketMagic, nullptr, nullptr, nullptr},
      {"one ';'", &oneSemi, -1, kPacketPrefix, nullptr, nullptr, nullptr},
      {"33-character login", &longLogin, -1, kPacketPrefix, nullptr, nullptr, nullptr},
      {"nothing after the prefix", &noTail, -1, kPacketNoText, nullptr, nullptr, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    consolePacket p;
    int n = r.n >= 0 ? r.n : static_cast<int>(r.pkt->size());
    ASSERT_EQ(r.kind, parseConsolePacket(r.pkt->data(), n, "secret", &p));
    if (r.kind < 0) continue;
    EXPECT_STREQ(r.addr, p.consoleAddr);
    if (r.login) {
      EXPECT_STREQ(r.login, p.login);
    }
    EXPECT_STREQ(r.command, p.command);
  }
}

TEST(ParseConsolePacket, HeaderFieldsAndProof) {
  bytes pkt = consolePkt(kChallenge, secret().proof, "127.0.0.1:5000;admin;", {0});
  pkt[8] = 0xA1;  // client challenge
  pkt[11] = 0xA4;
  consolePacket p;
  ASSERT_EQ(kPacketHeartbeat, parseConsolePacket(pkt.data(), int(pkt.size()), "secret", &p));
  EXPECT_EQ("a10000a4", hex(p.clientChallenge, 4));
  EXPECT_EQ("12345678", hex(p.serverChallenge, 4));
  EXPECT_TRUE(proofValid(p, kChallenge, "secret"));
  EXPECT_FALSE(proofValid(p, kChallenge, "secreT"));
  const unsigned char other[4] = {0x12, 0x34, 0x56, 0x79};
  EXPECT_FALSE(proofValid(p, other, "secret"));
  p.digest[15] ^= 1;
  EXPECT_FALSE(proofValid(p, kChallenge, "secret"));
}

TEST(BuildServerDatagram, LayoutScramblingAndCut) {
  const unsigned char cc[4] = {1, 2, 3, 4};
  unsigned char out[kMaxDatagramSize];
  int n = buildServerDatagram(cc, kChallenge, kStandinDefaultSeed, "hi", out, sizeof out);
  ASSERT_EQ(11, n);
  EXPECT_EQ("0102030412345678", hex(out, 8));
  EXPECT_EQ(hex(scrambled("hi", kDefaultKs).data(), 3), hex(out + 8, 3));

  n = buildServerDatagram(cc, kChallenge, secret().seed, "hello", out, 11);  // room for "he"
  ASSERT_EQ(11, n);
  EXPECT_EQ(hex(scrambled("he", secret().ks).data(), 3), hex(out + 8, 3));
  EXPECT_EQ(-1, buildServerDatagram(cc, kChallenge, secret().seed, "x", out, 8));

  std::string big(3000, 'z');
  EXPECT_EQ(kMaxDatagramSize,
            buildServerDatagram(cc, kChallenge, secret().seed, big.c_str(), out, sizeof out));
}

TEST(PrintableCopy, ReplacesControlsAndCuts) {
  char out[8];
  printableCopy(out, sizeof out, "a\tb\xfa\n");
  EXPECT_STREQ("a?b??", out);
  printableCopy(out, sizeof out, "0123456789");
  EXPECT_STREQ("0123456", out);
}

// ---- The engine, driven as a console would drive it ----

struct sent {
  std::string dest;
  bytes data;
};

class recorder : public standinIo {
 public:
  void send(const char* dest, const unsigned char* data, int len) override {
    out.push_back({dest, bytes(data, data + len)});
  }
  void note(const char* line) override { notes.push_back(line); }
  bool noted(const std::string& prefix) const {
    for (const std::string& n : notes) {
      if (n.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }
  std::vector<sent> out;
  std::vector<std::string> notes;
};

// The console's side of one session: what it would send and read.
class StandinEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* argv[] = {"qzstandin", "--password", "secret", "--rate", "10"};
    char err[100];
    ASSERT_EQ(0, parseStandinArgs(5, argv, &opt_, err, sizeof err));
  }

  void start() { engine_.reset(new standin(opt_, "127.0.0.1:7000", &io_, 42)); }

  // A packet from the console at 127.0.0.1:5000 with the given header
  // challenge, the proof for it under `password`, and an optional command.
  bytes packet(const unsigned char sc[4], const char* password, const char* command) {
    unsigned char digest[16] = {};
    uint32_t seed = kStandinDefaultSeed;
    if (sc[0] | sc[1] | sc[2] | sc[3]) {
      seed = keystreamSeedFor(password);
      authDigestFor(password, sc, seed, digest);
    }
    bytes tail = {0};
    if (command) {
      tail.assign(command, command + strlen(command) + 1);
      keystreamXor(seed, tail.data(), tail.size());
    }
    bytes p = consolePkt(sc, digest, "127.0.0.1:5000;admin;", tail);
    p[8] = 0xC1;  // a client challenge to be echoed
    return p;
  }

  void feed(const bytes& p, int64_t now) {
    engine_->onPacket(p.data(), int(p.size()), "127.0.0.1:5000", now);
  }

  // The text of a datagram the engine sent, unscrambled with seed.
  static std::string textOf(const sent& s, uint32_t seed) {
    bytes t(s.data.begin() + 8, s.data.end());
    keystreamXor(seed, t.data(), t.size());
    return std::string(reinterpret_cast<const char*>(t.data()));
  }

  // Unknown console -> challenge -> proof. Returns the challenge.
  std::vector<unsigned char> handshake(int64_t now) {
    feed(packet(kZero, "secret", nullptr), now);
    EXPECT_EQ(1u, io_.out.size());
    std::vector<unsigned char> c(io_.out.back().data.begin() + 4, io_.out.back().data.begin() + 8);
    feed(packet(c.data(), "secret", nullptr), now + 10);
    EXPECT_TRUE(io_.noted("proof-ok console=127.0.0.1:5000 login=admin"));
    return c;
  }

  standinOptions opt_;
  recorder io_;
  std::unique_ptr<standin> engine_;
};

TEST_F(StandinEngineTest, ChallengeThenProofThenLines) {
  start();
  feed(packet(kZero, "secret", nullptr), 0);
  ASSERT_EQ(1u, io_.out.size());
  const sent ch = io_.out[0];  // a copy: out grows below
  EXPECT_EQ("127.0.0.1:5000", ch.dest);
  EXPECT_EQ("c1000000", hex(ch.data.data(), 4));
  EXPECT_NE("00000000", hex(ch.data.data() + 4, 4));
  EXPECT_EQ(
      "qzstandin 127.0.0.1:7000 welcome admin, challenge " + hex(ch.data.data() + 4, 4) + "\n",
      textOf(ch, secret().seed));
  EXPECT_TRUE(io_.noted("challenge console=127.0.0.1:5000 login=admin challenge=" +
                        hex(ch.data.data() + 4, 4) + " reason=new"));
  EXPECT_EQ(-1, engine_->tick(5));  // nothing before the proof

  bytes c(ch.data.begin() + 4, ch.data.begin() + 8);
  feed(packet(c.data(), "secret", nullptr), 20);
  EXPECT_TRUE(io_.noted("proof-ok console=127.0.0.1:5000 login=admin"));
  EXPECT_TRUE(io_.noted("heartbeat console=127.0.0.1:5000 login=admin proven=yes"));

  EXPECT_EQ(100, engine_->tick(20));
  EXPECT_EQ(50, engine_->tick(70));
  engine_->tick(120);
  ASSERT_EQ(3u, io_.out.size());
  for (int i = 1; i <= 2; i++) {
    SCOPED_TRACE("line " + std::to_string(i));
    EXPECT_EQ(hex(ch.data.data(), 8), hex(io_.out[i].data.data(), 8));  // same challenges
    EXPECT_EQ("qzstandin 127.0.0.1:7000 line " + std::to_string(i) + "\n",
              textOf(io_.out[i], secret().seed));
  }
}

TEST_F(StandinEngineTest, CommandsEchoedOnlyWhenProven) {
  start();
  feed(packet(kZero, "secret", "status"), 0);  // unknown: challenged, command ignored
  EXPECT_TRUE(
      io_.noted("ignored-command console=127.0.0.1:5000 login=admin reason=unproven text=status"));
  ASSERT_EQ(1u, io_.out.size());
  bytes c(io_.out[0].data.begin() + 4, io_.out[0].data.begin() + 8);
  feed(packet(c.data(), "secret", "who\tis here"), 30);
  EXPECT_TRUE(io_.noted("proof-ok"));
  EXPECT_TRUE(io_.noted("command console=127.0.0.1:5000 login=admin text=who?is here"));
  ASSERT_EQ(2u, io_.out.size());
  EXPECT_EQ("echo: who\tis here\n", textOf(io_.out[1], secret().seed));
}

TEST_F(StandinEngineTest, WrongPasswordIsRechallengedAtMostOncePerSecond) {
  start();
  feed(packet(kZero, "wrong", nullptr), 0);
  bytes c(io_.out[0].data.begin() + 4, io_.out[0].data.begin() + 8);
  feed(packet(c.data(), "wrong", nullptr), 40);
  EXPECT_TRUE(io_.noted("proof-bad console=127.0.0.1:5000"));
  EXPECT_FALSE(io_.noted("proof-ok"));
  EXPECT_EQ(1u, io_.out.size());  // too soon for another challenge
  feed(packet(c.data(), "wrong", "ls"), 1500);
  ASSERT_EQ(2u, io_.out.size());
  EXPECT_TRUE(io_.noted("ignored-command"));
  EXPECT_NE(hex(c.data(), 4), hex(io_.out[1].data.data() + 4, 4));
  EXPECT_EQ(-1, engine_->tick(2000));
}

TEST_F(StandinEngineTest, StaleHeaderWithdrawsProof) {
  start();
  handshake(0);
  engine_->tick(10);
  size_t before = io_.out.size();
  feed(packet(kZero, "secret", nullptr), 2000);  // e.g. the console restarted
  EXPECT_TRUE(io_.noted("proof-lost console=127.0.0.1:5000 login=admin reason=unanswered"));
  EXPECT_TRUE(io_.noted("challenge console=127.0.0.1:5000 login=admin challenge="));
  ASSERT_EQ(before + 1, io_.out.size());
  EXPECT_EQ(-1, engine_->tick(5000));  // no lines until proven again
}

TEST_F(StandinEngineTest, ExitForgetsTheConsole) {
  start();
  std::vector<unsigned char> c = handshake(0);
  feed(packet(c.data(), "secret", "qzuconexit"), 100);
  EXPECT_TRUE(io_.noted("exit console=127.0.0.1:5000 login=admin known=yes proven=yes"));
  EXPECT_EQ(nullptr, engine_->find("127.0.0.1:5000"));
  EXPECT_EQ(-1, engine_->tick(1000));
  size_t before = io_.out.size();
  feed(packet(kZero, "secret", nullptr), 1100);  // a new session starts afresh
  EXPECT_EQ(before + 1, io_.out.size());
  ASSERT_NE(nullptr, engine_->find("127.0.0.1:5000"));
  EXPECT_FALSE(engine_->find("127.0.0.1:5000")->proven);
}

TEST_F(StandinEngineTest, CountStopsTheLines) {
  opt_.count = 2;
  start();
  handshake(0);
  for (int t = 10; t < 1000; t += 50) engine_->tick(t);
  EXPECT_EQ(1u + 2u, io_.out.size());
  EXPECT_TRUE(io_.noted("count-reached console=127.0.0.1:5000 lines=2"));
}

TEST_F(StandinEngineTest, LoginFilterAndQuiet) {
  strcpy(opt_.login, "root");
  opt_.quiet = true;
  start();
  feed(packet(kZero, "secret", nullptr), 0);
  EXPECT_TRUE(io_.out.empty());
  EXPECT_TRUE(io_.noted("unknown-login console=127.0.0.1:5000 login=admin"));
  strcpy(opt_.login, "admin");
  start();
  handshake(0);
  engine_->tick(10);
  EXPECT_FALSE(io_.noted("heartbeat"));
  EXPECT_FALSE(io_.noted("sent-line"));
}

TEST_F(StandinEngineTest, ReplyFallsBackToSourceForUnusableAddress) {
  start();
  bytes p = packet(kZero, "secret", nullptr);
  const char name[] = "localhost:5000;admin;";
  p.erase(p.begin() + 32, p.end());
  p.insert(p.end(), name, name + strlen(name));
  p.push_back(0);
  engine_->onPacket(p.data(), int(p.size()), "127.0.0.1:5999", 0);
  ASSERT_EQ(1u, io_.out.size());
  EXPECT_EQ("127.0.0.1:5999", io_.out[0].dest);
}

TEST(ParseStandinArgs, OptionsAndErrors) {
  struct Row {
    std::vector<const char*> args;
    int result;
    int port;
    int intervalMs;
    long count;
  } rows[] = {
      {{}, 0, 0, 500, 0},
      {{"--port", "7000", "--rate", "4", "--count", "9"}, 0, 7000, 250, 9},
      {{"--port=7001", "--rate=0"}, 0, 7001, 0, 0},
      {{"--rate", "0.5"}, 0, 0, 2000, 0},
      {{"--help"}, 1, 0, 500, 0},
      {{"--port", "65536"}, -1, 0, 0, 0},
      {{"--port"}, -1, 0, 0, 0},
      {{"--rate", "-1"}, -1, 0, 0, 0},
      {{"--rate", "2x"}, -1, 0, 0, 0},
      {{"--colour", "red"}, -1, 0, 0, 0},
      {{"extra"}, -1, 0, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(std::vector<std::string>(r.args.begin(), r.args.end())));
    std::vector<const char*> argv = {"qzstandin"};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    standinOptions o;
    char err[100];
    ASSERT_EQ(r.result, parseStandinArgs(int(argv.size()), argv.data(), &o, err, sizeof err));
    if (r.result < 0) {
      EXPECT_NE('\0', err[0]);
      continue;
    }
    if (r.result > 0) continue;
    EXPECT_EQ(r.port, o.port);
    EXPECT_EQ(r.intervalMs, o.intervalMs);
    EXPECT_EQ(r.count, o.count);
    EXPECT_STREQ("127.0.0.1", o.bind);
  }
  const char* argv[] = {"qzstandin", "--password=pw", "--bind", "127.0.0.5", "--quiet",
                        "--login",   "ops",           "--text", "a a a!"};
  standinOptions o;
  char err[100];
  ASSERT_EQ(0, parseStandinArgs(9, argv, &o, err, sizeof err));
  EXPECT_STREQ("a a a!", o.text);
  EXPECT_STREQ("pw", o.password);
  EXPECT_STREQ("127.0.0.5", o.bind);
  EXPECT_STREQ("ops", o.login);
  EXPECT_TRUE(o.quiet);
}

}  // namespace
