#include "session/scan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "cli/names.h"
#include "testing/capture.h"
#include "testing/fake_scanner.h"
#include "testing/files.h"
#include "testing/temp_dir.h"

namespace qev {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qevtest::readFile;
namespace fs = std::filesystem;

class ScanSession : public ::testing::Test {
 protected:
  ScanSession() : saved(stamp) {
    stamp = "20261210_001500";
    out = dir + "/out";
    device->nameText = "Office";
    device->units = {flatbedUnit, feederUnit};
    device->supported.add(100, 1200, 100);
  }
  ~ScanSession() override { stamp = saved; }

  // Begins a session and runs the loop until the session ends the process; returns the
  // status, or none when it did not end.
  std::optional<int> run(const std::string& source = "feeder", bool duplex = false,
                         std::int64_t dpi = 300) {
    Scan scan(device, out, source, duplex, dpi);
    return qevtest::Capture::endOf([&] {
      scan.begin();
      loop.runUntil(RunLoop::Clock::now() + 10s);
    });
  }

  std::string target(std::int64_t n) const {
    return out + "/QEV_20261210_001500_" + (n < 10 ? "000" : "00") + std::to_string(n) + ".jpg";
  }
  std::string staged(int k) const {
    return out + "/.qev-incoming/qev-incoming-" + std::to_string(k) + ".jpg";
  }
  static json opened(const std::string& name = "Office") {
    return {{"event", "opened"}, {"name", name}};
  }
  static json page(const std::string& file, std::int64_t n) {
    return {{"event", "page"}, {"file", file}, {"n", n}};
  }
  static json done(std::int64_t pages) { return {{"event", "done"}, {"pages", pages}}; }
  static json error(const std::string& code, const std::string& message) {
    return {{"event", "error"}, {"code", code}, {"message", message}};
  }

