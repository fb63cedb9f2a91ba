#include <cerrno>
#include <ctime>

#include "platform/sleep.h"

namespace qev {

void sleepFor(std::chrono::nanoseconds length) {
  if (length.count() <= 0) return;
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(length);
  deadline.tv_sec += static_cast<time_t>(seconds.count());
  deadline.tv_nsec += static_cast<long>((length - seconds).count());
  if (deadline.tv_nsec >= 1'000'000'000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1'000'000'000;
  }
  // An absolute deadline, so that sleeping again after a signal adds no drift.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace qev
