// Test-only support shared by the core library's unit tests: every test starts
// from program-start globals in a fresh temporary working folder, and the
// previous folder is restored afterwards and the temporary one removed (also
// each one of a test that starts over by calling SetUp again).
#ifndef QZUCON_SUPPORT_CORETEST_H_
#define QZUCON_SUPPORT_CORETEST_H_

#include <gtest/gtest.h>

#include <string>

#include "protocol/server.h"
#include "runtime/sock.h"

// A UDP socket bound to 127.0.0.1 on a free port, standing in for a server or
// a local input client.
struct udpPeer {
  // Binds to a free port chosen by the system; false on failure.
  bool open();
  // "127.0.0.1:<port>"
  std::string address() const;
  // Waits up to timeoutMs for one datagram; returns its bytes, empty on timeout.
  std::string receive(unsigned timeoutMs = 3000);
  // Sends bytes to dest ("a.b.c.d:port").
  void sendTo(const std::string& dest, const std::string& bytes);

  trsock sock;
  int port = 0;
};

class coreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Whole content of a file in the temporary folder ("" when missing).
  static std::string readFile(const std::string& name);
  // Configures a server through the configuration language, resolves it as
  // start-up does, and returns its record.
  serverRec* addServer(const char* address, const char* login, const char* password);

  std::string dir_;

 private:
  // Back to the folder the test started in, and its scratch folder removed.
  void leaveScratch();

  std::string oldDir_;
};

#endif  // QZUCON_SUPPORT_CORETEST_H_
