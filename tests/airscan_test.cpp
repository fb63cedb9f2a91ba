// Driverless network scanners: sane-airscan speaks eSCL to tests/escl_server.py, a scanner
// served on 127.0.0.1 inside a network of the test's own, and qev drives it through SANE as it
// would a scanner on the office network: its flatbed, its feeder, both sides of its sheets,
// and the ways such a scanner fails (an empty feeder, a jam, an open cover, a scanner that dies
// or stops answering in the middle of a batch).

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "testing/jpeg.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/spawn.h"
#include "testing/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr int port = 8090;
// The stable id: sane-airscan names the device "airscan:e0:Office", with a counter that
// follows discovery order; qev drops the counter.
const std::string device = "airscan:e:Office";

// The scanner's whole area, A4, in pixels at `dpi` (escl_server.py works in 1/300 inch).
int width(int dpi) { return 2480 * dpi / 300; }
int height(int dpi) { return 3508 * dpi / 300; }

// escl_server.py with `flags`, in a process group of its own that is ended with it.
class Scanner {
 public:
  explicit Scanner(const std::vector<std::string>& flags) {
    std::vector<std::string> args = {"/usr/bin/python3",
                                     std::string(QEV_SOURCE_DIR) + "/tests/escl_server.py",
                                     "--port", std::to_string(port)};
    args.insert(args.end(), flags.begin(), flags.end());
    server.start({.args = args, .group = true});
    if (server.running() && !qevtest::listening(port, 10)) server.stop();
  }
  bool running() { return server.running(); }

 private:
  qevtest::Spawned server;
};

// SANE with sane-airscan alone, which knows the scanner by its address. Discovery is off: no
// mDNS daemon runs in the test's network.
class Airscan : public qevtest::SaneConfig {
 public:
  Airscan() : SaneConfig({}, {"airscan"}) {
    write("airscan.conf", "[devices]\n\"Office\" = http://127.0.0.1:" + std::to_string(port) +
                              "/eSCL, eSCL\n[options]\ndiscovery = disable\n");
  }
};

class Escl : public testing::Test {
 protected:
  void SetUp() override {
    if (!qevtest::privateNetwork()) GTEST_SKIP() << "needs root for a network of its own";
  }
};

json done(int pages) { return {{"event", "done"}, {"pages", pages}}; }
json error(const std::string& code, const std::string& message) {
  return {{"event", "error"}, {"code", code}, {"message", message}};
}

// What every scan must show, however it ended: nothing on standard error, nothing left in the
// staging folder; `opened` first, then `pages` pages numbered from 1, each a whole JPEG of the
// scanner's area at `dpi` and together all that is in `out`; then `last` as the one final
// line, with the status that goes with it.
void expectScan(const qevtest::Run& run, const std::string& out, int pages, const json& last,
                int dpi) {
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(qevtest::names(out + "/.qev-incoming").empty());
  EXPECT_EQ(run.status, last["event"] == "done" ? 0 : 1);
  ASSERT_EQ(run.events.size(), static_cast<std::size_t>(pages) + 2) << run.out;
  EXPECT_EQ(run.events.front(), (json{{"event", "opened"}, {"name", "eSCL Office"}}));
  EXPECT_EQ(run.events.back(), last);
  std::vector<std::string> files;
  for (int n = 1; n <= pages; ++n) {
    const auto& page = run.events[static_cast<std::size_t>(n)];
    SCOPED_TRACE(page.dump());
    EXPECT_EQ(page["event"], "page");
    EXPECT_EQ(page["n"], n);
    std::string file = page.value("file", "");
    files.push_back(std::filesystem::path(file).filename());
    auto info = qevtest::jpegInfo(file);
    ASSERT_TRUE(info) << "not a whole JPEG";
    EXPECT_EQ(info->width, width(dpi));
    EXPECT_EQ(info->height, height(dpi));
    EXPECT_EQ(info->components, 3);
  }
  auto present = qevtest::names(out);
  std::erase(present, ".qev-incoming");
  std::sort(files.begin(), files.end());
  EXPECT_EQ(present, files);
}

TEST_F(Escl, ListShowsTheScannerWithItsFlatbedAndFeeder) {
  struct Case {
    const char* name;
    std::vector<std::string> server;
    bool flatbed, feeder;
  } cases[] = {
      {"flatbed and feeder", {}, true, true},
      {"a flatbed alone", {"--feeder", "no"}, true, false},
      {"a feeder alone", {"--flatbed", "no"}, false, true},
  };
  Airscan config;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scanner scanner(c.server);
    ASSERT_TRUE(scanner.running());
    auto run = qevtest::qev({"list", "--wait", "1"}, config.options(30s));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.events, (std::vector<json>{{{"event", "device"},
                                              {"id", device},
                                              {"name", "eSCL Office"},
                                              {"transport", "network"},
                                              {"feeder", c.feeder},
                                              {"flatbed", c.flatbed}},
                                             {{"event", "done"}}}));
  }
}

