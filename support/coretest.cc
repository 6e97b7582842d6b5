// Program-start state and a scratch folder for each core unit test.
#include "support/coretest.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/config.h"
#include "app/globals.h"
#include "app/startup.h"
#include "runtime/keyboard.h"
#include "runtime/text.h"

namespace fs = std::filesystem;

void coreTest::SetUp() {
  resetProgramState();
  // A test may start over by calling SetUp again: the folder it had goes
  // now, and the folder to come back to stays the one it started in.
  if (!dir_.empty()) leaveScratch();
  oldDir_ = fs::current_path().string();
  std::string tmpl = (fs::temp_directory_path() / "qzcore.XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  dir_ = tmpl;
  fs::current_path(dir_);
  strzcpy(g_logfn, "main.log", 256);
}

void coreTest::TearDown() {
  resetAppGlobals();
  leaveScratch();
}

void coreTest::leaveScratch() {
  fs::current_path(oldDir_);
  std::error_code ec;
  fs::remove_all(dir_, ec);
  dir_.clear();
}

std::string coreTest::readFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

serverRec* coreTest::addServer(const char* address, const char* login, const char* password) {
  std::string s = std::string("server=") + address;
  parseInput(s.c_str());
  parseInput((std::string("login=") + login).c_str());
  parseInput((std::string("password=") + password).c_str());
  commitPendingServer();
  serverRec* r = serverAt(flServer.nodes() - 1);
  g_noscreenlog = 1;
  resolveServer(r);
  g_noscreenlog = 0;
  return r;
}

bool udpPeer::open() {
  sock.handle = trSocket(0);
  if (trBind(sock.handle, 0, "127.0.0.1") != 0) return false;
  port = trSockPort(sock.handle);
  return port > 0;
}

std::string udpPeer::address() const { return "127.0.0.1:" + std::to_string(port); }

std::string udpPeer::receive(unsigned timeoutMs) {
  if (trSelect(sock.handle, 0, timeoutMs) != 1) return "";
  char buf[2048];
  sockaddr_in from;
  int len = sizeof from;
  int n = trRecvfrom(sock.handle, buf, sizeof buf, reinterpret_cast<sockaddr*>(&from), &len);
  return n > 0 ? std::string(buf, n) : std::string();
}

void udpPeer::sendTo(const std::string& dest, const std::string& bytes) {
  trSendto(sock.handle, bytes.data(), static_cast<unsigned>(bytes.size()), dest.c_str());
}
