// qev through the real binary against the fault-injecting SANE backend: what SANE's test
// backend cannot do (odd texts, other option shapes, failures after pages, a scanner that is
// unplugged, one that is busy), and what a caller is told about each.

#include <gtest/gtest.h>

#include "testing/jpeg.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"

namespace {

using Faults = qevtest::FaultConfig;

nlohmann::json error(const std::string& code, const std::string& message) {
  return {{"event", "error"}, {"code", code}, {"message", message}};
}

TEST(Faults, ListShowsWhatEachDeviceOffersInValidText) {
  Faults faults(R"([device]
name = flatbed
vendor = Fault
model = Flatbed 1
type = flatbed scanner
source = Flatbed
[device]
name = feeder
model = "  Feeder \"Duplex\"  "
vendor = ""
type = flatbed scanner
source = FlatBed, ADF Front, ADF Duplex
[device]
name = sheetfed
vendor = ""
model = ""
type = sheetfed scanner
[device]
name = busy
type = sheetfed scanner
source = Flatbed, ADF
busy = yes
[device]
name = odd\xFF
vendor = "\xFFVendor\t"
model = Model\xC3\x28
type = virtual device
)");
  auto run = qevtest::qev({"list", "--wait", "1"}, faults.options());
  EXPECT_EQ(run.status, 0);
  auto record = [](std::string id, std::string name, std::string transport, bool feeder,
                   bool flatbed) {
    return nlohmann::json{{"event", "device"},      {"id", id},         {"name", name},
                          {"transport", transport}, {"feeder", feeder}, {"flatbed", flatbed}};
  };
  ASSERT_EQ(run.events.size(), 6u) << run.out;
  EXPECT_EQ(run.events[0], record("fault:flatbed", "Fault Flatbed 1", "", false, true));
  EXPECT_EQ(run.events[1], record("fault:feeder", "Feeder \"Duplex\"", "", true, true));
  // No name at all; no source option: a sheetfed scanner is a feeder.
  EXPECT_EQ(run.events[2], record("fault:sheetfed", "Scanner", "", true, false));
  // Busy when probed: its type decides until it is opened.
  EXPECT_EQ(run.events[3], record("fault:busy", "Fault Injector", "", true, false));
  EXPECT_EQ(run.events[4], record("fault:odd\xEF\xBF\xBD", "\xEF\xBF\xBDVendor Model\xEF\xBF\xBD(",
                                  "virtual", false, true));
  EXPECT_EQ(run.events[5], (nlohmann::json{{"event", "done"}}));
}

TEST(Faults, ScansReportWhatHappened) {
  const std::string feeder = R"(
type = sheetfed scanner
source = Flatbed, ADF Front, ADF Duplex
mode = Colour, Gray
resolution = fixed range 50 600 0
area = 50.8 25.4
default-area = 10 10
pages = 4
)";
  struct Case {
    const char* name;
    std::string device;  // lines of the one device, besides its name
    std::vector<std::string> args;
    std::vector<nlohmann::json> events;  // after `opened`; pages as {"n": n}
    int status;
  } cases[] = {
      {"a whole feeder, its full range scanned",
       feeder,
       {},
       {{{"n", 1}}, {{"n", 2}}, {{"n", 3}}, {{"n", 4}}, {{"event", "done"}, {"pages", 4}}},
       0},
      // The pages before a failure stay delivered; the batch is still a failure.
      {"a jam after two pages",
       feeder + "fail = 3 start JAMMED\n",
       {},
       {{{"n", 1}}, {{"n", 2}}, error("jammed", "The scan stopped: Document feeder jammed")},
       1},
      {"a jam mid-page after a page",
       feeder + "fail = 2 read JAMMED\n",
       {},
       {{{"n", 1}}, error("jammed", "The scan stopped: Document feeder jammed")},
       1},
      {"a jam before any page",
       feeder + "fail = 1 start JAMMED\n",
       {},
       {error("jammed", "The scan stopped: Document feeder jammed")},
       1},
      {"an empty feeder",
       feeder + "pages = 0\n",
       {},
       {error("feeder_empty", "The scan stopped: Document feeder out of documents")},
       1},
      {"unplugged in the middle of page 2",
       feeder + "remove = 2\n",
       {},
       {{{"n", 1}}, error("disconnected", "The scanner was disconnected.")},
       1},
      {"unplugged in the middle of page 1",
       feeder + "remove = 1\n",
       {},
       {error("disconnected", "The scanner was disconnected.")},
       1},
      {"an I/O error on a scanner still there",
       feeder + "fail = 1 read IO_ERROR\n",
       {},
       {error("io_error", "The scan stopped: Error during device I/O")},
       1},
      {"options that must be read again after a change",
       feeder + "reload = source, mode, resolution, tl-x, br-y\n",
       {"--duplex"},
       {{{"n", 1}}, {{"n", 2}}, {{"n", 3}}, {{"n", 4}}, {{"event", "done"}, {"pages", 4}}},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Faults faults("[device]\nname = s\n" + c.device);
    qevtest::TempDir out;
    std::vector<std::string> args = {"scan",     "--device", "fault:s", "--out",
                                     out.path(), "--dpi",    "300"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = qevtest::qev(args, faults.options());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.events.size(), c.events.size() + 1) << run.out;
    EXPECT_EQ(run.events[0]["event"], "opened");
    for (std::size_t i = 0; i < c.events.size(); ++i) {
      const auto& want = c.events[i];
      const auto& got = run.events[i + 1];
      if (want.contains("event")) {
        EXPECT_EQ(got, want);
        continue;
      }
      EXPECT_EQ(got["event"], "page");
      EXPECT_EQ(got["n"], want["n"]);
      auto info = qevtest::jpegInfo(got.value("file", ""));
      ASSERT_TRUE(info) << got;
      EXPECT_EQ(info->width, 600);  // the feeder's whole 50.8 mm at 300 dpi
      EXPECT_EQ(info->height, 300);
    }
    // Nothing half-written stays behind.
    EXPECT_TRUE(qevtest::names(out / ".qev-incoming").empty());
  }
}

TEST(Faults, OpeningAndSelectingFailuresAreReported) {
  struct Case {
    const char* name;
    std::string device;
    std::vector<std::string> args;
    std::vector<nlohmann::json> events;
  } cases[] = {
      {"busy", "busy = yes\n", {}, {error("busy", "The scanner did not open: Device busy")}},
      {"no feeder",
       "source = Flatbed\n",
       {},
       {{{"event", "opened"}, {"name", "Fault Injector"}},
        error("no_feeder", "This scanner has no document feeder.")}},
      {"no flatbed",
       "type = sheetfed scanner\n",
       {"--source", "flatbed"},
       {{{"event", "opened"}, {"name", "Fault Injector"}},
        error("no_flatbed", "This scanner has no flatbed.")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Faults faults("[device]\nname = s\n" + c.device);
    qevtest::TempDir out;
    std::vector<std::string> args = {"scan", "--device", "fault:s", "--out", out.path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = qevtest::qev(args, faults.options());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.events, c.events) << run.out;
  }
}

TEST(Faults, EveryFrameShapeBecomesAPage) {
  struct Case {
    const char* name;
    std::string device;
    int width, height, components;
  } cases[] = {
      {"a word-list resolution: 200 asked, 300 set",
       "resolution = int list 75 150 300\narea = 25.4 25.4\n", 300, 300, 3},
      {"gray, 16 bits", "frame = gray\ndepth = 16\nsize = 10 4\n", 10, 4, 1},
      {"lineart", "frame = gray\ndepth = 1\nsize = 13 5\n", 13, 5, 1},
      {"padded lines", "padding = 5\nsize = 10 4\n", 10, 4, 3},
      {"height unknown until the end", "unknown-lines = yes\nsize = 10 4\n", 10, 4, 3},
      {"more bytes than announced", "extra = 100\nsize = 10 4\n", 10, 4, 3},
      // Two lines and most of a third: the page has the two whole lines sent.
      {"fewer bytes than announced", "short = 35\nsize = 10 4\n", 10, 2, 3},
      {"reads that stop mid-line", "chunk = 7\nsize = 10 4\n", 10, 4, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Faults faults("[device]\nname = s\nsource = Flatbed\nmode = Color, Gray\n" + c.device);
    qevtest::TempDir out;
    auto run = qevtest::qev(
        {"scan", "--device", "fault:s", "--out", out.path(), "--source", "flatbed", "--dpi", "200"},
        faults.options());
    EXPECT_EQ(run.status, 0);
    auto files = qevtest::pageFiles(run);
    ASSERT_EQ(files.size(), 1u) << run.out;
    auto info = qevtest::jpegInfo(files[0]);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, c.width);
    EXPECT_EQ(info->height, c.height);
    EXPECT_EQ(info->components, c.components);
  }
}

}  // namespace
