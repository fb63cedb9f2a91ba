#pragma once

#include <memory>

#include "platform/run_loop.h"
#include "platform/scanner.h"

namespace qev {

// The moment `seconds` after `now`: `now` itself when `seconds` is zero, negative or not a
// number; the clock's last moment when the wait is too long for the clock to hold.
RunLoop::Clock::time_point deadlineAfter(RunLoop::Clock::time_point now, double seconds);

// The `list` command: browses with `service` for `wait` seconds, always the whole wait, then
// emits the device record of every scanner seen, in order of arrival, and `done`, and ends
// the process with status 0. A service that cannot look for scanners ends it at once with
// its error.
[[noreturn]] void list(RunLoop& loop, std::unique_ptr<DeviceBrowser> service, double wait);

}  // namespace qev
