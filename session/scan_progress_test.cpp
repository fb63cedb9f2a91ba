// The progress events of a scan session: which reports of the scanner become events.

#include <gtest/gtest.h>

#include "session/scan.h"
#include "testing/capture.h"
#include "testing/fake_scanner.h"
#include "testing/temp_dir.h"

namespace qev {
namespace {

using nlohmann::json;

json progress(std::int64_t n, const char* figure, std::int64_t value) {
  return {{"event", "progress"}, {"n", n}, {figure, value}};
}

TEST(ScanProgress, EachPageStartsWithItsFirstReportThenOnlyAGrowingFigureShows) {
  struct {
    const char* name;
    bool asked;
    std::vector<PageProgress> reports;
    std::vector<json> events;
  } cases[] = {
      {"percent of the announced lines, rounded down",
       true,
       {{1, 0, 600}, {1, 5, 600}, {1, 6, 600}, {1, 7, 600}, {1, 599, 600}, {1, 600, 600}},
       {progress(1, "percent", 0), progress(1, "percent", 1), progress(1, "percent", 99),
        progress(1, "percent", 100)}},
      {"more lines than announced stay at 100",
       true,
       {{1, 0, 10}, {1, 12, 10}, {1, 20, 10}},
       {progress(1, "percent", 0), progress(1, "percent", 100)}},
      {"lines where the height is unknown",
       true,
       {{1, 0, -1}, {1, 40, -1}, {1, 40, -1}, {1, 90, -1}},
       {progress(1, "lines", 0), progress(1, "lines", 40), progress(1, "lines", 90)}},
      {"a page announced without lines counts its lines",
       true,
       {{1, 0, 0}, {1, 3, 0}},
       {progress(1, "lines", 0), progress(1, "lines", 3)}},
      {"every page has its own number and its own start",
       true,
       {{1, 0, 100}, {1, 50, 100}, {2, 0, 100}, {2, 50, 100}, {3, 0, -1}},
       {progress(1, "percent", 0), progress(1, "percent", 50), progress(2, "percent", 0),
        progress(2, "percent", 50), progress(3, "lines", 0)}},
      {"a figure that does not grow is not shown again",
       true,
       {{1, 50, 100}, {1, 20, 100}, {1, 50, 100}},
       {progress(1, "percent", 50)}},
      {"none without being asked for", false, {{1, 0, 100}, {1, 50, 100}}, {}},
  };
  qevtest::TempDir dir;
  RunLoop loop;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::Capture capture;
    auto device = std::make_shared<fake::Device>(loop);
    Scan scan(device, dir.path(), "feeder", false, 300, c.asked);
    for (const auto& report : c.reports) scan.didProgress(*device, report);
    EXPECT_EQ(capture.events, c.events);
  }
}

}  // namespace
}  // namespace qev
