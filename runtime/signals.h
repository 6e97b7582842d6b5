// The console's signal dispositions: the termination signals and SIGPIPE.
#ifndef QZUCON_RUNTIME_SIGNALS_H_
#define QZUCON_RUNTIME_SIGNALS_H_

// Calls handler (from signal context) on SIGINT, SIGTERM and SIGHUP. A SIGINT
// or SIGHUP that is ignored (as inherited from nohup, say) stays ignored;
// SIGTERM is always handled. 0 or -1.
int trOnTerminate(void (*handler)(int));
// Puts the default action back for those of SIGINT, SIGTERM and SIGHUP that
// are not ignored, so that the next such signal ends the process at once.
// Safe from signal context.
void trDefaultTerminate();
// Ignores SIGPIPE: a write to a pipe or socket whose reader is gone then fails
// with EPIPE instead of ending the process. 0 or -1.
int trIgnoreBrokenPipe();

#endif  // QZUCON_RUNTIME_SIGNALS_H_
