#include "discovery/lookup.h"

#include <gtest/gtest.h>

#include "testing/capture.h"
#include "testing/fake_scanner.h"

namespace qev {
namespace {

using namespace std::chrono_literals;
using Clock = RunLoop::Clock;

class Lookup : public ::testing::Test {
 protected:
  std::shared_ptr<fake::Device> scanner(std::optional<std::string> uuid,
                                        std::optional<std::string> name = std::nullopt) {
    auto device = std::make_shared<fake::Device>(loop);
    device->uuidText = std::move(uuid);
    device->nameText = std::move(name);
    return device;
  }

  // Looks for `id` among `arrivals`; returns the scanner found, or none after checking that
  // the lookup failed as it should.
  std::shared_ptr<Device> find(std::vector<fake::Arrival> arrivals, const std::string& id,
                               LookupTimes times = {.limit = 300ms, .slice = 50ms}) {
    Browser browser(std::make_unique<fake::Browser>(loop, std::move(arrivals)), loop);
    std::shared_ptr<Device> result;
    auto status = qevtest::Capture::endOf([&] { result = lookup(loop, browser, id, times); });
    if (status) {
      EXPECT_EQ(status, 1);
      EXPECT_EQ(capture.events,
                (std::vector<nlohmann::json>{{{"event", "error"},
                                              {"code", "not_connected"},
                                              {"message", "The scanner is not connected."}}}));
    } else {
      EXPECT_TRUE(capture.events.empty());
    }
    capture.events.clear();
    return result;
  }

  RunLoop loop;
  qevtest::Capture capture;
};

TEST_F(Lookup, MatchesTheIdentifierAsTextAndTakesTheFirstToArrive) {
  auto byUuid = scanner("5A1E-01", "Office");
  auto byName = scanner(std::nullopt, "Office");
  auto first = scanner("twin", "First"), second = scanner("twin", "Second");
  auto nameless = scanner(std::nullopt);
  auto decomposed = scanner(std::nullopt, "Cafe\xCC\x81");  // e + combining acute
  auto notScanner = scanner("5A1E-02");
  notScanner->scanner = false;

  struct {
    const char* name;
    std::vector<fake::Arrival> arrivals;
    std::string id;
    std::shared_ptr<Device> expected;
  } cases[] = {
      {"by uuid", {{0ms, byName}, {5ms, byUuid}}, "5A1E-01", byUuid},
      {"a uuid hides the name", {{0ms, byUuid}}, "Office", nullptr},
      {"by name without uuid", {{0ms, byUuid}, {5ms, byName}}, "Office", byName},
      {"letter case counts", {{0ms, byUuid}}, "5a1e-01", nullptr},
      {"the first of two twins", {{0ms, first}, {5ms, second}}, "twin", first},
      {"canonically equal text", {{0ms, decomposed}}, "Caf\xC3\xA9", decomposed},
      {"the empty text finds a scanner with neither",
       {{0ms, byName}, {5ms, nameless}},
       "",
       nameless},
      {"a device that is no scanner", {{0ms, notScanner}}, "5A1E-02", nullptr},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(find(std::move(c.arrivals), c.id), c.expected);
  }
}

TEST_F(Lookup, SearchesAfterTheLastSliceBeforeGivingUp) {
  // One slice of 400 ms against a 100 ms limit: the slice runs on past the limit, and a
  // scanner arriving in it, after the limit, is still found.
  LookupTimes times{.limit = 100ms, .slice = 400ms};
  auto lateButInTime = scanner("late");
  EXPECT_EQ(find({{250ms, lateButInTime}}, "late", times), lateButInTime);
  auto tooLate = scanner("late");
  EXPECT_EQ(find({{2s, tooLate}}, "late", times), nullptr);
}

TEST_F(Lookup, AnExpiredLimitRunsNoSlice) {
  EXPECT_EQ(find({{0ms, scanner("ready")}}, "ready", {.limit = 0ms, .slice = 50ms}), nullptr);
}

TEST_F(Lookup, AnArrivingScannerEndsTheSliceAtOnce) {
  auto ready = scanner("ready");
  auto start = Clock::now();
  EXPECT_EQ(find({{10ms, ready}}, "ready", {.limit = 120s, .slice = 60s}), ready);
  // Without the early end the lookup would sit out the whole minute-long slice.
  EXPECT_LT(Clock::now() - start, 30s);
}

// Without its driver host, the lookup waited its whole limit and said "The scanner is not
// connected."; now it ends at once with the service's error.
TEST_F(Lookup, AServiceThatCannotLookForScannersEndsItAtOnce) {
  auto service = std::make_unique<fake::Browser>(loop, std::vector<fake::Arrival>{});
  service->failure = Error{"there is no qev-host.", Code::driverMissing};
  Browser browser(std::move(service), loop);
  auto status = qevtest::Capture::endOf(
      [&] { lookup(loop, browser, "test:0", {.limit = 24h, .slice = 1h}); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(capture.events,
            (std::vector<nlohmann::json>{{{"event", "error"},
                                          {"code", "driver_missing"},
                                          {"message",
                                           "The scanner's driver did not start: there is no "
                                           "qev-host."}}}));
}

}  // namespace
}  // namespace qev
