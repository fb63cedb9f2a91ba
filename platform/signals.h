#pragma once

// Stop requests from outside the process: SIGINT (Ctrl-C at a terminal) and SIGTERM (a
// caller or the system asking the run to end).
//
// Contract:
// - While a StopSignals lives, the first SIGINT or SIGTERM no longer ends the process:
//   `onStop` is posted to the run loop instead and runs on the loop's thread like any other
//   callback. A second one of the same signal ends the process as usual, so a run that does
//   not stop when asked can still be ended.
// - The signal handler only writes the signal's number to a pipe; a thread of the
//   StopSignals reads it, puts the default actions back and does the posting. Nothing else
//   happens inside the handler.
// - No library in qev's process touches these actions: scanner backends, which do, run in
//   the driver host (platform/client/process.h).
// - One StopSignals at a time, made on the thread that held the signals back, if any (see
//   holdStopSignals). Its destruction restores the actions it replaced.

#include <functional>
#include <memory>

namespace qev {

class RunLoop;

// Writes to a reader that has gone away fail with EPIPE instead of ending the process, in
// every thread started afterwards too. Called first thing in main, before any thread starts.
void ignoreBrokenPipe();

// Holds SIGINT and SIGTERM back in this thread and in every thread started after it, so that
// one that comes before a StopSignals is in place waits for it instead of ending the run with
// no final line. Called first thing in main. A StopSignals lets them through to its handler.
void holdStopSignals();
// Lets them through with the action they have (for a command with no StopSignals: the
// default, which ends the run, also for one that waited).
void releaseStopSignals();

class StopSignals {
 public:
  StopSignals(RunLoop& loop, std::function<void()> onStop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct Watch;
  std::unique_ptr<Watch> watch;
};

}  // namespace qev
