#pragma once

// How far the page being read has come, counted by the thread that reads the scanner as the
// data pass through its loop, and reported at most ten times a second: once when the page's
// first data arrive (no line read yet), then whenever the figure a caller sees (a whole percent
// of the announced lines, or the lines read when the height is unknown) has grown. Counting
// costs the reading loop a division and a comparison for each read, no copy and no lock; the
// clock is read only when the figure has grown, and a report is one message to qev.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/units.h"

namespace qev {

class ProgressMeter {
 public:
  using Clock = std::chrono::steady_clock;
  using Report = std::function<void(const PageProgress&)>;
  using Now = Clock::time_point (*)();
  static constexpr Clock::duration interval = std::chrono::milliseconds(100);

  // `report` is called on the reading thread; `now` tells the time (a test gives its own).
  explicit ProgressMeter(Report report, Now now = Clock::now);

  // Page `page` of the scan (from 1) begins; nothing is reported before its first data.
  void beginPage(std::int64_t page);
  // A frame of the page begins, with `bytesPerLine` bytes in each of its `lines` lines (-1: an
  // unknown height). The separate red, green and blue frames of a three-pass scanner
  // (`threePass`) make a page of three frames, whose lines all count.
  void beginFrame(std::int64_t bytesPerLine, std::int64_t lines, bool threePass);
  // The reading loop has `bytes` of the page, in all its frames so far.
  void reached(std::size_t bytes);

 private:
  Report report;
  Now now;
  PageProgress progress;
  std::int64_t bytesPerLine = 0;
  bool started = false;    // the page's first report is out
  std::int64_t shown = 0;  // the figure of the last report
  Clock::time_point last;  // when it went out
};

}  // namespace qev
