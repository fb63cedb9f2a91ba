// `show` through the real binary: what SANE's test scanner can do, and every way a show
// ends in an error (a scanner that is not there, does not open, or whose driver stops). The
// emulated layouts of real backends are in tests/backends_test.cpp.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/files.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

TEST(Show, TellsTheTestScannersUnitsFlatbedFirst) {
  qevtest::SaneConfig config;
  qevtest::TempDir cwd;
  auto options = config.options();
  options.cwd = cwd.path();
  auto run = qevtest::qev({"show", "--device", "test:0"}, options);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  // 200 x 200 mm, any resolution from 1 to 1200 (a range, so no list), one side.
  std::vector<std::string> want = {
      R"({"event":"unit","unit":"flatbed","width_mm":200.0,"height_mm":200.0,"dpi_min":1,"dpi_max":1200,"duplex":false})",
      R"({"event":"unit","unit":"feeder","width_mm":200.0,"height_mm":200.0,"dpi_min":1,"dpi_max":1200,"duplex":false})",
      R"({"event":"done"})"};
  EXPECT_EQ(run.lines, want);
  // Nothing is scanned, and nothing is made where it runs.
  EXPECT_EQ(qevtest::names(cwd.path()), std::vector<std::string>{});
}

// What the fault backend's device did while shown: it was opened and closed, each unit was
// selected, and nothing was started.
TEST(Show, OpensOnlyItsScannerSelectsEachUnitAndScansNothing) {
  qevtest::TempDir dir;
  const std::string shown = dir / "shown", other = dir / "other";
  qevtest::FaultConfig config("[device]\nname = shown\nsource = Flatbed, ADF\nrecord = " + shown +
                              "\n[device]\nname = other\nsource = Flatbed, ADF\nrecord = " + other +
                              "\n");
  auto run = qevtest::qev({"show", "--device", "fault:shown"}, config.options());
  EXPECT_EQ(run.status, 0) << run.out;
  std::vector<std::string> kinds;
  for (const auto& e : run.events) kinds.push_back(e.value("event", ""));
  EXPECT_EQ(kinds, (std::vector<std::string>{"unit", "unit", "done"}));
  auto record = qevtest::readFile(shown);
  std::erase(record, '\r');
  std::string calls;
  for (std::size_t at = 0; at < record.size();) {
    auto nl = record.find('\n', at);
    std::string line = record.substr(at, nl - at);
    if (line != "devices") calls += line + "\n";
    at = nl == std::string::npos ? record.size() : nl + 1;
  }
  EXPECT_EQ(calls, "open\nsource=Flatbed\nsource=ADF\ncancel\nclose\n");
  EXPECT_EQ(qevtest::readFile(other).find("open"), std::string::npos);
}

TEST(Show, EachFailureEndsWithItsCodeAndItsMessage) {
  enum class Stop { none, onHang };
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string habit;  // of the scanner `fault:d`
    std::string code;
    std::string message;
    Stop stop = Stop::none;
  } cases[] = {
      {"an unknown id",
       {"show", "--device", "fault:other"},
       "",
       "not_connected",
       "The scanner is not connected."},
      {"a busy scanner",
       {"show", "--device", "fault:d"},
       "busy = yes\n",
       "busy",
       "The scanner did not open: Device busy"},
      {"an open that fails",
       {"show", "--device", "fault:d"},
       "fail = open IO_ERROR\n",
       "open_failed",
       "The scanner did not open: Error during device I/O"},
      {"a unit refused",
       {"show", "--device", "fault:d"},
       "source = Flatbed, ADF\nfail = set source INVAL\n",
       "settings_refused",
       "The scanner did not take the settings: Invalid argument"},
      {"a scanner unplugged as a unit is selected",
       {"show", "--device", "fault:d"},
       "source = Flatbed, ADF\nremove = set source\n",
       "disconnected",
       "The scanner was disconnected."},
      {"a driver that crashes as it opens the scanner",
       {"show", "--device", "fault:d"},
       "crash = open segv\n",
       "driver_stopped",
       "The scanner did not open: The scanner's driver stopped unexpectedly (Segmentation "
       "fault)."},
      {"a driver that exits as it opens the scanner",
       {"show", "--device", "fault:d"},
       "crash = open exit\n",
       "driver_stopped",
       "The scanner did not open: The scanner's driver stopped unexpectedly (exit status 3)."},
      // The backend never returns: the stop kills the host after its grace.
      {"a stop while the scanner hangs as it opens",
       {"show", "--device", "fault:d"},
       "hang = open\n",
       "cancelled",
       "The scan stopped: Operation was canceled",
       Stop::onHang},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir dir;
    const std::string record = dir / "record";
    qevtest::FaultConfig config("[device]\nname = d\nrecord = " + record + "\n" + c.habit);
    auto options = config.options();
    if (c.stop == Stop::onHang) {
      options.signalWhen = [&](const qevtest::Run&) { return qevtest::recorded(record, "hang"); };
    }
    auto run = qevtest::qev(c.args, options);
    ASSERT_NO_FATAL_FAILURE(qevtest::expectFailed(run, c.code, c.message));
    // The error is the only line: no unit of a scanner that was not shown whole.
    EXPECT_EQ(run.events.size(), 1u) << run.out;
  }
}

}  // namespace
