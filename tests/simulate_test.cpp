// `qev simulate` through the real binary: its events, its files and its pace.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <regex>
#include <set>

#include "testing/files.h"
#include "testing/run.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

// Width and height from the JPEG's frame header, or {0, 0} when the bytes are no JPEG that
// starts and ends as one should.
std::pair<int, int> jpegSize(const std::string& bytes) {
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() < 4 || at(0) != 0xFF || at(1) != 0xD8 || at(bytes.size() - 2) != 0xFF ||
      at(bytes.size() - 1) != 0xD9) {
    return {0, 0};
  }
  for (std::size_t i = 2; i + 9 < bytes.size() && at(i) == 0xFF;) {
    unsigned marker = at(i + 1);
    std::size_t length = at(i + 2) * 256u + at(i + 3);
    if (marker >= 0xC0 && marker <= 0xC2) {
      return {at(i + 7) * 256 + at(i + 8), at(i + 5) * 256 + at(i + 6)};
    }
    i += 2 + length;
  }
  return {0, 0};
}

// Checks that the run wrote `count` pages into `out` and reported each, in order, then done.
void expectPages(const qevtest::Run& run, const std::string& out, int count) {
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.events.size(), static_cast<std::size_t>(count) + 1);
  std::string stamp;
  for (int n = 1; n <= count; ++n) {
    SCOPED_TRACE(n);
    const json& page = run.events[n - 1];
    ASSERT_EQ(page["event"], "page");
    EXPECT_EQ(page["n"], n);
    std::string file = page["file"];
    std::smatch parts;
    ASSERT_TRUE(
        std::regex_match(file, parts, std::regex(R"((.*)/QEV_(\d{8}_\d{6})_(\d{4})\.jpg)")));
    EXPECT_EQ(parts[1], out);
    if (n == 1) stamp = parts[2];
    EXPECT_EQ(parts[2], stamp);
    EXPECT_EQ(std::stoi(parts[3]), n);
  }
  EXPECT_EQ(run.events.back(), (json{{"event", "done"}, {"pages", count}}));
}

TEST(Simulate, WritesDistinctJpegPagesIntoAFolderItCreates) {
  qevtest::TempDir dir;
  const std::string out = dir / "new/pages";
  auto run = qevtest::qev({"simulate", "--out", out, "--pages", "3"});
  expectPages(run, out, 3);
  ASSERT_EQ(run.events.size(), 4u);

  std::set<std::string> contents;
  for (int n = 0; n < 3; ++n) {
    std::string bytes = qevtest::readFile(run.events[n]["file"]);
    EXPECT_EQ(jpegSize(bytes), (std::pair{744, 1039}));
    contents.insert(bytes);
  }
  EXPECT_EQ(contents.size(), 3u);
  std::size_t files = std::distance(fs::directory_iterator(out), fs::directory_iterator());
  EXPECT_EQ(files, 3u) << "no partial files are left";

  // A pause of 0.3 s follows every page, the last one included, so line k (from 0) cannot
  // arrive before k pauses have passed. The reader may wake late and take two lines at once,
  // so only these lower bounds hold, not the gap between two lines.
  ASSERT_EQ(run.times.size(), 4u);
  for (int k = 1; k < 4; ++k) EXPECT_GE(run.times[k], k * 300ms) << k;
}

TEST(Simulate, PagesOptionGivesTheCount) {
  struct Case {
    std::vector<std::string> pages;
    int count;
  } cases[] = {
      {{}, 4},
      {{"--pages", "abc"}, 4},
      {{"--pages", "0"}, 1},
      {{"--pages", "-3"}, 1},
      {{"--pages", "+7"}, 7},
      {{"--pages", "9223372036854775808"}, 4},
      {{"--pages"}, 4},
  };
  qevtest::TempDir dir;
  // The runs are mostly pauses: run them side by side.
  std::vector<std::future<qevtest::Run>> runs;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::vector<std::string> args{"simulate", "--out", dir / std::to_string(i)};
    args.insert(args.end(), cases[i].pages.begin(), cases[i].pages.end());
    runs.push_back(std::async(std::launch::async, [args] { return qevtest::qev(args); }));
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].pages.empty() ? "(none)" : cases[i].pages.back());
    expectPages(runs[i].get(), dir / std::to_string(i), cases[i].count);
  }
}

TEST(Simulate, AnExistingPageFileKeepsItsContentAndTheNewPageStaysPartial) {
  qevtest::TempDir dir;
  // The run stamp is the start time in the time zone given; a page 1 of "another run" waits
  // under every stamp the run can get.
  std::time_t now = std::time(nullptr);
  for (std::time_t t = now; t < now + 5; ++t) {
    std::tm utc{};
    gmtime_r(&t, &utc);
    char name[64];
    std::strftime(name, sizeof name, "QEV_%Y%m%d_%H%M%S_0001.jpg", &utc);
    std::ofstream(dir / name) << "another run's page";
  }
  qevtest::Options utc;
  utc.env["TZ"] = "UTC";
  auto run = qevtest::qev({"simulate", "--out", dir.path(), "--pages", "1"}, utc);
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.events.size(), 2u);
  std::string file = run.events[0]["file"];
  ASSERT_TRUE(file.ends_with("_0001.jpg.part")) << file;
  EXPECT_EQ(run.events[0]["n"], 1);
  EXPECT_EQ(jpegSize(qevtest::readFile(file)), (std::pair{744, 1039}));
  EXPECT_EQ(qevtest::readFile(file.substr(0, file.size() - 5)), "another run's page");
  EXPECT_EQ(run.events[1], (json{{"event", "done"}, {"pages", 1}}));
}

TEST(Simulate, AFolderThatCannotBeWrittenEndsWithTheCause) {
  qevtest::TempDir dir;
  std::ofstream(dir / "plain") << "x";
  // Root may write anywhere; a path through a plain file defeats it all the same.
  auto run = qevtest::qev({"simulate", "--out", dir / "plain/pages", "--pages", "2"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.events.size(), 1u);
  EXPECT_EQ(run.events[0], (json{{"event", "error"},
                                 {"code", "write_failed"},
                                 {"message", "Could not write a test page: Not a directory"}}));
  EXPECT_EQ(qevtest::readFile(dir / "plain"), "x");
}

}  // namespace
