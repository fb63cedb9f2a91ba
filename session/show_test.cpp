#include "session/show.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <functional>

#include "testing/capture.h"
#include "testing/fake_scanner.h"

namespace qev {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

json error(const std::string& code, const std::string& message) {
  return {{"event", "error"}, {"code", code}, {"message", message}};
}

TEST(UnitEvent, TellsWhatAScanOfTheUnitWouldUse) {
  RunLoop loop;
  struct {
    const char* name;
    std::function<void(fake::Device&)> setup;
    UnitType unit;
    std::string line;
  } cases[] = {
      {"a range of resolutions is not listed",
       [](fake::Device& d) {
         d.supported.add(1, 1200);
         d.size = {200, 200};
       },
       flatbedUnit,
       R"({"event":"unit","unit":"flatbed","width_mm":200.0,"height_mm":200.0,"dpi_min":1,"dpi_max":1200,"duplex":false})"},
      {"a list is, in order, once each; millimetres in fixed point round to a tenth",
       [](fake::Device& d) {
         for (std::int64_t dpi : {300, 75, 1200, 150, 600, 300}) d.supported.add(dpi);
         d.size = {215.89999389648438, 297.19999694824219};
       },
       flatbedUnit,
       R"({"event":"unit","unit":"flatbed","width_mm":215.9,"height_mm":297.2,"dpi_min":75,"dpi_max":1200,"dpi":[75,150,300,600,1200],"duplex":false})"},
      {"a list and a range together are a range",
       [](fake::Device& d) {
         d.supported.add(50);
         d.supported.add(100, 600, 100);
       },
       feederUnit,
       R"({"event":"unit","unit":"feeder","width_mm":215.9,"height_mm":297.2,"dpi_min":50,"dpi_max":600,"duplex":false})"},
      {"a feeder that scans both sides",
       [](fake::Device& d) {
         d.supported.add(75, 600);
         d.duplex = true;
         d.size = {215.9, 355.6};
       },
       feederUnit,
       R"({"event":"unit","unit":"feeder","width_mm":215.9,"height_mm":355.6,"dpi_min":75,"dpi_max":600,"duplex":true})"},
      {"a flatbed never does, whatever its scanner says",
       [](fake::Device& d) {
         d.supported.add(75);
         d.duplex = true;
       },
       flatbedUnit,
       R"({"event":"unit","unit":"flatbed","width_mm":215.9,"height_mm":297.2,"dpi_min":75,"dpi_max":75,"dpi":[75],"duplex":false})"},
      {"a scanner that tells no resolution",
       [](fake::Device& d) {
         d.size = {0, 0};
       },
       feederUnit,
       R"({"event":"unit","unit":"feeder","width_mm":0.0,"height_mm":0.0,"duplex":false})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Device device(loop);
    c.setup(device);
    const Unit& unit = c.unit == flatbedUnit ? device.flatbed : device.feeder;
    EXPECT_EQ(line(unitEvent(unit)), c.line + "\n");
  }
}

class ShowSession : public ::testing::Test {
 protected:
  ShowSession() {
    device->units = {feederUnit, flatbedUnit};
    device->supported.add(75, 600);
  }

  // Begins a show and runs the loop until it ends the process; returns the status, or none.
  std::optional<int> run() {
    Show show(device);
    return qevtest::Capture::endOf([&] {
      show.begin();
      loop.runUntil(RunLoop::Clock::now() + 10s);
    });
  }

  std::vector<std::string> kinds() const {
    std::vector<std::string> out;
    for (const auto& e : capture.events) out.push_back(e.value("event", ""));
    return out;
  }

  RunLoop loop;
  std::shared_ptr<fake::Device> device = std::make_shared<fake::Device>(loop);
  qevtest::Capture capture;
};

TEST_F(ShowSession, SelectsEachUnitFlatbedFirstThenClosesAndEnds) {
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(kinds(), (std::vector<std::string>{"unit", "unit", "done"}));
  ASSERT_EQ(capture.events.size(), 3u);
  EXPECT_EQ(capture.events[0]["unit"], "flatbed");
  EXPECT_EQ(capture.events[1]["unit"], "feeder");
  EXPECT_EQ(capture.events[2], (json{{"event", "done"}}));
  // Nothing is set and nothing scanned: the units are only selected and looked at.
  EXPECT_EQ(device->calls,
            (std::vector<std::string>{"setDelegate", "requestOpenSession", "requestSelectUnit 0",
                                      "requestSelectUnit 3", "supportsDuplexScanning",
                                      "requestCloseSession"}));
}

TEST_F(ShowSession, EachFailureEndsTheRunWithItsError) {
  struct {
    const char* name;
    std::function<void(fake::Device&)> setup;
    std::vector<std::string> kinds;
    json last;
  } cases[] = {
      {"open fails: the cause's code",
       [](fake::Device& d) {
         d.openError = Error{"Device busy", Code::busy};
       },
       {"error"},
       error("busy", "The scanner did not open: Device busy")},
      {"open fails for a cause without a code",
       [](fake::Device& d) { d.openError = Error{"Error during device I/O"}; },
       {"error"},
       error("open_failed", "The scanner did not open: Error during device I/O")},
      {"a unit is refused",
       [](fake::Device& d) { d.selectError = Error{"Invalid argument"}; },
       {"error"},
       error("settings_refused", "The scanner did not take the settings: Invalid argument")},
      {"removed while opening",
       [](fake::Device& d) { d.removal = fake::Removal::whenOpening; },
       {"error"},
       error("disconnected", "The scanner was disconnected.")},
      {"removed while selecting",
       [](fake::Device& d) { d.removal = fake::Removal::whenSelecting; },
       {"error"},
       error("disconnected", "The scanner was disconnected.")},
      {"a scanner of one unit",
       [](fake::Device& d) { d.units = {feederUnit}; },
       {"unit", "done"},
       json{{"event", "done"}}},
      {"a scanner that tells no unit",
       [](fake::Device& d) { d.units = {}; },
       {"done"},
       json{{"event", "done"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    capture.events.clear();
    device = std::make_shared<fake::Device>(loop);
    device->units = {flatbedUnit, feederUnit};
    c.setup(*device);
    const bool succeeds = c.last["event"] == "done";
    EXPECT_EQ(run(), succeeds ? 0 : 1);
    EXPECT_EQ(kinds(), c.kinds);
    ASSERT_FALSE(capture.events.empty());
    EXPECT_EQ(capture.events.back(), c.last);
    bool closed = device->calls.back() == "requestCloseSession";
    EXPECT_EQ(closed, succeeds);
  }
}

TEST_F(ShowSession, TheDriverEndingOrAStopCompletesTheSessionWithItsError) {
  struct {
    const char* name;
    bool opened;  // whether the session had opened
    Error cause;
    json last;
  } cases[] = {
      {"the driver ends while the scanner opens", false,
       Error{"The scanner's driver stopped unexpectedly (Killed).", Code::driverStopped},
       error("driver_stopped",
             "The scanner did not open: The scanner's driver stopped unexpectedly (Killed).")},
      {"the driver ends while a unit is selected", true,
       Error{"The scanner's driver stopped unexpectedly (Segmentation fault).",
             Code::driverStopped},
       error("driver_stopped",
             "The scanner did not take the settings: The scanner's driver stopped unexpectedly "
             "(Segmentation fault).")},
      {"a stop while the scanner opens", false, Error{"Operation was canceled", Code::cancelled},
       error("cancelled", "The scan stopped: Operation was canceled")},
      {"a stop while a unit is selected", true, Error{"Operation was canceled", Code::cancelled},
       error("cancelled", "The scan stopped: Operation was canceled")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    capture.events.clear();
    Show show(device);
    auto status = qevtest::Capture::endOf([&] {
      if (c.opened) {
        // The flatbed is shown; the feeder is being selected when the session completes.
        device->units = {flatbedUnit, feederUnit};
        show.didOpen(*device, std::nullopt);
        show.didSelect(*device, device->flatbed, std::nullopt);
      }
      show.didComplete(*device, c.cause);
    });
    EXPECT_EQ(status, 1);
    ASSERT_FALSE(capture.events.empty());
    EXPECT_EQ(capture.events.back(), c.last);
  }
}

TEST(ShowRoad, AStopWhileTheScannerOpensCancelsTheSession) {
  // The default action, as a run started in the foreground has it.
  ::signal(SIGTERM, SIG_DFL);
  RunLoop loop;
  qevtest::Capture capture;
  // A scanner that is stopped as it opens: its open never answers.
  struct Stopped : fake::Device {
    using fake::Device::Device;
    void requestOpenSession() override {
      calls.push_back("requestOpenSession");
      ::kill(::getpid(), SIGTERM);
    }
  };
  auto scanner = std::make_shared<Stopped>(loop);
  scanner->uuidText = "office";
  scanner->units = {flatbedUnit};
  auto status = qevtest::Capture::endOf([&] {
    runShow(loop, std::make_unique<fake::Browser>(loop, std::vector<fake::Arrival>{{0ms, scanner}}),
            "office", {.limit = 5s, .slice = 50ms});
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(scanner->calls,
            (std::vector<std::string>{"setDelegate", "requestOpenSession", "requestCancel"}));
  ASSERT_EQ(capture.events.size(), 1u);
  EXPECT_EQ(capture.events[0], error("cancelled", "The scan stopped: Operation was cancelled"));
}

}  // namespace
}  // namespace qev
