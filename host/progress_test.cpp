#include "host/progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace qev {
namespace {

using namespace std::chrono_literals;

// The time the meter sees: moved on by the test.
ProgressMeter::Clock::time_point clockNow;
ProgressMeter::Clock::time_point testNow() { return clockNow; }

// One step of a page: the time, in milliseconds from its start, and the bytes read by then.
struct Read {
  int ms;
  std::size_t bytes;
};

struct Sent {
  std::int64_t page, lines, total;
  bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& s) {
  return out << "page " << s.page << ": " << s.lines << " of " << s.total;
}

TEST(ProgressMeter, ReportsTheStartThenAGrownFigureAtMostTenTimesASecond) {
  struct {
    const char* name;
    std::int64_t bytesPerLine, lines;
    bool threePass;
    std::vector<Read> reads;
    std::vector<Sent> sent;
  } cases[] = {
      {"the first data start the page, however much they are",
       10,
       100,
       false,
       {{0, 0}, {5, 500}},
       {{1, 0, 100}}},
      {"a figure that grew goes out once 100 ms have passed since the last",
       10,
       100,
       false,
       {{0, 10}, {50, 200}, {99, 300}, {100, 310}, {150, 500}, {250, 900}},
       {{1, 0, 100}, {1, 31, 100}, {1, 90, 100}}},
      {"time alone reports nothing: the figure must grow",
       10,
       100,
       false,
       {{0, 5}, {200, 5}, {400, 9}, {600, 20}},
       {{1, 0, 100}, {1, 2, 100}}},
      {"a growth of lines within a percent is no growth",
       10,
       1000,
       false,
       {{0, 10}, {200, 90}, {400, 100}},
       {{1, 0, 1000}, {1, 10, 1000}}},
      {"an unknown height counts lines",
       10,
       -1,
       false,
       {{0, 10}, {150, 15}, {300, 15}, {450, 35}},
       {{1, 0, -1}, {1, 1, -1}, {1, 3, -1}}},
      {"three frames of a three-pass page all count",
       10,
       100,
       true,
       {{0, 10}, {200, 1500}, {400, 3000}},
       {{1, 0, 300}, {1, 150, 300}, {1, 300, 300}}},
      {"a frame of no bytes a line counts nothing",
       0,
       100,
       false,
       {{0, 10}, {200, 500}},
       {{1, 0, 100}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Sent> sent;
    ProgressMeter meter(
        [&](const PageProgress& p) {
          sent.push_back({p.page, p.lines, p.total});
        },
        testNow);
    const auto start = ProgressMeter::Clock::now();
    meter.beginPage(1);
    meter.beginFrame(c.bytesPerLine, c.lines, c.threePass);
    for (const Read& r : c.reads) {
      clockNow = start + std::chrono::milliseconds(r.ms);
      if (r.bytes > 0) meter.reached(r.bytes);
    }
    EXPECT_EQ(sent, c.sent);
  }
}

TEST(ProgressMeter, EachPageStartsAfreshAtOnce) {
  std::vector<Sent> sent;
  ProgressMeter meter(
      [&](const PageProgress& p) {
        sent.push_back({p.page, p.lines, p.total});
      },
      testNow);
  clockNow = ProgressMeter::Clock::now();
  meter.beginPage(1);
  meter.beginFrame(10, 100, false);
  meter.reached(10);
  clockNow += 150ms;
  meter.reached(1000);
  // The next page begins at once: its start is reported without waiting, and its figures
  // count from its own start.
  meter.beginPage(2);
  meter.beginFrame(10, -1, false);
  meter.reached(20);
  meter.reached(40);
  clockNow += 100ms;
  meter.reached(60);
  EXPECT_EQ(sent, (std::vector<Sent>{{1, 0, 100}, {1, 100, 100}, {2, 0, -1}, {2, 6, -1}}));
}

}  // namespace
}  // namespace qev
