// The console's termination signals.
#ifndef QZUCON_RUNTIME_SIGNALS_H_
#define QZUCON_RUNTIME_SIGNALS_H_

// Calls handler (from signal context) on SIGINT and SIGTERM. 0 or -1.
int trOnTerminate(void (*handler)(int));
// Puts the default action back for SIGINT and SIGTERM, so that the next such
// signal ends the process at once. Safe from signal context.
void trDefaultTerminate();

#endif  // QZUCON_RUNTIME_SIGNALS_H_
