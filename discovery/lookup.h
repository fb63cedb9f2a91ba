#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "discovery/browser.h"
#include "platform/run_loop.h"

namespace qev {

// How long the lookup waits for its scanner, and the slices it waits in.
struct LookupTimes {
  RunLoop::Clock::duration limit = std::chrono::seconds(10);
  RunLoop::Clock::duration slice = std::chrono::milliseconds(250);
};

// Starts `browser` and runs the loop in slices until a scanner whose identifier is `id`
// (same text) has been found: the first to arrive of those that match. After each slice it
// searches before it looks at the clock, so a scanner that arrives in the last slice is
// still found. A slice ends early when a scanner arrives. Finding none within the limit
// ends the run with "The scanner is not connected."; a service that cannot look for
// scanners ends it at once with its error.
std::shared_ptr<Device> lookup(RunLoop& loop, Browser& browser, const std::string& id,
                               const LookupTimes& times = {});

}  // namespace qev