TEST_F(Escl, ScansReportWhatTheScannerDid) {
  struct Case {
    const char* name;
    std::vector<std::string> server;  // flags of escl_server.py
    std::vector<std::string> args;    // of qev scan, besides the device and folder
    int pages;
    json last;
    int dpi;
  } cases[] = {
      {"the flatbed", {}, {"--source", "flatbed", "--dpi", "150"}, 1, done(1), 150},
      {"a feeder of three sheets", {"--sheets", "3"}, {"--dpi", "75"}, 3, done(3), 75},
      {"both sides of three sheets",
       {"--sheets", "3", "--duplex", "yes"},
       {"--dpi", "75", "--duplex"},
       6,
       done(6),
       75},
      // sane-airscan decodes PNG, not JPEG, from a scanner that offers it.
      {"PNG pages at the default resolution",
       {"--sheets", "2", "--formats", "image/png"},
       {},
       2,
       done(2),
       300},
      // Before any page, an empty feeder is a failure, not an empty batch.
      {"an empty feeder",
       {"--sheets", "0"},
       {"--dpi", "75"},
       0,
       error("feeder_empty", "The scan stopped: Document feeder out of documents"),
       75},
      {"a jam after two sheets",
       {"--sheets", "5", "--jam-after", "2"},
       {"--dpi", "75"},
       2,
       error("jammed", "The scan stopped: Document feeder jammed"),
       75},
      {"a jam after one sheet of a duplex batch",
       {"--sheets", "3", "--duplex", "yes", "--jam-after", "1"},
       {"--dpi", "75", "--duplex"},
       2,
       error("jammed", "The scan stopped: Document feeder jammed"),
       75},
      {"an open cover",
       {"--cover-open", "yes"},
       {"--dpi", "75"},
       0,
       error("cover_open", "The scan stopped: Scanner cover is open"),
       75},
      // The device stays configured, so it is still listed: an I/O error, not a lost scanner.
      {"a scanner that dies after two pages",
       {"--sheets", "5", "--exit-after", "2"},
       {"--dpi", "75"},
       2,
       error("io_error", "The scan stopped: Error during device I/O"),
       75},
      {"a feeder asked of a flatbed alone",
       {"--feeder", "no"},
       {"--dpi", "75"},
       0,
       error("no_feeder", "This scanner has no document feeder."),
       75},
  };
  Airscan config;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scanner scanner(c.server);
    ASSERT_TRUE(scanner.running());
    qevtest::TempDir out;
    std::vector<std::string> args = {"scan", "--device", device, "--out", out.path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = qevtest::qev(args, config.options(60s));
    expectScan(run, out.path(), c.pages, c.last, c.dpi);
  }
}

// sane-airscan waits for a page with no time limit, and this scanner never sends its third:
// a SIGTERM must still end the run at once, with the two pages it has, and clean.
TEST_F(Escl, SigtermEndsAScanWhoseScannerStoppedAnswering) {
  Scanner scanner({"--sheets", "5", "--hang-after", "2"});
  ASSERT_TRUE(scanner.running());
  Airscan config;
  qevtest::TempDir out;
  std::chrono::steady_clock::time_point signalled;
  auto options = config.options(10s);
  options.onLine = [&](int pid, const qevtest::Run& sofar) {
    auto line = json::parse(sofar.lines.back(), nullptr, false);
    if (!line.is_object() || line.value("event", "") != "page" || line.value("n", 0) != 2) return;
    // The third page is asked for as soon as the second has arrived; give qev the moment
    // it takes to be waiting for it.
    std::this_thread::sleep_for(500ms);
    kill(pid, SIGTERM);
    signalled = std::chrono::steady_clock::now();
  };
  auto run =
      qevtest::qev({"scan", "--device", device, "--out", out.path(), "--dpi", "75"}, options);
  auto ended = std::chrono::steady_clock::now();
  ASSERT_NE(signalled, std::chrono::steady_clock::time_point{}) << run.out;
  EXPECT_LT(ended - signalled, 3s);
  expectScan(run, out.path(), 2, error("cancelled", "The scan stopped: Operation was canceled"),
             75);
}

}  // namespace
