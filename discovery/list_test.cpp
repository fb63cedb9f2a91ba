#include "discovery/list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "discovery/browser.h"
#include "testing/capture.h"
#include "testing/fake_scanner.h"

namespace qev {
namespace {

using namespace std::chrono_literals;
using Clock = RunLoop::Clock;

TEST(DeadlineAfter, WaitsThatTheClockCannotHoldAreBounded) {
  const Clock::time_point now = Clock::now();
  struct {
    double seconds;
    Clock::time_point deadline;
  } cases[] = {
      {0, now},
      {-1, now},
      {-std::numeric_limits<double>::infinity(), now},
      {std::nan(""), now},
      {0.5, now + 500ms},
      {4, now + 4s},
      {1e300, Clock::time_point::max()},
      {std::numeric_limits<double>::infinity(), Clock::time_point::max()},
      {std::numeric_limits<double>::max(), Clock::time_point::max()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(deadlineAfter(now, c.seconds), c.deadline);
  }
  // Just below the clock's end the wait is kept or bounded, never wrapped around.
  Clock::time_point late = Clock::time_point::max() - 1s;
  EXPECT_GE(deadlineAfter(late, 0.5), late);
  EXPECT_EQ(deadlineAfter(late, 2), Clock::time_point::max());
}

TEST(Browser, KeepsScannersInOrderOfArrivalAndIgnoresTheRest) {
  RunLoop loop;
  auto service = std::make_unique<fake::Browser>(loop, std::vector<fake::Arrival>{});
  fake::Browser& platform = *service;
  Browser browser(std::move(service), loop);
  EXPECT_EQ(platform.mask, 0x702u);

  auto first = std::make_shared<fake::Device>(loop);
  auto camera = std::make_shared<fake::Device>(loop);
  camera->scanner = false;
  auto second = std::make_shared<fake::Device>(loop);
  browser.didAdd(first);
  browser.didAdd(camera);
  browser.didAdd(second);
  browser.didRemove(first);
  browser.didAdd(first);
  std::vector<std::shared_ptr<Device>> expected{first, second, first};
  EXPECT_EQ(browser.found, expected);
}

class List : public ::testing::Test {
 protected:
  std::shared_ptr<fake::Device> scanner(const char* name) {
    auto device = std::make_shared<fake::Device>(loop);
    device->nameText = name;
    return device;
  }

  // Runs `list` with the browser reporting `arrivals`; returns the ids listed.
  std::vector<std::string> run(std::vector<fake::Arrival> arrivals, double wait) {
    auto status = qevtest::Capture::endOf(
        [&] { list(loop, std::make_unique<fake::Browser>(loop, std::move(arrivals)), wait); });
    EXPECT_EQ(status, 0);
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < capture.events.size(); ++i) {
      const auto& event = capture.events[i];
      if (i + 1 == capture.events.size()) {
        EXPECT_EQ(event, (nlohmann::json{{"event", "done"}}));
      } else {
        EXPECT_EQ(event["event"], "device");
        ids.push_back(event["id"]);
      }
    }
    return ids;
  }

  RunLoop loop;
  qevtest::Capture capture;
};

TEST_F(List, ListsEveryScannerSeenInOrderOfArrivalForTheWholeWait) {
  auto zeta = scanner("Zeta"), alpha = scanner("Alpha"), mid = scanner("Mid");
  auto camera = scanner("Camera");
  camera->scanner = false;
  auto late = scanner("Late");
  auto start = Clock::now();
  auto ids = run({{0ms, zeta},
                  {10ms, camera},
                  {20ms, alpha},
                  {40ms, zeta, true},  // goes away: still listed
                  {150ms, zeta},       // and comes back: listed again
                  {200ms, mid},        // long after the first arrival ended a timed run
                  {5s, late}},
                 0.6);
  // Every arrival ended a run of the loop, yet the wait ran to its end.
  EXPECT_GE(Clock::now() - start, 600ms);
  EXPECT_EQ(ids, (std::vector<std::string>{"Zeta", "Alpha", "Zeta", "Mid"}));
  EXPECT_EQ(capture.events[1], (nlohmann::json{{"event", "device"},
                                               {"id", "Alpha"},
                                               {"name", "Alpha"},
                                               {"transport", ""},
                                               {"feeder", false},
                                               {"flatbed", false}}));
}

// Without its driver host, `list` said `done` after the whole wait, as if there were no
// scanner; now it ends at once (a run that waited for ever would never end).
TEST_F(List, AServiceThatCannotLookForScannersEndsItAtOnce) {
  auto service = std::make_unique<fake::Browser>(loop, std::vector<fake::Arrival>{});
  service->failure = Error{"there is no qev-host.", Code::driverMissing};
  auto status = qevtest::Capture::endOf(
      [&] { list(loop, std::move(service), std::numeric_limits<double>::infinity()); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(capture.events,
            (std::vector<nlohmann::json>{{{"event", "error"},
                                          {"code", "driver_missing"},
                                          {"message",
                                           "The scanner's driver did not start: there is no "
                                           "qev-host."}}}));
}

TEST_F(List, NoWaitListsNothingYetAndEndsWithDone) {
  for (double wait : {0.0, -1.0}) {
    SCOPED_TRACE(wait);
    capture.events.clear();
    auto start = Clock::now();
    EXPECT_TRUE(run({{0ms, scanner("Ready")}}, wait).empty());
    EXPECT_LT(Clock::now() - start, 2s);
  }
}

}  // namespace
}  // namespace qev
