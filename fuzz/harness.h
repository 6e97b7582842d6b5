// Support shared by the fuzz targets: a scratch working folder for every file
// the console writes, program-start globals, servers configured the way
// start-up configures them, and the checks every input must leave true.
#ifndef QZUCON_FUZZ_HARNESS_H_
#define QZUCON_FUZZ_HARNESS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/server.h"

// Once per process, from LLVMFuzzerInitialize: standard output to a stream
// that drops everything (log echoes every message) and a fresh scratch folder
// under $TMPDIR, removed at exit. Without an artifact flag, adds one naming
// the working folder, which is where libFuzzer would put a finding by
// default: a finding made inside the scratch folder would otherwise be lost
// with it.
void fuzzInit(int* argc, char*** argv);

// Makes the scratch folder the working folder for one input (or the set-up),
// so every file the console writes lands there; on leaving, deletes what was
// written, so that named files and logs do not pile up over millions of
// inputs, and returns to the folder libFuzzer reads and writes in.
class scratchInput {
 public:
  scratchInput();
  ~scratchInput();
  scratchInput(const scratchInput&) = delete;
  scratchInput& operator=(const scratchInput&) = delete;
};

// The log file every target's console writes, in the scratch folder.
constexpr char kFuzzLog[] = "main.log";

// Program-start globals and generator, the header template, and kFuzzLog
// as the log file.
void fuzzResetGlobals();

// Configures one server through the configuration language, resolves it as
// start-up does and returns its record (valid until flServer grows). The host
// must be numeric: a fuzzer must never ask a name server anything.
serverRec* fuzzAddServer(const char* address, const char* login, const char* password);

// The two servers the console targets start from: 127.0.0.1:28100 (admin,
// secret) and 127.1:28101 (ops, hunter2), the second in the short numeric
// form that only its destination recognises.
void fuzzTwoServers();

// True when resolveServer can resolve address without a name lookup: no port
// at all (it stops early), or a numeric host.
bool fuzzResolvesLocally(const char* address);

// The bytes as text with every '/' and '\' (bfc's path separators) made '_',
// so no file name taken from an input leaves the scratch folder.
std::string fuzzLocalText(const uint8_t* data, size_t size);

// The configured servers as they stand, to start every input from: reception
// and commands change records in place but never add or remove one.
class serverSnapshot {
 public:
  void take();
  void restore() const;
  // Aborts unless every record keeps its configured identity (address, login,
  // password, resolved address and port).
  void checkIdentity() const;
  // True when record i differs from its snapshot in any byte.
  bool changed(int i) const;
  int size() const { return static_cast<int>(recs_.size()); }

 private:
  std::vector<serverRec> recs_;
};

// The console that the targets driving commands (typed, or through the
// control socket) start from: program-start globals, its own address
// 127.0.0.1:24350 and the two servers above. Call inside a scratchInput.
void fuzzCommandConsole();

// The tick those targets' commands run at: far from 0 and its wrap.
constexpr uint32_t kFuzzTick = 100000;

// What each input of those targets starts from: the servers as configured
// holds them, kFuzzLog as the log file (a command may have named another),
// no debug output, no exit asked and no server chosen.
void fuzzCommandInput(const serverSnapshot& configured);

// Aborts when a text meant to hold at most limit characters does not.
void fuzzCheckText(const char* text, size_t bufferSize, size_t limit, const char* what);

// Reports a broken invariant on stderr and aborts, so libFuzzer keeps the input.
[[noreturn]] void fuzzFail(const char* what);

#endif  // QZUCON_FUZZ_HARNESS_H_
