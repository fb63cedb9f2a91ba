// Pages that are cut off, through the real binary against real SANE: by a stop in the middle
// of a page, by a frame that ends before the lines it announced, by a frame without a line.
// A caller gets whole pages of the lines the scanner sent, or no page at all; never a page
// made up in part, and never a file of one left behind.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/jpeg.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;

const nlohmann::json canceled = {{"event", "error"},
                                 {"code", "cancelled"},
                                 {"message", "The scan stopped: Operation was canceled"}};

// A feeder of slow gray pages 400 × 1500: a read gives 4 lines after 5 ms, so that a page
// takes seconds and its first band (328 lines) is written well before its end.
std::string slowFeeder(const std::string& afterCancel, const std::string& record) {
  return "[device]\nname = slow\ntype = sheetfed scanner\nframe = gray\nsize = 400 1500\n"
         "chunk = 1600\ndelay = 5\npages = 3\nafter-cancel = " +
         afterCancel + "\nrecord = " + record + "\n";
}

// SIGTERM while a page is being read, once its first band is in its file: the page is
// dropped whatever the backend answers after its cancel (SANE's test backend ends the frame
// with EOF, as if it were whole), and the pages before it stay.
TEST(CutPage, AStopMidPageDeliversNoPartOfIt) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> test;  // SANE's test backend: test.conf changes
    std::string afterCancel;                  // else the fault backend's slow feeder's
    std::vector<std::string> args;
    int cut;            // the page in flight when the stop comes, from 1
    int width, height;  // of each page before it
  } cases[] = {
      {"the test backend's flatbed",
       {{"read-delay", "true"}, {"read-delay-duration", "50000"}},
       "",
       {"--source", "flatbed", "--dpi", "300"},
       1,
       0,
       0},
      {"the test backend's feeder, page 2",
       {{"read-delay", "true"}, {"read-delay-duration", "200000"}},
       "",
       {"--dpi", "100"},
       2,
       787,
       787},
      {"EOF after the cancel, page 2", {}, "eof", {}, 2, 400, 1500},
      {"CANCELLED after the cancel, page 2", {}, "cancelled", {}, 2, 400, 1500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir dir;
    std::string out = dir / "out";
    const bool byTest = c.afterCancel.empty();
    std::optional<qevtest::SaneConfig> test;
    std::optional<qevtest::FaultConfig> fault;
    if (byTest) {
      test.emplace(c.test);
    } else {
      fault.emplace(slowFeeder(c.afterCancel, dir / "record"));
    }
    auto options = byTest ? test->options(60s) : fault->options(60s);
    options.signalWhen = [&](const qevtest::Run& sofar) {
      return qevtest::pagesSoFar(sofar) == static_cast<std::size_t>(c.cut - 1) &&
             qevtest::pageInFlight(out);
    };
    std::vector<std::string> args = {"scan", "--device", byTest ? "test:0" : "fault:slow", "--out",
                                     out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = qevtest::qev(args, options);

    EXPECT_GT(run.signalled.count(), 0) << "no page was seen in flight";
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back(), canceled) << run.out;
    auto files = qevtest::pageFiles(run);
    ASSERT_EQ(files.size(), static_cast<std::size_t>(c.cut - 1)) << run.out;
    for (const auto& file : files) {
      SCOPED_TRACE(file);
      auto info = qevtest::jpegInfo(file);
      ASSERT_TRUE(info);
      EXPECT_EQ(info->width, c.width);
      EXPECT_EQ(info->height, c.height);
      EXPECT_TRUE(qevtest::wholeJpeg(file));
    }
    EXPECT_EQ(qevtest::pagesIn(out).size(), files.size());
    EXPECT_EQ(qevtest::names(out + "/.qev-incoming"), std::vector<std::string>{});
    if (!byTest) {
      EXPECT_TRUE(qevtest::recorded(dir / "record", "cancel"));
    }
  }
}

// A frame that ends (EOF, no stop) before the lines it announced makes a page of the lines
// sent, whether its height was announced or not; a frame without a whole line is no page and
// fails the scan.
TEST(CutPage, AFrameThatEndsEarlyGivesThePageItsLinesAndNoMore) {
  // Gray pages of 10 × 8: 80 bytes announced.
  const std::string page = "frame = gray\nsize = 10 8\n";
  const std::string flatbed = "[device]\nname = s\ntype = flatbed scanner\n" + page;
  const std::string feeder = "[device]\nname = s\ntype = sheetfed scanner\npages = 2\n" + page;
  struct Case {
    const char* name;
    std::string conf;
    std::string source;
    int height;           // of each page; 0: no page
    std::string message;  // of the final error; empty: `done`
  } cases[] = {
      {"three lines and a half of eight", flatbed + "short = 45\n", "flatbed", 3, ""},
      {"three lines and a half, height unknown", flatbed + "short = 45\nunknown-lines = yes\n",
       "flatbed", 3, ""},
      {"every line on a feeder, height unknown", feeder + "unknown-lines = yes\n", "feeder", 8, ""},
      {"three lines and a half on a feeder", feeder + "short = 45\n", "feeder", 3, ""},
      {"no line", flatbed + "short = 80\n", "flatbed", 0,
       "The scan stopped: Image size not supported by JPEG"},
      {"half a line, height unknown", flatbed + "short = 75\nunknown-lines = yes\n", "flatbed", 0,
       "The scan stopped: Image size not supported by JPEG"},
      {"no line on a feeder's first sheet", feeder + "short = 80\n", "feeder", 0,
       "The scan stopped: Image size not supported by JPEG"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::FaultConfig config(c.conf);
    qevtest::TempDir out;
    auto run =
        qevtest::qev({"scan", "--device", "fault:s", "--source", c.source, "--out", out.path()},
                     config.options());
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.events.empty());
    auto files = qevtest::pageFiles(run);
    if (c.height == 0) {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(files, std::vector<std::string>{});
      EXPECT_EQ(run.events.back(),
                (nlohmann::json{{"event", "error"}, {"code", "io_error"}, {"message", c.message}}));
    } else {
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.events.back()["event"], "done") << run.out;
      EXPECT_FALSE(files.empty());
    }
    for (const auto& file : files) {
      SCOPED_TRACE(file);
      auto image = qevtest::decodeFile(file);
      ASSERT_TRUE(image);
      EXPECT_EQ(image->width, 10);
      EXPECT_EQ(image->height, c.height);
      // The last line is the scanner's, (x + y) & 0xff, not white.
      EXPECT_NEAR(image->at(0, c.height - 1).red, c.height - 1, 20);
    }
    EXPECT_EQ(qevtest::pagesIn(out.path()).size(), files.size());
    EXPECT_EQ(qevtest::names(out / ".qev-incoming"), std::vector<std::string>{});
  }
}

}  // namespace
