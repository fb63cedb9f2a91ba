// What scanners do wrong, and what a caller of the real binary is told about each: odd texts
// in a listing, a scanner that is busy or lacks the source asked for, a batch that fails
// partway (a jam, an open cover, a failed read, a scanner unplugged), hostile names and page
// sizes. The scanners are the fault backend's, which plays what SANE's test backend cannot.

#include <gtest/gtest.h>

#include "testing/files.h"
#include "testing/jpeg.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;
using Faults = qevtest::FaultConfig;

nlohmann::json error(const std::string& code, const std::string& message) {
  return {{"event", "error"}, {"code", code}, {"message", message}};
}

TEST(ScannerFaults, ListShowsWhatEachDeviceOffersInValidText) {
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

TEST(ScannerFaults, ABatchEndsWithItsPagesAndWhatStoppedIt) {
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
    std::string name;
    std::string device;  // lines of the one device, besides its name
    std::vector<std::string> args;
    std::vector<nlohmann::json> events;  // after `opened`; pages as {"n": n}
    int status;
  };
  // The read of page 1 answers `status` halfway: the run ends with `code` and `text`.
  auto readFails = [&](const std::string& status, const std::string& code,
                       const std::string& text) {
    return Case{"a read failing with " + status,
                feeder + "fail = 1 read " + status + "\n",
                {},
                {error(code, "The scan stopped: " + text)},
                1};
  };
  const Case cases[] = {
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
      // A read that fails halfway through page 1, with each status a backend may answer: the
      // code comes from the status where it tells the kind of failure, else from the step.
      readFails("JAMMED", "jammed", "Document feeder jammed"),
      readFails("COVER_OPEN", "cover_open", "Scanner cover is open"),
      readFails("NO_DOCS", "feeder_empty", "Document feeder out of documents"),
      readFails("ACCESS_DENIED", "access_denied", "Access to resource has been denied"),
      readFails("IO_ERROR", "io_error", "Error during device I/O"),  // the scanner is still there
      readFails("NO_MEM", "io_error", "Out of memory"),
      // A backend's own cancel, which no one asked for, is no stop of the user's.
      readFails("CANCELLED", "io_error", "Operation was canceled"),
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
    // The pages reported are in the folder, and nothing half-written stays behind.
    EXPECT_EQ(qevtest::pagesIn(out.path()).size(), qevtest::pageFiles(run).size());
    EXPECT_TRUE(qevtest::names(out / ".qev-incoming").empty());
  }
}

TEST(ScannerFaults, OpeningAndSelectingFailuresAreReported) {
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

// Scanners that report hostile names and pages of hostile sizes. Each run either delivers a
// whole page or ends with one error; none crashes, hangs or takes memory for a page it
// cannot write.
TEST(ScannerFaults, HostileScannersGetAPageOrOneError) {
  qevtest::SaneConfig config({}, {"fault"});
  config.write("fault.conf", R"([device]
name = odd"name\x01\xff
vendor = "\xFFVendor\t\""
model = Model\xC3\x28 "quoted"\n
size = 10 4

[device]
name = empty
size = 0 0

[device]
name = wide
size = 70000 2

[device]
name = huge
size = 2147483647 2147483647

[device]
name = padded
frame = gray
size = 10 4
padding = 2000000000

[device]
name = endless
frame = gray
size = 10 70000
unknown-lines = yes
)");
  auto options = config.options(60s);
  options.env["LD_LIBRARY_PATH"] = QEV_FAULT_BACKEND_DIR;
#if !defined(__SANITIZE_ADDRESS__)
  // A page that claims to be huge must be refused, not allocated: under this limit an
  // allocation for it fails and ends the process.
  options.through = {"sh", "-c", "ulimit -v 1000000 && exec \"$@\"", "sh"};
#endif
  struct Case {
    std::string device;   // as given on the command line
    std::string opened;   // the scanner's name
    std::string message;  // empty: a whole page
  } cases[] = {
      // Found by its identifier, quote, control character and invalid byte included.
      {"fault:odd\"name\x01\xff", "\uFFFDVendor\t\" Model\uFFFD( \"quoted\"", ""},
      {"fault:empty", "Fault Injector", "The scan stopped: Image size not supported"},
      {"fault:wide", "Fault Injector", "The scan stopped: Image size not supported by JPEG"},
      {"fault:huge", "Fault Injector", "The scan stopped: Image size not supported by JPEG"},
      {"fault:padded", "Fault Injector", "The scan stopped: Image lines too long"},
      {"fault:endless", "Fault Injector", "The scan stopped: Image size not supported by JPEG"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    qevtest::TempDir dir;
    auto run = qevtest::qev(
        {"scan", "--device", c.device, "--source", "flatbed", "--out", dir.path()}, options);
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events[0], (nlohmann::json{{"event", "opened"}, {"name", c.opened}}));
    if (c.message.empty()) {
      EXPECT_EQ(run.status, 0);
      ASSERT_EQ(run.events.size(), 3u) << run.out;
      EXPECT_TRUE(qevtest::wholeJpeg(run.events[1]["file"]));
    } else {
      EXPECT_EQ(run.status, 1);
      ASSERT_EQ(run.events.size(), 2u) << run.out;
      EXPECT_EQ(run.events[1]["message"], c.message);
      EXPECT_EQ(qevtest::pagesIn(dir.path()), std::vector<std::string>{});
    }
    EXPECT_EQ(qevtest::names(dir / ".qev-incoming"), std::vector<std::string>{});
  }
}

}  // namespace
