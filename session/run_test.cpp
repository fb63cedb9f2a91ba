#include "session/run.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cli/names.h"
#include "platform/signals.h"
#include "testing/capture.h"
#include "testing/fake_scanner.h"
#include "testing/temp_dir.h"

namespace qev {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

class ScanRoad : public ::testing::Test {
 protected:
  ScanRoad() : saved(stamp) {
    stamp = "20261210_001500";
    // The default actions, as a run started in the foreground has them (one started in the
    // background by a script has SIGINT ignored).
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
  }
  ~ScanRoad() override { stamp = saved; }

  std::optional<int> run(std::vector<fake::Arrival> arrivals, const ScanRequest& request,
                         RunLoop::Clock::duration limit) {
    return qevtest::Capture::endOf([&] {
      runScan(loop, std::make_unique<fake::Browser>(loop, std::move(arrivals)), request,
              {.limit = limit, .slice = 50ms});
    });
  }

  std::string saved;
  qevtest::TempDir temp;
  const std::string dir = temp.path();
  RunLoop loop;
  qevtest::Capture capture;
};

TEST_F(ScanRoad, FindsTheScannerAndScansWithIt) {
  auto other = std::make_shared<fake::Device>(loop);
  other->uuidText = "other";
  auto wanted = std::make_shared<fake::Device>(loop);
  wanted->uuidText = "wanted";
  wanted->nameText = "Office";
  wanted->units = {flatbedUnit};
  wanted->pages = 1;
  std::string out = dir + "/out";
  EXPECT_EQ(
      run({{0ms, other}, {20ms, wanted}},
          {.device = "wanted", .out = out, .source = "flatbed", .duplex = false, .dpi = 600}, 5s),
      0);
  EXPECT_EQ(capture.events,
            (std::vector<json>{
                {{"event", "opened"}, {"name", "Office"}},
                {{"event", "page"}, {"file", out + "/QEV_20261210_001500_0001.jpg"}, {"n", 1}},
                {{"event", "done"}, {"pages", 1}}}));
  EXPECT_TRUE(other->calls.empty());
  EXPECT_EQ(wanted->calls.front(), "setDelegate");
}

TEST_F(ScanRoad, WithoutTheScannerNothingIsCreated) {
  std::string out = dir + "/out";
  EXPECT_EQ(run({}, {.device = "wanted", .out = out, .source = "feeder"}, 100ms), 1);
  EXPECT_EQ(capture.events, (std::vector<json>{{{"event", "error"},
                                                {"code", "not_connected"},
                                                {"message", "The scanner is not connected."}}}));
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(ScanRoad, AStopSignalCancelsTheScanAndKeepsItsPages) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    capture.events.clear();
    auto scanner = std::make_shared<fake::Device>(loop);
    scanner->uuidText = "feeder";
    scanner->units = {feederUnit};
    scanner->pages = 2;
    scanner->stalls = true;
    std::string out = dir + "/out" + std::to_string(signal);
    // Signalled once the second page is in place, with the scan still going.
    std::thread sender([&] {
      while (!fs::exists(out + "/QEV_20261210_001500_0002.jpg")) std::this_thread::sleep_for(5ms);
      ::kill(::getpid(), signal);
    });
    auto status = run({{0ms, scanner}}, {.device = "feeder", .out = out, .source = "feeder"}, 5s);
    sender.join();
    EXPECT_EQ(status, 1);
    ASSERT_EQ(capture.events.size(), 4u);
    EXPECT_EQ(capture.events.back(),
              (json{{"event", "error"},
                    {"code", "cancelled"},
                    {"message", "The scan stopped: Operation was cancelled"}}));
    EXPECT_EQ(scanner->calls.back(), "requestCancel");
    EXPECT_TRUE(fs::exists(out + "/QEV_20261210_001500_0001.jpg"));
    // The signal has its default action back once the run is over.
    struct sigaction now {};
    ::sigaction(signal, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
  }
}

// Before any scanner is found there is no session to cancel: the run ends at once, with the
// service's own error for a stop.
TEST_F(ScanRoad, AStopBeforeTheScannerIsFoundEndsWithTheServicesCancel) {
  // Sent before the run and held back until the run watches for stop signals, which lets it
  // through at once.
  holdStopSignals();
  ::pthread_kill(::pthread_self(), SIGTERM);
  auto status = run({}, {.device = "wanted", .out = dir + "/out", .source = "feeder"}, 30s);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(capture.events,
            (std::vector<json>{{{"event", "error"},
                                {"code", "cancelled"},
                                {"message", "The scan stopped: Operation was cancelled"}}}));
}

}  // namespace
}  // namespace qev
