// The kinds of log line that anybody who can reach the console's sockets can
// cause, each bounded per second on its own (app/bounded.h).
#ifndef QZUCON_APP_LINEKINDS_H_
#define QZUCON_APP_LINEKINDS_H_

enum lineKind {
  kUnknownSender,   // "**Ignoring packet from ..."
  kTcpDenied,       // "TCP Connection Request Denied from ..."
  kTcpBusy,         // "TCP Local Connection Request Denied: ..."
  kTcpOtherUser,    // "**Refused local TCP input from ...: another user"
  kTcpUnverified,   // "**Refused local TCP input from ...: sender could not be verified"
  kUdpOtherUser,    // "**Refused local UDP input from ...: another user"
  kUdpUnverified,   // "**Refused local UDP input from ...: sender could not be verified"
  kCtlRefused,      // "**Refused control connection ..."
  kLineKinds
};

#endif  // QZUCON_APP_LINEKINDS_H_
