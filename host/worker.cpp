#include "host/worker.h"

#include <sane/sane.h>

namespace qev {

SaneWorker::SaneWorker() : thread([this] { run(); }) {}

SaneWorker::~SaneWorker() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  woken.notify_one();
  thread.join();
}

void SaneWorker::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex);
    tasks.push_back(std::move(task));
  }
  woken.notify_one();
}

void SaneWorker::every(std::chrono::milliseconds interval, std::function<bool()> task) {
  {
    std::lock_guard lock(mutex);
    periodic.push_back({interval, std::chrono::steady_clock::now() + interval, std::move(task)});
  }
  woken.notify_one();
}

void SaneWorker::restart() {
  if (initialised) sane_exit();
  SANE_Int version = 0;
  initialised = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
}

void SaneWorker::run() {
  SANE_Int version = 0;
  initialised = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
  for (;;) {
    std::function<void()> task;
    std::function<bool()> repeated;
    std::size_t repeatedIndex = 0;
    {
      std::unique_lock lock(mutex);
      for (;;) {
        if (!tasks.empty()) {
          task = std::move(tasks.front());
          tasks.pop_front();
          break;
        }
        if (stopping) break;
        auto now = std::chrono::steady_clock::now();
        auto next = std::chrono::steady_clock::time_point::max();
        for (std::size_t i = 0; i < periodic.size() && !repeated; ++i) {
          if (periodic[i].due <= now) {
            // Taken out while it runs, so that `every` may be called meanwhile.
            repeated = std::move(periodic[i].task);
            repeatedIndex = i;
          } else if (periodic[i].due < next) {
            next = periodic[i].due;
          }
        }
        if (repeated) break;
        if (next == std::chrono::steady_clock::time_point::max()) {
          woken.wait(lock);
        } else {
          woken.wait_until(lock, next);
        }
      }
    }
    if (task) {
      task();
      task = nullptr;  // whatever it held goes away here, on the worker
      continue;
    }
    if (repeated) {
      bool again = initialised && repeated();
      std::lock_guard lock(mutex);
      Periodic& p = periodic[repeatedIndex];
      if (again) {
        p.task = std::move(repeated);
        p.due = std::chrono::steady_clock::now() + p.interval;
      } else {
        periodic.erase(periodic.begin() + static_cast<long>(repeatedIndex));
      }
      continue;
    }
    break;  // stopping, and nothing left to run
  }
  std::vector<Periodic> dropped;
  {
    std::lock_guard lock(mutex);
    dropped.swap(periodic);
  }
  dropped.clear();
  if (initialised) sane_exit();
}

}  // namespace qev
