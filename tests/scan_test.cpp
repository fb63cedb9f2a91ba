// `scan` through the real binary against SANE's test backend: the events a caller reads, the
// page files it finds, and the failures it is told about.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "testing/files.h"
#include "testing/jpeg.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"

namespace {

using qevtest::jpegInfo;
using qevtest::SaneConfig;
namespace fs = std::filesystem;

qevtest::Run scan(const SaneConfig& config, const std::string& out,
                  std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"scan", "--device", "test:0", "--out", out};
  args.insert(args.end(), more.begin(), more.end());
  return qevtest::qev(args, config.options());
}

TEST(Scan, FeederDeliversItsTenPagesThenDone) {
  SaneConfig config;
  qevtest::TempDir out;
  auto run = scan(config, out.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.events.size(), 12u) << run.out;
  EXPECT_EQ(run.events[0],
            (nlohmann::json{{"event", "opened"}, {"name", "Noname frontend-tester"}}));
  std::regex name(R"(QEV_\d{8}_\d{6}_(\d{4})\.jpg)");
  for (int n = 1; n <= 10; ++n) {
    SCOPED_TRACE(n);
    const auto& page = run.events[static_cast<std::size_t>(n)];
    EXPECT_EQ(page["event"], "page");
    EXPECT_EQ(page["n"], n);
    fs::path file = page.value("file", "");
    EXPECT_EQ(file.parent_path(), fs::path(out.path()));
    std::smatch m;
    std::string base = file.filename().string();
    ASSERT_TRUE(std::regex_match(base, m, name)) << base;
    EXPECT_EQ(std::stoi(m[1]), n);
    auto info = jpegInfo(file);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 2362);  // the feeder's whole 200 mm at 300 dpi
    EXPECT_EQ(info->height, 2362);
    EXPECT_EQ(info->components, 3);
  }
  EXPECT_EQ(run.events[11], (nlohmann::json{{"event", "done"}, {"pages", 10}}));
  EXPECT_TRUE(qevtest::names(out / ".qev-incoming").empty());
}

TEST(Scan, ResolutionChoiceShowsInThePixelSize) {
  struct Case {
    const char* dpi;
    int pixels;  // of the whole 200 mm glass
    int density;
  } cases[] = {
      {"100", 787, 100},   // offered
      {"150", 1181, 150},  // offered
      {"0", 7, 1},         // the smallest offered
  };
  SaneConfig config;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    qevtest::TempDir out;
    auto run = scan(config, out.path(), {"--source", "flatbed", "--dpi", c.dpi});
    EXPECT_EQ(run.status, 0);
    auto files = qevtest::pageFiles(run);
    ASSERT_EQ(files.size(), 1u) << run.out;  // a flatbed scans one page
    auto info = jpegInfo(files[0]);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, c.pixels);
    EXPECT_EQ(info->height, c.pixels);
    EXPECT_EQ(info->density, c.density);
    EXPECT_EQ(run.events.back(), (nlohmann::json{{"event", "done"}, {"pages", 1}}));
  }
}

// A request above every resolution the scanner offers gets the highest it offers, the nearest
// to the request, on a list as on a range; the page's JFIF density says which it got.
TEST(Scan, ADpiAboveEveryOfferedResolutionGetsTheHighest) {
  struct Case {
    const char* name;
    std::string resolution;  // the scanner's resolution option, as fault.conf writes it
    const char* dpi;
    int density;
  } cases[] = {
      {"a list, between its values: the next above", "int list 75 150 300", "200", 300},
      {"a list, above them all", "int list 75 150 300", "600", 300},
      {"a list, far above them all", "int list 75 150 300 600", "1200", 600},
      {"a range, above it", "int range 75 600 0", "1200", 600},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A glass of one square inch: a page of as many pixels as dots per inch.
    qevtest::FaultConfig config("[device]\nname = flatbed\nresolution = " + c.resolution +
                                "\narea = 25.4 25.4\n");
    qevtest::TempDir out;
    auto run = qevtest::qev({"scan", "--device", "fault:flatbed", "--out", out.path(), "--source",
                             "flatbed", "--dpi", c.dpi},
                            config.options());
    EXPECT_EQ(run.status, 0);
    auto files = qevtest::pageFiles(run);
    ASSERT_EQ(files.size(), 1u) << run.out;
    auto info = jpegInfo(files[0]);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->density, c.density);
    EXPECT_EQ(info->width, c.density);
  }
}

TEST(Scan, EveryFrameKindIsDelivered) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> config;
    int width;
  } cases[] = {
      {"three-pass", {{"three-pass", "true"}}, 787},
      {"three-pass, other order", {{"three-pass", "true"}, {"three-pass-order", "BGR"}}, 787},
      {"hand-scanner: height unknown", {{"hand-scanner", "true"}}, 433},  // 11 cm wide
      {"pixels lost at the line ends", {{"ppl-loss", "7"}}, 780},
      {"small reads", {{"read-limit", "true"}, {"read-limit-size", "997"}}, 787},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SaneConfig config(c.config);
    qevtest::TempDir out;
    auto run = scan(config, out.path(), {"--source", "flatbed", "--dpi", "100"});
    EXPECT_EQ(run.status, 0);
    auto files = qevtest::pageFiles(run);
    ASSERT_EQ(files.size(), 1u) << run.out;
    auto info = jpegInfo(files[0]);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, c.width);
    EXPECT_GT(info->height, 0);
    EXPECT_EQ(info->components, 3);
  }
}

TEST(Scan, AReadFailureStopsTheScanAndLeavesNoPartialPage) {
  struct Case {
    const char* status;
    const char* code;
    const char* message;
  } cases[] = {
      {"JAMMED", "jammed", "The scan stopped: Document feeder jammed"},
      {"COVER_OPEN", "cover_open", "The scan stopped: Scanner cover is open"},
      {"NO_DOCS", "feeder_empty", "The scan stopped: Document feeder out of documents"},
      {"IO_ERROR", "io_error", "The scan stopped: Error during device I/O"},
      {"ACCESS_DENIED", "access_denied", "The scan stopped: Access to resource has been denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    // Halfway through the first page of a batch.
    qevtest::FaultConfig config(std::string("[device]\nname = feeder\ntype = sheetfed scanner\n") +
                                "size = 40 30\npages = 3\nfail = 1 read " + c.status + "\n");
    qevtest::TempDir out;
    auto run =
        qevtest::qev({"scan", "--device", "fault:feeder", "--out", out.path()}, config.options());
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.events.size(), 2u) << run.out;
    EXPECT_EQ(run.events[0]["event"], "opened");
    EXPECT_EQ(run.events[1],
              (nlohmann::json{{"event", "error"}, {"code", c.code}, {"message", c.message}}));
    EXPECT_EQ(qevtest::names(out.path()), std::vector<std::string>{".qev-incoming"});
    EXPECT_TRUE(qevtest::names(out / ".qev-incoming").empty());
  }
}

TEST(Scan, AFileLeftInTheStagingFolderIsNeverReplaced) {
  SaneConfig config;
  qevtest::TempDir out;
  fs::create_directories(out / ".qev-incoming");
  std::ofstream(out / ".qev-incoming/qev-incoming-0001.jpg") << "left from before";
  auto run = scan(config, out.path(), {"--source", "flatbed", "--dpi", "50"});
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(qevtest::pageFiles(run).size(), 1u);
  EXPECT_TRUE(jpegInfo(qevtest::pageFiles(run)[0]));
  EXPECT_EQ(qevtest::readFile(out / ".qev-incoming/qev-incoming-0001.jpg"), "left from before");
}

}  // namespace
