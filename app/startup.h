// Program start: configuration from the command line and the configuration
// file, the banner, the checks, resolution of the server addresses, then the
// console.
#ifndef QZUCON_APP_STARTUP_H_
#define QZUCON_APP_STARTUP_H_

// Set by the build from the project version.
constexpr const char* kVersion = QZUCON_VERSION;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitNoServer = 2;
constexpr int kExitServerPort = 3;
constexpr int kExitMyPort = 4;
// The server socket could not be opened or bound: a service manager must not
// take that for a clean stop.
constexpr int kExitSocket = 5;
// qzucon --check found errors in the configuration.
constexpr int kExitBadConfig = 6;

// What the command line asks of the program: the console, or only its usage
// text or version, or a check of the configuration (an argument that is
// exactly "--help", "--version" or "--check"; the first of them decides). Pure.
enum startAsk { kAskConsole, kAskHelp, kAskVersion, kAskCheck };
startAsk commandLineAsk(int argc, const char* const* argv);

// Reads the configuration and checks it; returns 0 when the console may run,
// else the exit status. Logs what it finds.
int configure(int argc, char** argv);

struct serverRec;
// Logs and resolves one server record (ip, port, ipPort) and marks a server
// with a password due for heartbeats. False when its address has no port.
bool resolveServer(serverRec* s);

// The usage text or the version when the command line asks for it (status
// 0, nothing else done: no log file, no journal), else configure, then the
// console; returns the program's exit status.
int appMain(int argc, char** argv);

#endif  // QZUCON_APP_STARTUP_H_
