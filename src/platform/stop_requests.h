#pragma once

namespace mic {

// Stops asked for from outside the program, as the people and programs around it ask: SIGINT
// (Ctrl-C, a push-to-talk key released), SIGTERM (timeout, a service manager), SIGHUP (the
// terminal gone), and on macOS the first process, which started the copy that does the work,
// gone. The same on both platforms: POSIX only.

// From here on SIGINT, SIGTERM and SIGHUP wake waitForStopRequest instead of ending the process:
// the handler does nothing but write one byte into a pipe (SA_RESTART, errno kept). A signal the
// process started with ignored stays ignored, as whoever started it asked (nohup's SIGHUP, SIGINT
// in a script's background job). SIGPIPE, SIGQUIT and every other signal keep their actions.
// Call once, early, from the main thread. Without a pipe the signals keep their default actions.
void catchStopSignals();

// Blocks until a stop signal has been caught (at any time since catchStopSignals, before this
// call too), or until `starter`, the read end of a pipe whose only write end the process that
// started this one holds, reaches its end: that process is gone, whatever ended it, SIGKILL
// included. -1: no starter to watch. Returns true for a stop request; false when there is
// nothing it can watch. Call from one thread, once.
bool waitForStopRequest(int starter);

// Puts the stop signals that catchStopSignals caught back to their default actions: for a process
// that cannot watch for them after all, so that a signal still ends it rather than doing nothing.
void releaseStopSignals();

}  // namespace mic
