// Environment settings for the length of one test, put back afterwards: a
// variable, the time zone, and a resolver that gives up quickly. Header-only,
// so that the runtime tests can use it without linking the support library.
#ifndef QZUCON_SUPPORT_SCOPEDENV_H_
#define QZUCON_SUPPORT_SCOPEDENV_H_

#include <resolv.h>

#include <cstdlib>
#include <ctime>
#include <string>

// Sets the variable name to value (unsets it for null) while the object
// lives; then the caller's value, or its absence, comes back.
class envSwap {
 public:
  envSwap(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~envSwap() { restore(); }
  envSwap(const envSwap&) = delete;
  envSwap& operator=(const envSwap&) = delete;

  // Puts the caller's value back now; later calls do nothing.
  void restore() {
    if (restored_) return;
    restored_ = true;
    if (hadOld_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  bool hadOld_ = false;
  bool restored_ = false;
  std::string old_;
};

// Local time follows the POSIX time zone tz (e.g. "QZT-5:30", 5 h 30 min east
// of UTC) while the object lives.
class tzSwap {
 public:
  explicit tzSwap(const char* tz) : env_("TZ", tz) { tzset(); }
  ~tzSwap() {
    env_.restore();
    tzset();
  }

 private:
  envSwap env_;
};

// For tests that ask the system resolver about names that must not resolve
// (the reserved .invalid domain). Such a lookup fails at once where a name
// server answers, or where none is configured (the query to the loopback
// default is refused); but each query to an unreachable name server waits
// 5 s, twice, for every server and search domain. While the object lives,
// every query is tried once for at most one second.
class quickResolver {
 public:
  // The caller's own options first: the later ones win.
  quickResolver() : env_("RES_OPTIONS", (callerOptions() + " timeout:1 attempts:1").c_str()) {
    res_init();  // the options are read when the resolver state is set up
  }
  ~quickResolver() {
    env_.restore();
    res_init();
  }

 private:
  static std::string callerOptions() {
    const char* old = getenv("RES_OPTIONS");
    return old ? old : "";
  }
  envSwap env_;
};

#endif  // QZUCON_SUPPORT_SCOPEDENV_H_
