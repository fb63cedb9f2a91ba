#include "discovery/list.h"

#include <chrono>

#include "cli/end.h"
#include "cli/event.h"
#include "discovery/browser.h"
#include "discovery/record.h"

namespace qev {

RunLoop::Clock::time_point deadlineAfter(RunLoop::Clock::time_point now, double seconds) {
  using Clock = RunLoop::Clock;
  if (!(seconds > 0)) return now;
  // Compared in floating point, so that no conversion below can overflow.
  std::chrono::duration<double> room = Clock::time_point::max() - now;
  if (seconds >= room.count()) return Clock::time_point::max();
  auto wait = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  // Rounding may still land a hair beyond the room left.
  if (wait >= Clock::time_point::max() - now) return Clock::time_point::max();
  return now + wait;
}

void list(RunLoop& loop, std::unique_ptr<DeviceBrowser> service, double wait) {
  Browser browser(std::move(service), loop);
  browser.start();
  auto deadline = deadlineAfter(RunLoop::Clock::now(), wait);
  // Each scanner's arrival ends a run of the loop; the wait goes on to its deadline regardless,
  // unless the service cannot look for scanners at all.
  while (loop.runUntil(deadline)) browser.failIfBroken();
  browser.failIfBroken();
  for (const auto& scanner : browser.found) emit(describe(*scanner));
  emit({{"event", "done"}});
  end(0);
}

}  // namespace qev
