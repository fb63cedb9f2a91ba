#pragma once

// The one thread of the driver host that makes SANE calls. SANE is not thread-safe and its
// calls block (discovery can take seconds while backends probe the network), so the host
// queues its SANE work here, in order; the answers go to qev as messages from here. The only
// SANE call made elsewhere is the sane_cancel of a session being stopped (DeviceCore).
//
// SANE is initialised when the thread starts and ended when it stops. The host has one worker;
// it stops when it goes away, after running everything still queued.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qev {

class SaneWorker {
 public:
  SaneWorker();
  ~SaneWorker();
  SaneWorker(const SaneWorker&) = delete;
  SaneWorker& operator=(const SaneWorker&) = delete;

  // Runs `task` on the worker after everything posted before it. Safe from any thread.
  void post(std::function<void()> task);

  // Runs `task` on the worker about every `interval` between other tasks, for as long as it
  // returns true.
  void every(std::chrono::milliseconds interval, std::function<bool()> task);

  // Sessions open on this worker: SANE is restarted only while there are none. Worker thread
  // only.
  int openSessions = 0;

  // Ends SANE and starts it afresh, dropping whatever backends hold (the connections of the
  // net backend among them). Worker thread only, with no session open.
  void restart();

 private:
  struct Periodic {
    std::chrono::milliseconds interval;
    std::chrono::steady_clock::time_point due;
    std::function<bool()> task;
  };

  // What runs next: a posted task, or a periodic one that is due (with its place in
  // `periodic`); neither when the worker is stopping and nothing is queued.
  struct Work {
    std::function<void()> task;
    std::function<bool()> repeated;
    std::size_t index = 0;
  };

  void run();
  // Waits for the next work.
  Work next();
  // Runs a periodic task, and schedules it again unless it asks not to be.
  void repeat(Work work);

  std::mutex mutex;
  std::condition_variable woken;
  std::deque<std::function<void()>> tasks;
  std::vector<Periodic> periodic;
  bool stopping = false;
  bool initialised = false;  // worker thread only
  std::thread thread;
};

}  // namespace qev
