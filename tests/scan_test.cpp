// `scan` through the real binary: the events a caller reads and the page files it finds, at
// the resolution it asked for, from every kind of frame a scanner sends. The scanner is
// SANE's test backend, or the fault backend where a scanner must offer or send what the test
// backend cannot (a list of resolutions, frames of other depths, lines padded or cut short).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
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

// Scans the flatbed of `device` at `dpi` into a folder of its own: the facts of the page
// file, checked to be the one page of a run that succeeded; none when there is no such page.
std::optional<qevtest::JpegInfo> flatbedPage(const std::string& device, const char* dpi,
                                             const qevtest::Options& options) {
  qevtest::TempDir out;
  auto run = qevtest::qev(
      {"scan", "--device", device, "--out", out.path(), "--source", "flatbed", "--dpi", dpi},
      options);
  EXPECT_EQ(run.status, 0);
  // A flatbed scans one page, and the run ends with it.
  auto files = qevtest::pageFiles(run);
  if (files.size() != 1 || run.events.back() != nlohmann::json{{"event", "done"}, {"pages", 1}}) {
    ADD_FAILURE() << "not one page, then done:\n" << run.out;
    return std::nullopt;
  }
  return jpegInfo(files[0]);
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
    auto info = flatbedPage("test:0", c.dpi, config.options());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, c.pixels);
    EXPECT_EQ(info->height, c.pixels);
    EXPECT_EQ(info->density, c.density);
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
    auto info = flatbedPage("fault:flatbed", c.dpi, config.options());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->density, c.density);
    EXPECT_EQ(info->width, c.density);
  }
}

TEST(Scan, EveryFrameKindBecomesAPageOfItsShape) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> test;  // changes to SANE's test backend
    std::string fault;              // or, when given: the lines of a flatbed of the fault backend
    int width, height, components;  // height -1: any (a hand scanner stops where it likes)
  } cases[] = {
      // The whole 200 mm glass at 100 dpi.
      {"three-pass", {{"three-pass", "true"}}, "", 787, 787, 3},
      {"three-pass, blue first",
       {{"three-pass", "true"}, {"three-pass-order", "BGR"}},
       "",
       787,
       787,
       3},
      {"three-pass, green first",
       {{"three-pass", "true"}, {"three-pass-order", "GBR"}},
       "",
       787,
       787,
       3},
      {"hand-scanner: height unknown", {{"hand-scanner", "true"}}, "", 433, -1, 3},  // 11 cm
      {"pixels lost at the line ends", {{"ppl-loss", "7"}}, "", 780, 787, 3},
      {"small reads", {{"read-limit", "true"}, {"read-limit-size", "997"}}, "", 787, 787, 3},
      // Frames of the size the fault backend is told.
      {"gray", {}, "frame = gray\nsize = 10 4\n", 10, 4, 1},
      {"gray, 16 bits", {}, "frame = gray\ndepth = 16\nsize = 10 4\n", 10, 4, 1},
      {"colour, 16 bits", {}, "depth = 16\nsize = 10 4\n", 10, 4, 3},
      {"lineart", {}, "frame = gray\ndepth = 1\nsize = 13 5\n", 13, 5, 1},
      {"padded lines", {}, "padding = 5\nsize = 10 4\n", 10, 4, 3},
      {"height unknown until the end", {}, "unknown-lines = yes\nsize = 10 4\n", 10, 4, 3},
      {"more bytes than announced", {}, "extra = 100\nsize = 10 4\n", 10, 4, 3},
      // Two lines and most of a third: the page has the two whole lines sent.
      {"fewer bytes than announced", {}, "short = 35\nsize = 10 4\n", 10, 2, 3},
      {"reads that stop mid-line", {}, "chunk = 7\nsize = 10 4\n", 10, 4, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<SaneConfig> test;
    std::optional<qevtest::FaultConfig> fault;
    qevtest::Options options;
    std::string device = "test:0";
    if (c.fault.empty()) {
      options = test.emplace(c.test).options();
    } else {
      options =
          fault.emplace("[device]\nname = s\nsource = Flatbed\nmode = Color, Gray\n" + c.fault)
              .options();
      device = "fault:s";
    }
    auto info = flatbedPage(device, "100", options);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, c.width);
    if (c.height > 0) {
      EXPECT_EQ(info->height, c.height);
    }
    EXPECT_GT(info->height, 0);
    EXPECT_EQ(info->components, c.components);
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
