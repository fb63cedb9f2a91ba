// qev's client of the driver host, as the scanner service the logic sees, against a real
// host running SANE's own test backend, through the real run loop. What a caller of the
// binary sees of a scan (failures, frame shapes) is tested end to end in tests/; here is what
// only this interface shows: its callbacks, units and sessions, the host's life, and frames
// in the modes that qev itself never asks for.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/files.h"
#include "platform/run_loop.h"
#include "platform/scanner.h"
#include "testing/files.h"
#include "testing/jpeg.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"

namespace qev {
namespace {

namespace fs = std::filesystem;

// Records every callback as a line of text, and stops the loop at the end of each request.
class Recorder : public BrowserDelegate, public DeviceDelegate {
 public:
  explicit Recorder(RunLoop& loop) : loop(loop) {}

  void didAdd(const std::shared_ptr<Device>& device) override {
    devices.push_back(device);
    log.push_back("add " + device->uuid().value_or("?"));
  }
  void didRemove(const std::shared_ptr<Device>& device) override {
    log.push_back("gone " + device->uuid().value_or("?"));
  }
  void didOpen(Device&, const std::optional<Error>& error) override { answer("open", error); }
  void didRemove(Device&) override { answer("removed", std::nullopt); }
  void didSelect(Device&, Unit& selected, const std::optional<Error>& error) override {
    unit = &selected;
    answer("select", error);
  }
  void didScan(Device&, const std::string& path) override { pages.push_back(path); }
  void didComplete(Device&, const std::optional<Error>& error) override {
    answer("complete", error);
  }

  // Runs the loop until the next answer (or 10 seconds) and returns it.
  std::string wait() {
    log.clear();
    loop.runUntil(RunLoop::Clock::now() + std::chrono::seconds(10));
    return log.empty() ? "nothing" : log.back();
  }

  RunLoop& loop;
  std::vector<std::shared_ptr<Device>> devices;
  std::vector<std::string> log;
  std::vector<std::string> pages;
  Unit* unit = nullptr;

 private:
  // "complete", "complete: Document feeder jammed [jammed]": the error's code, where it has
  // one, in brackets.
  void answer(const std::string& what, const std::optional<Error>& error) {
    std::string text = what;
    if (error) text += ": " + error->description;
    if (error && error->code) text += " [" + std::string(codeName(*error->code)) + "]";
    log.push_back(text);
    loop.endWait();
  }
};

using Image = std::optional<qevtest::Decoded>;

// The mean difference of two images of one shape, per sample; 255 when the shapes differ or
// either is missing.
double difference(const Image& a, const Image& b) {
  if (!a || !b || a->width != b->width || a->height != b->height ||
      a->components != b->components || a->rgb.empty()) {
    return 255;
  }
  double sum = 0;
  for (std::size_t i = 0; i < a->rgb.size(); ++i) sum += std::abs(a->rgb[i] - b->rgb[i]);
  return sum / static_cast<double>(a->rgb.size());
}

class SaneScanner : public testing::Test {
 protected:
  // SANE's test backend with `changes` to the repository's configuration, in gray unless
  // they say otherwise.
  void start(std::map<std::string, std::string> changes = {}) {
    changes.emplace("mode", "Gray");
    config.emplace(changes);
    // The driver host reads the environment when it starts, which is whenever a browser
    // starts, so each test sets its own.
    for (const auto& [key, value] : config->env()) setenv(key.c_str(), value.c_str(), 1);
    browser = newDeviceBrowser(loop, true);
    browser->setDelegate(&recorder);
    browser->start();
    auto deadline = RunLoop::Clock::now() + std::chrono::seconds(5);
    while (recorder.devices.size() < 2 && RunLoop::Clock::now() < deadline) {
      loop.runUntil(RunLoop::Clock::now() + std::chrono::milliseconds(20));
    }
    ASSERT_EQ(recorder.devices.size(), 2u);
    device = recorder.devices[0];
    device->setDelegate(&recorder);
  }

  // Opens and selects `type`, sets `dpi` and the whole glass, and scans into the folder.
  std::string scan(UnitType type, std::int64_t dpi, PixelType pixels = rgbPixels, int depth = 8) {
    device->requestOpenSession();
    EXPECT_EQ(recorder.wait(), "open");
    device->requestSelectUnit(type);
    EXPECT_EQ(recorder.wait(), "select");
    Unit& unit = *recorder.unit;
    unit.setResolution(dpi);
    unit.setPixelDataType(pixels);
    unit.setBitDepth(depth);
    if (type == flatbedUnit) {
      Size size = unit.physicalSize();
      unit.setScanArea({0, 0, size.width, size.height});
    }
    open();
    device->setDownloadsFolder(*downloads);
    device->setDocumentName("qev-incoming");
    device->requestScan();
    return recorder.wait();
  }