  std::string saved;
  qevtest::TempDir temp;
  const std::string dir = temp.path();
  std::string out;
  RunLoop loop;
  std::shared_ptr<fake::Device> device = std::make_shared<fake::Device>(loop);
  qevtest::Capture capture;
};

TEST_F(ScanSession, BeginCreatesTheFoldersQuietlyAndAsksToOpen) {
  out = dir + "/a/b/out";
  for (int time = 0; time < 2; ++time) {  // the second time the folders exist already
    SCOPED_TRACE(time);
    Scan scan(device, out, "flatbed", false, 300);
    device->calls.clear();
    scan.begin();
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_EQ(fs::status(out + "/.qev-incoming").permissions(), fs::perms(0700));
    EXPECT_EQ(qevtest::names(out), std::vector<std::string>{".qev-incoming"});
    EXPECT_EQ(qevtest::names(out + "/.qev-incoming"), std::vector<std::string>{});
    EXPECT_EQ(device->calls, (std::vector<std::string>{"requestOpenSession"}));
    EXPECT_TRUE(capture.events.empty());
  }
}

TEST_F(ScanSession, EachCallbackEndsOrGoesOnAsItsConditionSays) {
  using Setup = std::function<void(fake::Device&)>;
  struct {
    const char* name;
    Setup setup;
    std::string source;
    std::vector<json> events;
    int status;
  } cases[] = {
      {"open fails: the cause's code",
       [](fake::Device& d) {
         d.openError = Error{"Device busy", Code::busy};
       },
       "flatbed",
       {error("busy", "The scanner did not open: Device busy")},
       1},
      {"open fails for a cause without a code",
       [](fake::Device& d) { d.openError = Error{"Error during device I/O"}; },
       "flatbed",
       {error("open_failed", "The scanner did not open: Error during device I/O")},
       1},
      {"no flatbed",
       [](fake::Device& d) { d.units = {feederUnit}; },
       "flatbed",
       {opened(), error("no_flatbed", "This scanner has no flatbed.")},
       1},
      {"Flatbed asks for the feeder",
       [](fake::Device& d) { d.units = {flatbedUnit}; },
       "Flatbed",
       {opened(), error("no_feeder", "This scanner has no document feeder.")},
       1},
      {"adf asks for the feeder",
       [](fake::Device& d) { d.units = {flatbedUnit}; },
       "adf",
       {opened(), error("no_feeder", "This scanner has no document feeder.")},
       1},
      {"the empty source asks for the feeder, of a scanner without name",
       [](fake::Device& d) {
         d.units = {};
         d.nameText.reset();
       },
       "",
       {opened("Scanner"), error("no_feeder", "This scanner has no document feeder.")},
       1},
      {"selection fails, the empty name is sent",
       [](fake::Device& d) {
         d.nameText = "";
         d.selectError = Error{"Invalid argument"};
       },
       "flatbed",
       {opened(""),
        error("settings_refused", "The scanner did not take the settings: Invalid argument")},
       1},
      {"stops before any page: the cause's code",
       [](fake::Device& d) {
         d.completeError = Error{"Document feeder jammed", Code::jammed};
       },
       "feeder",
       {opened(), error("jammed", "The scan stopped: Document feeder jammed")},
       1},
      {"stops after two pages",
       [](fake::Device& d) {
         d.pages = 2;
         d.completeError = Error{"Error during device I/O"};
       },
       "feeder",
       {opened(), page(target(1), 1), page(target(2), 2),
        error("io_error", "The scan stopped: Error during device I/O")},
       1},
      {"ends without pages", [](fake::Device&) {}, "flatbed", {opened(), done(0)}, 0},
      {"ends after three pages",
       [](fake::Device& d) { d.pages = 3; },
       "feeder",
       {opened(), page(target(1), 1), page(target(2), 2), page(target(3), 3), done(3)},
       0},
      {"removed while opening",
       [](fake::Device& d) { d.removal = fake::Removal::whenOpening; },
       "feeder",
       {error("disconnected", "The scanner was disconnected.")},
       1},
      {"removed while selecting",
       [](fake::Device& d) { d.removal = fake::Removal::whenSelecting; },
       "feeder",
       {opened(), error("disconnected", "The scanner was disconnected.")},
       1},
      {"removed after pages",
       [](fake::Device& d) {
         d.pages = 3;
         d.removal = fake::Removal::afterPages;
         d.removalAfter = 2;
       },
       "feeder",
       {opened(), page(target(1), 1), page(target(2), 2),
        error("disconnected", "The scanner was disconnected.")},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(out);
    capture.events.clear();
    device = std::make_shared<fake::Device>(loop);
    device->nameText = "Office";
    device->units = {flatbedUnit, feederUnit};
    c.setup(*device);
    EXPECT_EQ(run(c.source), c.status);
    EXPECT_EQ(capture.events, c.events);
    // Only a scan that ended well closes the session.
    bool closed = !device->calls.empty() && device->calls.back() == "requestCloseSession";
    EXPECT_EQ(closed, c.status == 0);
  }
}

TEST_F(ScanSession, PagesStayWhereTheirEventsSaidAfterAJam) {
  device->pages = 2;
  device->completeError = Error{"Document feeder jammed"};
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(readFile(target(1)), "page 1");
  EXPECT_EQ(readFile(target(2)), "page 2");
}

TEST_F(ScanSession, SelectionConfiguresTheUnitItNamesInOrder) {
  const std::vector<std::string> tail = {"setTransferMode 0",
                                         "setDownloadsFolder " + out + "/.qev-incoming",
                                         "setDocumentName qev-incoming",
                                         "setDocumentType public.jpeg",
                                         "requestScan",
                                         "requestCloseSession"};
  struct {
    const char* name;
    std::string source;
    bool duplex, supportsDuplex;
    std::optional<UnitType> selects;
    std::vector<std::string> unitCalls;
  } cases[] = {
      {"flatbed: whole glass, no duplex",
       "flatbed",
       true,
       true,
       std::nullopt,
       {"requestSelectUnit 0", "setResolution 600", "setPixelDataType 2", "setBitDepth 8",
        "setScanArea 0 0 215.9 297.2"}},
      {"feeder with duplex",
       "feeder",
       true,
       true,
       std::nullopt,
       {"requestSelectUnit 3", "setResolution 600", "setPixelDataType 2", "setBitDepth 8",
        "supportsDuplexScanning", "setDuplexScanningEnabled 1"}},
      {"feeder that cannot duplex",
       "feeder",
       true,
       false,
       std::nullopt,
       {"requestSelectUnit 3", "setResolution 600", "setPixelDataType 2", "setBitDepth 8",
        "supportsDuplexScanning", "setDuplexScanningEnabled 0"}},
      {"feeder without duplex asks nothing",
       "feeder",
       false,
       true,
       std::nullopt,
       {"requestSelectUnit 3", "setResolution 600", "setPixelDataType 2", "setBitDepth 8",
        "setDuplexScanningEnabled 0"}},
      {"the unit named decides, not the source",
       "flatbed",
       false,
       true,
       feederUnit,
       {"requestSelectUnit 0", "setResolution 600", "setPixelDataType 2", "setBitDepth 8",
        "setDuplexScanningEnabled 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device->calls.clear();
    device->duplex = c.supportsDuplex;
    device->selects = c.selects;
    EXPECT_EQ(run(c.source, c.duplex, 600), 0);
    std::vector<std::string> expected = {"setDelegate", "requestOpenSession"};
    expected.insert(expected.end(), c.unitCalls.begin(), c.unitCalls.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(device->calls, expected);
    EXPECT_TRUE(fs::is_directory(out + "/.qev-incoming"));
  }
}

TEST_F(ScanSession, PageMoveNeverReplacesAnExistingFile) {
  // An earlier run in the same second left a page 3.
  fs::create_directories(out);
  std::ofstream(target(3)) << "earlier";
  device->pages = 4;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(capture.events, (std::vector<json>{opened(), page(target(1), 1), page(target(2), 2),
                                               page(staged(3), 3), page(target(4), 4), done(4)}));
  EXPECT_EQ(readFile(target(3)), "earlier");
  EXPECT_EQ(readFile(staged(3)), "page 3");
  EXPECT_EQ(readFile(target(4)), "page 4");
}

// A folder that cannot take pages ends the run with its cause before the scanner is asked
// to open, so that no sheet is fed for a page with nowhere to go.
TEST_F(ScanSession, AnUnusableFolderEndsTheRunBeforeTheScannerOpens) {
  struct {
    const char* name;
    std::function<void(const std::string& dir)> setup;
    std::string out;  // in `dir`
    std::string cause;
  } cases[] = {
      {"the output folder is a plain file",
       [](const std::string& d) { std::ofstream(d + "/file") << ""; }, "file", "Not a directory"},
      {"the output folder is under a plain file",
       [](const std::string& d) { std::ofstream(d + "/file") << ""; }, "file/out",
       "Not a directory"},
      {"the staging folder is a symbolic link",
       [](const std::string& d) {
         fs::create_directories(d + "/out");
         fs::create_directory(d + "/elsewhere");
         fs::create_directory_symlink(d + "/elsewhere", d + "/out/.qev-incoming");
       },
       "out", ".qev-incoming is a symbolic link"},
      {"the staging folder is a plain file",
       [](const std::string& d) {
         fs::create_directories(d + "/out");
         std::ofstream(d + "/out/.qev-incoming") << "";
       },
       "out", ".qev-incoming is not a folder"},
      {"others may write the staging folder",
       [](const std::string& d) {
         fs::create_directories(d + "/out/.qev-incoming");
         fs::permissions(d + "/out/.qev-incoming", fs::perms(0777));
       },
       "out", ".qev-incoming can be written by other users"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir root;
    c.setup(root.path());
    out = root / c.out;
    capture.events.clear();
    device->calls.clear();
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(capture.events,
              std::vector<json>{
                  error("folder_unusable", "The output folder cannot be used: " + c.cause)});
    EXPECT_EQ(device->calls, std::vector<std::string>{"setDelegate"});
    EXPECT_EQ(qevtest::names(root / "elsewhere"), std::vector<std::string>{});
  }
}

// The staging folder is used through what `begin` opened: swapped for a symbolic link in the
// middle of the run, it redirects no page.
TEST_F(ScanSession, AStagingFolderSwappedDuringTheRunRedirectsNoPage) {
  device->pages = 2;
  fs::create_directory(dir + "/elsewhere");
  Scan scan(device, out, "feeder", false, 300);
  auto status = qevtest::Capture::endOf([&] {
    scan.begin();
    fs::rename(out + "/.qev-incoming", out + "/moved");
    fs::create_directory_symlink(dir + "/elsewhere", out + "/.qev-incoming");
    loop.runUntil(RunLoop::Clock::now() + 10s);
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(capture.events,
            (std::vector<json>{opened(), page(target(1), 1), page(target(2), 2), done(2)}));
  EXPECT_EQ(readFile(target(2)), "page 2");
  EXPECT_EQ(qevtest::names(dir + "/elsewhere"), std::vector<std::string>{});
  EXPECT_EQ(qevtest::names(out + "/moved"), std::vector<std::string>{});
}

}  // namespace
}  // namespace qev
