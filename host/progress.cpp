#include "host/progress.h"

#include <utility>

namespace qev {

ProgressMeter::ProgressMeter(Report report, Now now) : report(std::move(report)), now(now) {}

void ProgressMeter::beginPage(std::int64_t page) {
  progress = {.page = page, .lines = 0, .total = -1};
  bytesPerLine = 0;
  started = false;
  shown = 0;
}

void ProgressMeter::beginFrame(std::int64_t perLine, std::int64_t lines, bool threePass) {
  bytesPerLine = perLine;
  progress.total = lines < 0 ? -1 : lines * (threePass ? 3 : 1);
}

void ProgressMeter::reached(std::size_t bytes) {
  progress.lines = bytesPerLine > 0 ? static_cast<std::int64_t>(bytes) / bytesPerLine : 0;
  if (!started) {
    // The page has begun: its first report says so, whatever has come with its first read.
    started = true;
    last = now();
    report({.page = progress.page, .lines = 0, .total = progress.total});
    return;
  }
  const std::int64_t figure = progress.figure();
  if (figure <= shown) return;
  const Clock::time_point at = now();
  if (at - last < interval) return;
  last = at;
  shown = figure;
  report(progress);
}

}  // namespace qev
