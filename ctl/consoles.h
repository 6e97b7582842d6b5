// The running consoles of this user (ctl/ctlconn.h finds their sockets):
// list, and which one a command talks to. Says on standard error when there
// is none, or more than one to choose from.
#ifndef QZUCON_CTL_CONSOLES_H_
#define QZUCON_CTL_CONSOLES_H_

#include "ctl/ctlargs.h"

// Says that no console of this user runs; returns kCtlError.
int noConsole();

// list: one line per console: its name, socket, own address and servers,
// each with its tags in brackets when it has any; or with --json one object
// per server. kCtlOk, or kCtlError when no console runs.
int listConsoles(const ctlArgs& a);

// The socket to use, into path (kCtlPathSize bytes): -S, -p, or the only
// running console. False after a message when there is none to use.
bool chooseSocket(const ctlArgs& a, char* path);

#endif  // QZUCON_CTL_CONSOLES_H_
