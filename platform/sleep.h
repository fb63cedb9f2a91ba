#pragma once

// Blocking the calling thread.

#include <chrono>

namespace qev {

// Blocks the calling thread until `length` has passed on the monotonic clock. A signal that
// interrupts the sleep does not cut it short: it sleeps again until the same deadline.
void sleepFor(std::chrono::nanoseconds length);

}  // namespace qev
