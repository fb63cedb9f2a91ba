#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace qev {

// The main run loop. Any thread may `post` a callback; the thread that runs the loop
// delivers the callbacks one at a time, in the order they were posted, each to its end
// before the next. Callbacks are delivered only while the loop runs.
//
// No library offers exactly this with less, so it is a small queue of our own.
class RunLoop {
 public:
  using Clock = std::chrono::steady_clock;

  RunLoop() = default;
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Safe from any thread.
  void post(std::function<void()> callback);

  // Delivers callbacks until `deadline`, or until a delivered callback has called
  // `endWait`. A deadline that has passed returns at once and delivers nothing, also when
  // callbacks are waiting. Returns whether `endWait` ended it.
  bool runUntil(Clock::time_point deadline);

  // Delivers callbacks without end.
  [[noreturn]] void run();

  // Makes the current `runUntil` return once the callback that calls this has ended.
  // Called on the loop's thread, from a callback.
  void endWait() { waitEnded = true; }

 private:
  // Delivers until the deadline (none: forever) or `endWait`; true when `endWait` ended it.
  bool deliver(const Clock::time_point* deadline);

  std::mutex mutex;
  std::condition_variable posted;
  std::deque<std::function<void()>> queue;
  bool waitEnded = false;
};

}  // namespace qev
