// The console's signal dispositions: the termination signals and SIGPIPE.
#ifndef QZUCON_RUNTIME_SIGNALS_H_
#define QZUCON_RUNTIME_SIGNALS_H_

// Calls handler (from signal context) on SIGINT, SIGTERM and SIGHUP. 0 or -1.
int trOnTerminate(void (*handler)(int));
// Puts the default action back for SIGINT, SIGTERM and SIGHUP, so that the
// next such signal ends the process at once. Safe from signal context.
void trDefaultTerminate();
// Ignores SIGPIPE: a write to a pipe or socket whose reader is gone then fails
// with EPIPE instead of ending the process. 0 or -1.
int trIgnoreBrokenPipe();

#endif  // QZUCON_RUNTIME_SIGNALS_H_