  // Opens the folder that pages go to.
  void open() {
    Outcome opened;
    downloads = Folder::open(folder.string(), opened);
    ASSERT_TRUE(downloads) << opened.error().description;
  }

  void TearDown() override {
    if (device) device->requestCloseSession();
    device.reset();
    recorder.devices.clear();
    browser.reset();
    fs::remove_all(folder);
  }

  std::optional<qevtest::SaneConfig> config;
  qevtest::TempDir pages;
  fs::path folder = pages.path();
  std::optional<Folder> downloads;
  RunLoop loop;
  Recorder recorder{loop};
  std::unique_ptr<DeviceBrowser> browser;
  std::shared_ptr<Device> device;
};

// The driver hosts that are children of this process.
int hostsRunning() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos || text.find("(qev-host)") == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 1));
    std::string state;
    int parent = 0;
    rest >> state >> parent;
    count += parent == ::getpid() && state != "Z";
  }
  return count;
}

// A browser and its devices held one another, so that the end of a browser ended neither its
// host, nor the host's process, nor the thread that read it; a late message then reached a
// run loop that was gone.
TEST_F(SaneScanner, TheEndOfABrowserEndsItsHost) {
  start();
  EXPECT_EQ(hostsRunning(), 1);
  browser.reset();
  EXPECT_EQ(hostsRunning(), 0);
  // A device held beyond its browser answers, without a host.
  device->requestOpenSession();
  EXPECT_EQ(recorder.wait(), "complete: The scanner's driver is not running. [driver_stopped]");
}

TEST_F(SaneScanner, ReportsTheTestScannersWithBothUnits) {
  start();
  // Both are reported at once with the units their type suggests; a look at each corrects
  // them a moment later.
  auto bothUnits = [&] {
    return std::all_of(recorder.devices.begin(), recorder.devices.end(), [](const auto& d) {
      return d->availableUnitTypes() == std::vector<UnitType>{flatbedUnit, feederUnit};
    });
  };
  auto deadline = RunLoop::Clock::now() + std::chrono::seconds(10);
  while (!bothUnits() && RunLoop::Clock::now() < deadline) {
    loop.runUntil(RunLoop::Clock::now() + std::chrono::milliseconds(20));
  }
  for (const auto& d : recorder.devices) {
    EXPECT_EQ(d->name(), "Noname frontend-tester");
    EXPECT_EQ(d->transport(), "virtual");
    EXPECT_EQ(d->availableUnitTypes(), (std::vector<UnitType>{flatbedUnit, feederUnit}));
  }
  EXPECT_EQ(recorder.devices[0]->uuid(), "test:0");
  EXPECT_EQ(recorder.devices[1]->uuid(), "test:1");
}

TEST_F(SaneScanner, FlatbedGivesOnePageOfTheWholeGlassAtTheResolutionSet) {
  start();
  EXPECT_EQ(scan(flatbedUnit, 100), "complete");
  ASSERT_EQ(recorder.pages.size(), 1u);
  EXPECT_EQ(recorder.pages[0], (folder / "qev-incoming-0001.jpg").string());
  auto info = qevtest::jpegInfo(recorder.pages[0]);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->width, 787);  // 200 mm at 100 dpi
  EXPECT_EQ(info->height, 787);
  EXPECT_EQ(info->components, 3);
  EXPECT_EQ(info->density, 100);
  Resolutions supported = recorder.unit->supportedResolutions();
  EXPECT_TRUE(supported.contains(1) && supported.contains(1200) && !supported.contains(1201));
  EXPECT_EQ(recorder.unit->physicalSize().width, 200);
}

TEST_F(SaneScanner, FeederGivesTenPagesThenEndsWithoutError) {
  start();
  EXPECT_EQ(scan(feederUnit, 25), "complete");
  ASSERT_EQ(recorder.pages.size(), 10u);
  EXPECT_EQ(recorder.pages[9], (folder / "qev-incoming-0010.jpg").string());
  for (const auto& page : recorder.pages)
    EXPECT_EQ(qevtest::jpegInfo(page)->width, 196);  // 200 mm at 25 dpi
}

