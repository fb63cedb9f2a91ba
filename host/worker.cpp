#include "host/worker.h"

#include <sane/sane.h>

#include <algorithm>

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
    Work work = next();
    if (work.task) {
      work.task();
      work.task = nullptr;  // whatever it held goes away here, on the worker
    } else if (work.repeated) {
      repeat(std::move(work));
    } else {
      break;  // stopping, and nothing left to run
    }
  }
  std::vector<Periodic> dropped;
  {
    std::lock_guard lock(mutex);
    dropped.swap(periodic);
  }
  dropped.clear();
  if (initialised) sane_exit();
}

SaneWorker::Work SaneWorker::next() {
  std::unique_lock lock(mutex);
  for (;;) {
    if (!tasks.empty()) {
      Work work{.task = std::move(tasks.front())};
      tasks.pop_front();
      return work;
    }
    if (stopping) return {};
    auto now = std::chrono::steady_clock::now();
    auto soonest = std::chrono::steady_clock::time_point::max();
    for (std::size_t i = 0; i < periodic.size(); ++i) {
      if (periodic[i].due <= now) {
        // Taken out while it runs, so that `every` may be called meanwhile.
        return {.repeated = std::move(periodic[i].task), .index = i};
      }
      soonest = std::min(soonest, periodic[i].due);
    }
    if (soonest == std::chrono::steady_clock::time_point::max()) {
      woken.wait(lock);
    } else {
      woken.wait_until(lock, soonest);
    }
  }
}

void SaneWorker::repeat(Work work) {
  bool again = initialised && work.repeated();
  std::lock_guard lock(mutex);
  Periodic& p = periodic[work.index];
  if (again) {
    p.task = std::move(work.repeated);
    p.due = std::chrono::steady_clock::now() + p.interval;
  } else {
    periodic.erase(periodic.begin() + static_cast<long>(work.index));
  }
}

}  // namespace qev
