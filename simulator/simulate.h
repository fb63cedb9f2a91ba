#pragma once

// The `simulate` command: numbered, coloured JPEG test pages written into a folder under the
// same page file names and with the same `page` and `done` events as a scan, so that a caller
// can be built and tried without a scanner.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/page.h"

namespace qev {

// The most pages one run writes.
inline constexpr std::int64_t maxPages = 200;

// How long the simulator waits after every page, the last one included.
inline constexpr std::chrono::milliseconds pageGap{300};

// The requested number of pages held to 1 to maxPages.
std::int64_t pageCount(std::int64_t pages);

// Test page n: 744 by 1039 points, a background whose hue steps through twelve values
// ((n mod 12) / 12, saturation 0.35, brightness 0.9), and "Test page n" at 64 points with
// its baseline 500 points above the bottom edge, 60 points from the left edge.
PageDrawing testPage(std::int64_t n);

// Blocks for the given length (platform/sleep.h in the real command).
using Pause = std::function<void(std::chrono::nanoseconds)>;

// Creates `out` with its parents, then for each page draws it, writes it to "<final>.part",
// moves that to its final path (never replacing a file there), emits `page` and pauses; then
// emits `done` and ends with status 0. A page that cannot be drawn ends the run with "Could
// not draw a test page.", one that cannot be written with "Could not write a test page: "
// and the cause. Never returns.
[[noreturn]] void simulate(const std::string& out, std::int64_t pages, Painter& painter,
                           const Pause& pause);

}  // namespace qev