// The same picture, whatever form its frames take: three-pass planes land in their own
// colour, 16-bit samples scale to 8 bits, lineart stays black and white. The test backend
// sends gray, 16-bit and lineart frames only in modes that qev never asks for, so this
// interface is where they can be asked for.
TEST_F(SaneScanner, EveryFrameKindShowsTheSamePicture) {
  auto picture = [&](const std::map<std::string, std::string>& config, PixelType pixels,
                     int depth) {
    start(config);
    EXPECT_EQ(scan(flatbedUnit, 50, pixels, depth), "complete");
    Image image = recorder.pages.empty() ? Image{} : qevtest::decodeFile(recorder.pages[0]);
    TearDown();
    recorder.pages.clear();
    fs::create_directories(folder);
    return image;
  };
  Image colour = picture({}, rgbPixels, 8);
  Image gray = picture({}, PixelType::gray, 8);
  EXPECT_LT(difference(picture({{"three-pass", "true"}, {"three-pass-order", "BRG"}}, rgbPixels, 8),
                       colour),
            2);
  // The colour pattern differs between depths; the grid does not.
  std::map<std::string, std::string> grid = {{"test-picture", "Grid"}};
  EXPECT_LT(difference(picture(grid, rgbPixels, 16), picture(grid, rgbPixels, 8)), 2);
  EXPECT_LT(difference(picture(grid, PixelType::gray, 16), picture(grid, PixelType::gray, 8)), 2);
  EXPECT_GT(difference(picture(grid, PixelType::gray, 8), gray), 20);  // the pictures do differ
  Image lineart = picture({}, PixelType::blackAndWhite, 8);
  ASSERT_TRUE(lineart);
  std::size_t between = 0;
  for (unsigned char v : lineart->rgb) between += v > 40 && v < 215;
  EXPECT_LT(between, lineart->rgb.size() / 50);  // black and white, but for JPEG's fringes
}

TEST_F(SaneScanner, PageFilesNeverReplaceAnExistingFile) {
  start();
  std::ofstream(folder / "qev-incoming-0001.jpg") << "mine";
  EXPECT_EQ(scan(flatbedUnit, 50), "complete");
  ASSERT_EQ(recorder.pages.size(), 1u);
  EXPECT_EQ(recorder.pages[0], (folder / "qev-incoming-0002.jpg").string());
  EXPECT_EQ(qevtest::readFile(folder / "qev-incoming-0001.jpg"), "mine");
}

// Pages are created in the folder that was opened, found by its descriptor, not its path:
// once it is gone, no page goes elsewhere.
TEST_F(SaneScanner, AFolderRemovedAfterItWasOpenedCompletesWithTheSystemsText) {
  start();
  folder /= "removed";
  fs::create_directories(folder);
  open();
  fs::remove(folder);
  device->requestOpenSession();
  ASSERT_EQ(recorder.wait(), "open");
  device->requestSelectUnit(flatbedUnit);
  ASSERT_EQ(recorder.wait(), "select");
  recorder.unit->setResolution(50);
  device->setDownloadsFolder(*downloads);
  device->requestScan();
  EXPECT_EQ(recorder.wait(), "complete: No such file or directory");
  EXPECT_FALSE(fs::exists(folder));
  folder = folder.parent_path();
}

TEST_F(SaneScanner, ClosedSessionsOpenAgain) {
  start();
  EXPECT_EQ(scan(flatbedUnit, 50), "complete");
  device->requestCloseSession();
  EXPECT_EQ(scan(flatbedUnit, 50), "complete");
  EXPECT_EQ(recorder.pages.size(), 2u);
}

// The user stops the run in the middle of a feeder batch: the scan ends at once with SANE's
// cancellation status, the pages delivered stay, the page being read leaves nothing, and
// the session is closed.
TEST_F(SaneScanner, ACancelEndsTheBatchAndClosesTheSession) {
  start({{"read-delay", "true"}, {"read-delay-duration", "50000"}});
  device->requestOpenSession();
  ASSERT_EQ(recorder.wait(), "open");
  device->requestSelectUnit(feederUnit);
  ASSERT_EQ(recorder.wait(), "select");
  recorder.unit->setResolution(100);
  open();
  device->setDownloadsFolder(*downloads);
  device->setDocumentName("qev-incoming");
  device->requestScan();
  auto deadline = RunLoop::Clock::now() + std::chrono::seconds(10);
  while (recorder.pages.empty() && RunLoop::Clock::now() < deadline) {
    loop.runUntil(RunLoop::Clock::now() + std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(recorder.pages.empty());
  device->requestCancel();
  EXPECT_EQ(recorder.wait(), std::string("complete: ") + "Operation was canceled [cancelled]");
  // The page after the first may have been finished before the cancel arrived; every page
  // reported is whole and stays, and nothing else is left.
  EXPECT_LT(recorder.pages.size(), 10u);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) left.push_back(entry.path().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, recorder.pages);
  // Closed: a scan now has no session to run in.
  device->requestScan();
  EXPECT_EQ(recorder.wait(), std::string("complete: ") + "Invalid argument");
  // Opened again, the session answers as if never cancelled.
  recorder.pages.clear();
  for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
  EXPECT_EQ(scan(flatbedUnit, 50), "complete");
  EXPECT_EQ(recorder.pages.size(), 1u);
}

}  // namespace
}  // namespace qev
