// qzuconctl -H: the same command run by each host's own qzuconctl over ssh,
// the hosts in parallel, every answer line prefixed with its host.
#ifndef QZUCON_CTL_REMOTE_H_
#define QZUCON_CTL_REMOTE_H_

#include "ctl/ctlargs.h"
#include "ctl/sshhosts.h"

// Runs argv (less -H and its list, at a.hostsAt) on the count hosts and
// prints their lines as they come, stdout's on stdout and stderr's on
// stderr. Returns the worst of the hosts' exit statuses; a host not
// reached or without qzuconctl is named and counts as kCtlError. On
// SIGINT, SIGTERM or SIGHUP the ssh children are ended and the signal
// ends qzuconctl as it would without -H.
int runOnHosts(const ctlArgs& a, int argc, const char* const* argv, const sshHost* hosts,
               int count);

#endif  // QZUCON_CTL_REMOTE_H_
