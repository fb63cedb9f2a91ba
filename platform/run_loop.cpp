#include "platform/run_loop.h"

namespace qev {

void RunLoop::post(std::function<void()> callback) {
  {
    std::lock_guard lock(mutex);
    queue.push_back(std::move(callback));
  }
  posted.notify_one();
}

bool RunLoop::deliver(const Clock::time_point* deadline) {
  waitEnded = false;
  while (!waitEnded) {
    std::function<void()> next;
    {
      std::unique_lock lock(mutex);
      auto ready = [this] { return !queue.empty(); };
      // The deadline is kept even while callbacks keep coming: one that has passed
      // delivers nothing more.
      if (deadline != nullptr && Clock::now() >= *deadline) return false;
      if (deadline == nullptr) {
        posted.wait(lock, ready);
      } else if (!posted.wait_until(lock, *deadline, ready)) {
        return false;
      }
      next = std::move(queue.front());
      queue.pop_front();
    }
    next();
  }
  waitEnded = false;
  return true;
}

bool RunLoop::runUntil(Clock::time_point deadline) { return deliver(&deadline); }

void RunLoop::run() {
  for (;;) deliver(nullptr);
}

}  // namespace qev
