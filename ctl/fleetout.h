// What qzuconctl prints: each line as it comes, and the fleet's view of it,
// as the options ask: the servers' tags (fetched from the console), the -e
// and -v filters, the alerts of some tags only, and JSON. Lines go to
// standard output, each flushed as it comes; a bad expression and the note
// of lines lost go to standard error.
#ifndef QZUCON_CTL_FLEETOUT_H_
#define QZUCON_CTL_FLEETOUT_H_

#include "ctl/ctlargs.h"
#include "ctl/ctlconn.h"

constexpr int kCtlLineSize = 8192;  // an answer line as qzuconctl reads it

// Sets up the output the options ask for; false after a message when an
// expression is bad.
bool fleetSetUp(const ctlArgs& a);

// Takes the console's "tags IPPORT LIST" lines, sorted by address. A console
// without tags answers with an error: no server has tags then.
void fetchTags(ctlConn* c);
// Forgets the tags taken: each console of a list has its own.
void fleetForgetTags();
// The tags of server ipPort as the console told them; "" for none.
const char* fleetTagsOf(const char* ipPort);
// Whether lines are written as JSON (--json).
bool fleetJson();

// A line as the options want it: hidden by a filter, or printed as JSON.
// False when it is to be printed as it is.
bool fleetShow(const char* line);
// line and a line break, flushed: a script reading us must see each line
// as it comes.
void print(const char* line);
// Prints a line that is no answer to a request: a server's or a console
// message, or the note of lines lost.
void show(const char* line);

#endif  // QZUCON_CTL_FLEETOUT_H_
