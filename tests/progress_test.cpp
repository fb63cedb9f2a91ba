// `scan --progress` through the real binary against real SANE: how far each page has come,
// before its page, and nothing of it without the option.

#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "testing/files.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// The test scanner slowed down: its reader pauses 30 ms between the parts of a page it hands
// over, so that a flatbed page at 150 dpi takes some two seconds, its figure growing in
// steps of a few percent.
std::map<std::string, std::string> slowPages() {
  return {{"read-delay", "true"}, {"read-delay-duration", "30000"}};
}

// The kinds of a run's events, in order.
std::vector<std::string> kinds(const qevtest::Run& run) {
  std::vector<std::string> out;
  for (const auto& e : run.events) out.push_back(e.value("event", ""));
  return out;
}

// The progress events of page `n` come before its page event (when it has one), the first
// with 0, then each with a larger `figure` ("percent" or "lines"); returns their figures.
std::vector<std::int64_t> figuresOf(const qevtest::Run& run, std::int64_t n,
                                    const std::string& figure) {
  std::vector<std::int64_t> figures;
  bool paged = false;
  for (const auto& e : run.events) {
    if (e.value("n", std::int64_t{0}) != n) continue;
    if (e["event"] == "page") paged = true;
    if (e["event"] != "progress") continue;
    EXPECT_FALSE(paged) << "progress after its page: " << e;
    EXPECT_TRUE(e.contains(figure)) << e;
    EXPECT_EQ(e.size(), 3u) << e;
    std::int64_t value = e.value(figure, std::int64_t{-1});
    if (figures.empty()) {
      EXPECT_EQ(value, 0) << e;
    } else {
      EXPECT_GT(value, figures.back()) << e;
    }
    figures.push_back(value);
  }
  return figures;
}

TEST(Progress, RisesFromZeroBeforeThePageAtMostTenTimesASecond) {
  qevtest::SaneConfig config(slowPages());
  qevtest::TempDir out;
  auto run = qevtest::qev({"scan", "--device", "test:0", "--out", out.path(), "--source", "flatbed",
                           "--dpi", "150", "--progress"},
                          config.options());
  EXPECT_EQ(run.status, 0) << run.out;
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.back(), (json{{"event", "done"}, {"pages", 1}}));
  auto figures = figuresOf(run, 1, "percent");
  // The page takes more than a tenth of a second: the figure rose while it was read.
  ASSERT_GE(figures.size(), 2u) << run.out;
  EXPECT_LE(figures.back(), 100);
  // One for the start and one for each tenth of a second that the page has been read: the
  // page ends no later than its event reaches the reader, counted from the start of qev.
  std::size_t page = 0;
  while (page < run.events.size() && run.events[page]["event"] != "page") ++page;
  ASSERT_LT(page, run.events.size()) << run.out;
  auto seconds = std::chrono::duration<double>(run.times[page]).count();
  EXPECT_LE(static_cast<double>(figures.size()), 10 * seconds + 2) << run.out;
  // Nothing else changes: opened, the progress, the page, done.
  std::vector<std::string> want = {"opened"};
  want.insert(want.end(), figures.size(), "progress");
  want.insert(want.end(), {"page", "done"});
  EXPECT_EQ(kinds(run), want);
}

TEST(Progress, APageOfUnknownHeightCountsItsLines) {
  // 300 lines of 40 pixels, 20 of them in each read of 20 ms: 0.3 seconds.
  qevtest::FaultConfig config(
      "[device]\nname = d\nsource = Flatbed\nmode = Color\nsize = 40 300\nunknown-lines = yes\n"
      "chunk = 2400\ndelay = 20\n");
  qevtest::TempDir out;
  auto run = qevtest::qev(
      {"scan", "--device", "fault:d", "--out", out.path(), "--source", "flatbed", "--progress"},
      config.options());
  EXPECT_EQ(run.status, 0) << run.out;
  auto figures = figuresOf(run, 1, "lines");
  ASSERT_GE(figures.size(), 2u) << run.out;
  EXPECT_LE(figures.back(), 300);
  EXPECT_EQ(kinds(run).back(), "done");
}

// A feeder of the fault backend, which reads its pages on the calling thread. (SANE's test
// backend reads each page on a thread of its own, which it cancels asynchronously at the
// page's end; once in some hundred batches that leaves a lock of the C library held, and its
// next reader thread waits for it for ever.)
const std::string feeder =
    "[device]\nname = d\ntype = sheetfed scanner\nmode = Color\nsize = 40 30\n"
    "pages = 3\n";

TEST(Progress, EachPageOfAFeederBatchHasItsOwnNumber) {
  qevtest::FaultConfig config(feeder);
  qevtest::TempDir out;
  auto run = qevtest::qev({"scan", "--device", "fault:d", "--out", out.path(), "--progress"},
                          config.options());
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.events.back(), (json{{"event", "done"}, {"pages", 3}}));
  for (std::int64_t n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(figuresOf(run, n, "percent").empty()) << run.out;
  }
  // None of a page that never came (the feeder's end).
  for (const auto& e : run.events) {
    if (e["event"] == "progress") {
      EXPECT_LE(e["n"], 3);
    }
  }
}

TEST(Progress, ACancelDuringAPageStillEndsWithTheCancelError) {
  qevtest::SaneConfig config(slowPages());
  qevtest::TempDir out;
  auto options = config.options();
  // Stopped once the page's figure has risen above 0.
  options.signalWhen = [](const qevtest::Run& sofar) {
    for (const auto& line : sofar.lines) {
      auto e = json::parse(line);
      if (e["event"] == "progress" && e.value("percent", 0) > 0) return true;
    }
    return false;
  };
  auto run = qevtest::qev({"scan", "--device", "test:0", "--out", out.path(), "--source", "flatbed",
                           "--dpi", "150", "--progress"},
                          options);
  ASSERT_NO_FATAL_FAILURE(
      qevtest::expectFailed(run, "cancelled", "The scan stopped: Operation was canceled"));
  figuresOf(run, 1, "percent");
  EXPECT_EQ(qevtest::pagesIn(out.path()), std::vector<std::string>{});
  EXPECT_EQ(qevtest::names(out / ".qev-incoming"), std::vector<std::string>{});
}

TEST(Progress, NoneWithoutTheOption) {
  qevtest::SaneConfig slow(slowPages());
  qevtest::FaultConfig batch(feeder);
  struct {
    const char* name;
    qevtest::Options options;
    std::vector<std::string> args;
  } cases[] = {
      {"a slow flatbed page",
       slow.options(),
       {"--device", "test:0", "--source", "flatbed", "--dpi", "150"}},
      {"a feeder batch", batch.options(), {"--device", "fault:d"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir out;
    std::vector<std::string> args = {"scan", "--out", out.path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = qevtest::qev(args, c.options);
    EXPECT_EQ(run.status, 0) << run.out;
    std::vector<std::string> want = {"opened"};
    want.insert(want.end(), run.events.size() - 2, "page");
    want.push_back("done");
    EXPECT_EQ(kinds(run), want);
  }
}

}  // namespace
