// Every common SANE backend, played by the fault backend loaded under the backend's own name
// (tests/sane/backends): qev scans each from its flatbed, its feeder and its duplex feeder, in
// 8-bit colour, and the backend's record shows what qev set, in which order. An empty feeder
// gives each backend's own way of saying so, which must be an error before any page.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>

#include "testing/jpeg.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"

namespace {

using namespace std::chrono_literals;

nlohmann::json error(const std::string& code, const std::string& message) {
  return {{"event", "error"}, {"code", code}, {"message", message}};
}

const nlohmann::json outOfDocuments =
    error("feeder_empty", "The scan stopped: Document feeder out of documents");

// One scan of a row: a unit, and what qev must set and get.
struct Scan {
  std::string source;  // --source: flatbed or feeder
  bool duplex = false;
  std::string sourceSet;           // the value of `source` qev sets for the scan
  std::vector<std::string> lines;  // more record lines of the scan, e.g. "adf-mode=Duplex"
  int pages = 1;
  int width = 0, height = 0;  // of every page, in pixels
};

struct Row {
  std::string name;
  std::string device;      // the id `scan --device` takes
  std::string record;      // the device's record file, in the run's record folder
  std::string dpi;         // asked; the row's pixel sizes follow from the resolution qev sets
  std::string resolution;  // the record's resolution line
  std::string colour;      // the spelling of the colour mode
  bool depth = false;      // a depth option, to be set to 8
  std::vector<Scan> scans;
  // A scan into an empty feeder (the row's `sheets` or `pages` set to 0): its --source and
  // the error event it must end with. Empty: the device has no feeder.
  std::string emptySource;
  nlohmann::json emptyError;
};

std::ostream& operator<<(std::ostream& out, const Row& row) { return out << row.name; }

// The devices' page sizes come from SANE's fixed-point millimetres: 215.9 mm is stored as a
// hair less, 637 pixels at 75 dpi.
const Row rows[] = {
    {.name = "epson2",
     .device = "epson2:net:192.0.2.10",
     .record = "epson2",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .depth = true,
     .scans = {{"flatbed", false, "Flatbed", {"adf-mode=Simplex"}, 1, 637, 878},
               {"feeder", false, "Automatic Document Feeder", {"adf-mode=Simplex"}, 3, 637, 1050},
               {"feeder", true, "Automatic Document Feeder", {"adf-mode=Duplex"}, 6, 637, 1050}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "epsonds",
     .device = "epsonds:usb:04b8:0152",
     .record = "epsonds",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .depth = true,
     .scans = {{"flatbed", false, "Flatbed", {}, 1, 637, 878},
               {"feeder", false, "ADF Front", {}, 2, 637, 1050},
               {"feeder", true, "ADF Duplex", {}, 4, 637, 1050}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "fujitsu",
     .device = "fujitsu:fi-7260:A0B1C2",
     .record = "fujitsu",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans =
         {{"flatbed", false, "Flatbed", {}, 1, 637, 877},
          {"feeder",
           false,
           "ADF Front",
           {"page-width=215.9", "page-height=297", "br-x=215.9", "br-y=297"},
           3,
           637,
           877},
          {"feeder", true, "ADF Duplex", {"page-width=215.9", "page-height=297"}, 6, 637, 877}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "pixma",
     .device = "pixma:04A9176D_3F1A2B",
     .record = "pixma",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Flatbed", {}, 1, 638, 877},
               {"feeder", false, "Automatic Document Feeder", {}, 2, 638, 1050},
               {"feeder", true, "ADF Duplex", {}, 4, 638, 1050}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    // A sheet-fed genesys lists only "Flatbed": its pages have no known height, so qev goes on
    // sheet by sheet until the I/O error that says there is no sheet.
    {.name = "genesys_gl841",
     .device = "genesys:sheetfed-gl841",
     .record = "genesys-gl841",
     .dpi = "75",
     .resolution = "resolution=150",
     .colour = "Color",
     .depth = true,
     .scans = {{"flatbed", false, "Flatbed", {}, 3, 1275, 2100}},
     .emptySource = "flatbed",
     // Not told from a failing scanner before the first sheet: the device is still listed.
     .emptyError = error("io_error", "The scan stopped: Error during device I/O")},
    {.name = "genesys_gl646",
     .device = "genesys:sheetfed-gl646",
     .record = "genesys-gl646",
     .dpi = "75",
     .resolution = "resolution=150",
     .colour = "Color",
     .depth = true,
     .scans = {{"flatbed", false, "Flatbed", {}, 2, 1275, 2100}},
     .emptySource = "flatbed",
     .emptyError = outOfDocuments},
    {.name = "genesys_flatbed",
     .device = "genesys:lide",
     .record = "genesys-lide",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .depth = true,
     .scans = {{"flatbed", false, "Flatbed", {}, 1, 638, 883}}},
    {.name = "plustek",
     .device = "plustek:canoscan-n1240u",
     .record = "plustek",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Normal", {"br-x=215", "br-y=297"}, 1, 635, 877}}},
    {.name = "hp5590",
     .device = "hp5590:hp7650",
     .record = "hp5590",
     .dpi = "75",
     .resolution = "resolution=100",
     .colour = "Color",
     .scans = {{"flatbed", false, "Flatbed", {}, 1, 850, 1170},
               {"feeder", false, "ADF", {}, 2, 850, 1400},
               {"feeder", true, "ADF Duplex", {}, 4, 850, 1400}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "avision",
     .device = "avision:av3750",
     .record = "avision",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Normal", {}, 1, 637, 877},
               {"feeder", false, "ADF Front", {}, 2, 637, 1050},
               {"feeder", true, "ADF Duplex", {}, 4, 637, 1050}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "avision_sheetfed",
     .device = "avision:av220",
     .record = "avision-sheetfed",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"feeder", false, "ADF Front", {}, 2, 637, 1050},
               {"feeder", true, "ADF Duplex", {}, 4, 637, 1050}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "kodakaio",
     .device = "kodakaio:net:192.0.2.12",
     .record = "kodakaio",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Flatbed", {"adf-mode=Simplex"}, 1, 637, 877},
               {"feeder", false, "Automatic Document Feeder", {"adf-mode=Simplex"}, 2, 637, 1050},
               {"feeder", true, "Automatic Document Feeder", {"adf-mode=Duplex"}, 4, 637, 1050}},
     .emptySource = "feeder",
     // Its way of saying that the feeder is empty: the code says so.
     .emptyError = error("feeder_empty", "The scan stopped: Operation was canceled")},
    {.name = "xerox_mfp",
     .device = "xerox_mfp:workcentre-3225",
     .record = "xerox_mfp",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Flatbed", {}, 1, 638, 877},
               {"feeder", false, "ADF", {}, 3, 638, 1050},
               // No duplex: the sheets are scanned on one side.
               {"feeder", true, "ADF", {}, 3, 638, 1050}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    // The size escl announces before sane_start is an estimate; the page is what it says
    // after.
    {.name = "escl",
     .device = "escl:http://192.0.2.20:80",
     .record = "escl",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Flatbed", {}, 1, 620, 870},
               {"feeder", false, "ADF", {}, 2, 620, 870},
               {"feeder", true, "ADF Duplex", {}, 4, 620, 870}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "airscan",
     .device = "airscan:e:Office",
     .record = "airscan",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Flatbed", {}, 1, 637, 877},
               {"feeder", false, "ADF", {}, 2, 637, 1050},
               {"feeder", true, "ADF Duplex", {}, 4, 637, 1050}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "hpaio_scl",
     .device = "hpaio:/usb/Officejet_Pro_8500_A910?serial=CN0A1B2C3D",
     .record = "hpaio-scl",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Flatbed", {"duplex=0"}, 1, 637, 877},
               {"feeder", false, "ADF", {"duplex=0"}, 2, 637, 1125},
               {"feeder", true, "ADF", {"duplex=1"}, 4, 637, 1125}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "hpaio_ledm",
     .device = "hpaio:/net/Officejet_Pro_8600?ip=192.0.2.22",
     .record = "hpaio-ledm",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .scans = {{"flatbed", false, "Flatbed", {}, 1, 637, 877},
               {"feeder", false, "ADF", {}, 2, 637, 1050},
               {"feeder", true, "Duplex", {}, 4, 637, 1050}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "brscan3",
     .device = "brother3:bus1;dev1",
     .record = "brother3",
     .dpi = "75",
     .resolution = "resolution=100",
     .colour = "24bit Color",
     .scans = {{"flatbed", false, "FlatBed", {}, 1, 850, 1169},
               {"feeder", false, "Automatic Document Feeder", {}, 2, 850, 1400},
               {"feeder", true, "Automatic Document Feeder(Duplex)", {}, 4, 850, 1400}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
    {.name = "test",
     .device = "test:0",
     .record = "test",
     .dpi = "75",
     .resolution = "resolution=75",
     .colour = "Color",
     .depth = true,
     .scans = {{"flatbed", false, "Flatbed", {"br-x=200", "br-y=200"}, 1, 591, 591},
               {"feeder", false, "Automatic Document Feeder", {}, 10, 591, 591}},
     .emptySource = "feeder",
     .emptyError = outOfDocuments},
};

std::string read(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A copy of tests/sane/backends for one run, whose devices record into a folder of its own.
// `empty`: the record name of a device whose feeder is emptied.
class Backends {
 public:
  explicit Backends(const std::string& empty = "") {
    std::string source = std::string(QEV_SOURCE_DIR) + "/tests/sane/backends/";
    std::ofstream(dir / "dll.conf") << read(source + "dll.conf");
    std::ostringstream conf;
    for (std::string line : linesOf(read(source + "fault.conf"))) {
      auto at = line.find("@RECORD@/");
      bool emptied = at != std::string::npos && line.substr(at + 9) == empty;
      if (at != std::string::npos) line.replace(at, 8, dir.path());
      conf << line << "\n";
      // `record` is a device's last line: an emptied feeder follows it.
      if (emptied) conf << "sheets = 0\n";
    }
    std::ofstream(dir / "fault.conf") << conf.str();
  }

  qevtest::Options options() const {
    qevtest::Options o;
    o.env = {{"SANE_CONFIG_DIR", dir.path()}, {"LD_LIBRARY_PATH", QEV_FAULT_ALIAS_DIR}};
    o.timeout = 60s;
    return o;
  }

  // The lines a device recorded.
  std::vector<std::string> record(const std::string& name) const {
    return linesOf(read(dir / name));
  }

 private:
  qevtest::TempDir dir;
};

// The options qev set for the scan: from the last `source` line before the first `start`.
std::vector<std::string> settings(const std::vector<std::string>& record) {
  auto start = std::find(record.begin(), record.end(), "start");
  auto from = start;
  while (from != record.begin() && (from - 1)->rfind("source=", 0) != 0) --from;
  if (from != record.begin()) --from;
  return {from, start};
}

std::string valueOf(const std::vector<std::string>& lines, const std::string& name) {
  for (const auto& l : lines) {
    if (l.rfind(name + "=", 0) == 0) return l.substr(name.size() + 1);
  }
  return "";
}

class Backend : public testing::TestWithParam<Row> {};

TEST_P(Backend, ScansEachUnitInColourWithOptionsInAnOrderThatWorks) {
  const Row& row = GetParam();
  for (const Scan& scan : row.scans) {
    SCOPED_TRACE(scan.source + (scan.duplex ? " duplex" : ""));
    Backends config;
    qevtest::TempDir out;
    std::vector<std::string> args = {"scan",     "--device",  row.device, "--out", out.path(),
                                     "--source", scan.source, "--dpi",    row.dpi};
    if (scan.duplex) args.push_back("--duplex");
    auto run = qevtest::qev(args, config.options());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back(), (nlohmann::json{{"event", "done"}, {"pages", scan.pages}}));
    auto files = qevtest::pageFiles(run);
    EXPECT_EQ(files.size(), static_cast<std::size_t>(scan.pages)) << run.out;
    for (const auto& file : files) {
      auto info = qevtest::jpegInfo(file);
      ASSERT_TRUE(info) << file;
      EXPECT_EQ(info->width, scan.width) << file;
      EXPECT_EQ(info->height, scan.height) << file;
      EXPECT_EQ(info->components, 3) << file;
    }

    // Listings come at any time (qev's discovery, the check for a device that failed).
    auto record = config.record(row.record);
    std::erase(record, "devices");
    std::erase(record, "devices");
    auto set = settings(record);
    std::string shown;
    for (const auto& l : record) shown += l + "\n";
    SCOPED_TRACE("record:\n" + shown);
    EXPECT_EQ(valueOf(set, "source"), scan.sourceSet);
    EXPECT_EQ(valueOf(set, "mode"), row.colour);
    EXPECT_EQ(valueOf(set, "depth"), row.depth ? "8" : "");
    std::vector<std::string> wanted = scan.lines;
    wanted.push_back(row.resolution);
    for (const auto& line : wanted) {
      EXPECT_NE(std::find(set.begin(), set.end(), line), set.end()) << line;
    }
    // Nothing refused (an inactive option, a value out of range), nothing set twice.
    for (const auto& line : record) EXPECT_EQ(line.find('['), std::string::npos) << line;
    // Source (and the duplex switches), page size, mode, depth, resolution, area: each after
    // those that may reset or bound it.
    const std::string order[] = {"source",      "adf-mode", "duplex", "page-width",
                                 "page-height", "mode",     "depth",  "resolution",
                                 "tl-x",        "tl-y",     "br-x",   "br-y"};
    std::vector<std::string> names;
    for (const auto& line : set) names.push_back(line.substr(0, line.find('=')));
    std::ptrdiff_t last = 0;
    for (const auto& name : order) {
      std::ptrdiff_t at = std::find(names.begin(), names.end(), name) - names.begin();
      if (at == std::ssize(names)) continue;
      EXPECT_GE(at, last) << name << " is set too early";
      EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
      last = at;
    }
    // The sheets follow each other without a cancel (which drops the back of a duplex sheet
    // on some backends); the batch ends with one, and the device is closed.
    EXPECT_EQ(std::count(record.begin(), record.end(), "start"),
              scan.pages + (scan.source == "flatbed" && scan.pages == 1 ? 0 : 1));
    auto first = std::find(record.begin(), record.end(), "start");
    auto final = std::find(record.rbegin(), record.rend(), "start").base();
    EXPECT_EQ(std::count(first, final, "cancel"), 0);
    ASSERT_GE(record.size(), 2u);
    EXPECT_EQ(record[record.size() - 2], "cancel");
    EXPECT_EQ(record.back(), "close");
  }
}

class EmptyFeeder : public testing::TestWithParam<Row> {};

TEST_P(EmptyFeeder, IsAnErrorBeforeAnyPage) {
  const Row& row = GetParam();
  Backends config(row.record);
  qevtest::TempDir out;
  auto run = qevtest::qev({"scan", "--device", row.device, "--out", out.path(), "--source",
                           row.emptySource, "--dpi", row.dpi},
                          config.options());
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(run.events.size(), 2u) << run.out;
  EXPECT_EQ(run.events[0]["event"], "opened");
  EXPECT_EQ(run.events[1], row.emptyError);
  EXPECT_TRUE(qevtest::names(out / ".qev-incoming").empty());
}

std::string nameOf(const testing::TestParamInfo<Row>& info) { return info.param.name; }

std::vector<Row> withFeeders() {
  std::vector<Row> out;
  std::copy_if(std::begin(rows), std::end(rows), std::back_inserter(out),
               [](const Row& row) { return !row.emptySource.empty(); });
  return out;
}

INSTANTIATE_TEST_SUITE_P(Backends, Backend, testing::ValuesIn(rows), nameOf);
INSTANTIATE_TEST_SUITE_P(Backends, EmptyFeeder, testing::ValuesIn(withFeeders()), nameOf);

// `list` opens only the devices of backends whose open is quick and harmless (to read their
// sources); every other device's units come from the type string of the listing.
TEST(Backends, ListingOpensOnlyBackendsWhoseOpenIsHarmless) {
  struct Case {
    std::string id, record;
    bool opened, flatbed, feeder;
  } cases[] = {
      {"epson2:net:192.0.2.10", "epson2", false, true, false},  // "flatbed scanner"
      {"epsonds:usb:04b8:0152", "epsonds", false, true, false},
      {"fujitsu:fi-7260:A0B1C2", "fujitsu", true, true, true},
      {"pixma:04A9176D_3F1A2B", "pixma", true, true, true},
      {"genesys:sheetfed-gl841", "genesys-gl841", false, true, false},
      {"genesys:sheetfed-gl646", "genesys-gl646", false, true, false},
      {"genesys:lide", "genesys-lide", false, true, false},
      {"plustek:canoscan-n1240u", "plustek", false, true, false},
      {"hp5590:hp7650", "hp5590", false, true, false},
      {"avision:av3750", "avision", false, true, false},
      {"avision:av220", "avision-sheetfed", false, false, true},  // "sheetfed scanner"
      {"avision:filmscan", "avision-film", false, true, false},
      {"kodakaio:net:192.0.2.12", "kodakaio", true, true, true},
      {"xerox_mfp:workcentre-3225", "xerox_mfp", true, true, true},
      {"escl:http://192.0.2.20:80", "escl", true, true, true},
      {"airscan:e:Office", "airscan", true, true, true},
      {"hpaio:/usb/Officejet_Pro_8500_A910?serial=CN0A1B2C3D", "hpaio-scl", false, true, false},
      {"hpaio:/net/Officejet_Pro_8600?ip=192.0.2.22", "hpaio-ledm", false, true, false},
      {"brother3:bus1;dev1", "brother3", false, true, false},
      {"test:0", "test", true, true, true},
  };
  Backends config;
  auto run = qevtest::qev({"list", "--wait", "2"}, config.options());
  EXPECT_EQ(run.status, 0);
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.back(), (nlohmann::json{{"event", "done"}}));
  EXPECT_EQ(run.events.size(), std::size(cases) + 1) << run.out;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    auto record = config.record(c.record);
    EXPECT_EQ(std::count(record.begin(), record.end(), "open"), c.opened ? 1 : 0);
    auto device = std::find_if(run.events.begin(), run.events.end(),
                               [&](const auto& e) { return e.value("id", "") == c.id; });
    ASSERT_NE(device, run.events.end()) << run.out;
    EXPECT_EQ((*device)["flatbed"], c.flatbed);
    EXPECT_EQ((*device)["feeder"], c.feeder);
  }
}

// What `show` tells of each emulated device: its units, flatbed first, with the area, the
// resolutions and the duplex that a scan of each uses, read after selecting it (feeders have
// their own area, fujitsu's the page size qev sets), and duplex true exactly where a scan
// with --duplex gives two pages for each sheet (the Backend rows above).
struct Shown {
  std::string unit;
  double width, height;
  std::int64_t min, max;
  std::vector<std::int64_t> list;  // empty: a range
  bool duplex;
};

struct ShowRow {
  std::string name;
  std::string device;
  std::string record;  // the device's record file
  std::vector<Shown> units;
};

std::ostream& operator<<(std::ostream& out, const ShowRow& row) { return out << row.name; }

const std::vector<std::int64_t> epsonDpi = {75, 150, 300, 600, 1200};
const std::vector<std::int64_t> wideDpi = {75, 100, 150, 200, 300, 600, 1200};
const std::vector<std::int64_t> esclDpi = {75, 100, 150, 200, 300, 600};

const ShowRow showRows[] = {
    {"epson2",
     "epson2:net:192.0.2.10",
     "epson2",
     {{"flatbed", 215.9, 297.2, 75, 1200, epsonDpi, false},
      {"feeder", 215.9, 355.6, 75, 1200, epsonDpi, true}}},
    {"epsonds",
     "epsonds:usb:04b8:0152",
     "epsonds",
     {{"flatbed", 215.9, 297.2, 75, 1200, wideDpi, false},
      {"feeder", 215.9, 355.6, 75, 1200, wideDpi, true}}},
    // The feeder's page is as large as qev asks for: A4's height, not the backend's Letter.
    {"fujitsu",
     "fujitsu:fi-7260:A0B1C2",
     "fujitsu",
     {{"flatbed", 215.9, 297.0, 50, 600, {}, false}, {"feeder", 215.9, 297.0, 50, 600, {}, true}}},
    {"pixma",
     "pixma:04A9176D_3F1A2B",
     "pixma",
     {{"flatbed", 216.0, 297.0, 75, 1200, epsonDpi, false},
      {"feeder", 216.0, 355.6, 75, 1200, epsonDpi, true}}},
    {"genesys_gl841",
     "genesys:sheetfed-gl841",
     "genesys-gl841",
     {{"flatbed", 215.9, 355.6, 150, 600, {150, 300, 600}, false}}},
    {"genesys_gl646",
     "genesys:sheetfed-gl646",
     "genesys-gl646",
     {{"flatbed", 215.9, 355.6, 150, 600, {150, 300, 600}, false}}},
    {"genesys_flatbed",
     "genesys:lide",
     "genesys-lide",
     {{"flatbed", 216.1, 299.0, 75, 1200, {75, 100, 150, 300, 600, 1200}, false}}},
    {"plustek",
     "plustek:canoscan-n1240u",
     "plustek",
     {{"flatbed", 215.0, 297.0, 50, 1200, {}, false}}},
    {"hp5590",
     "hp5590:hp7650",
     "hp5590",
     {{"flatbed", 215.9, 297.2, 100, 2400, {100, 200, 300, 600, 1200, 2400}, false},
      {"feeder", 215.9, 355.6, 100, 2400, {100, 200, 300, 600, 1200, 2400}, true}}},
    {"avision",
     "avision:av3750",
     "avision",
     {{"flatbed", 215.9, 297.0, 50, 600, {}, false}, {"feeder", 215.9, 355.6, 50, 600, {}, true}}},
    {"avision_sheetfed",
     "avision:av220",
     "avision-sheetfed",
     {{"feeder", 215.9, 355.6, 50, 600, {}, true}}},
    {"avision_film",
     "avision:filmscan",
     "avision-film",
     {{"flatbed", 36.0, 24.0, 100, 3600, {}, false}}},
    {"kodakaio",
     "kodakaio:net:192.0.2.12",
     "kodakaio",
     {{"flatbed", 215.9, 297.0, 75, 1200, {75, 150, 200, 300, 600, 1200}, false},
      {"feeder", 215.9, 355.6, 75, 1200, {75, 150, 200, 300, 600, 1200}, true}}},
    // No duplex: --duplex scans one side of each sheet.
    {"xerox_mfp",
     "xerox_mfp:workcentre-3225",
     "xerox_mfp",
     {{"flatbed", 216.0, 297.0, 75, 1200, wideDpi, false},
      {"feeder", 216.0, 355.6, 75, 1200, wideDpi, false}}},
    {"escl",
     "escl:http://192.0.2.20:80",
     "escl",
     {{"flatbed", 215.9, 297.0, 75, 600, esclDpi, false},
      {"feeder", 215.9, 297.0, 75, 600, esclDpi, true}}},
    {"airscan",
     "airscan:e:Office",
     "airscan",
     {{"flatbed", 215.9, 297.0, 75, 600, esclDpi, false},
      {"feeder", 215.9, 355.6, 75, 600, esclDpi, true}}},
    // Duplex by a switch.
    {"hpaio_scl",
     "hpaio:/usb/Officejet_Pro_8500_A910?serial=CN0A1B2C3D",
     "hpaio-scl",
     {{"flatbed", 215.9, 296.9, 75, 1200, {}, false},
      {"feeder", 215.9, 381.0, 75, 1200, {}, true}}},
    {"hpaio_ledm",
     "hpaio:/net/Officejet_Pro_8600?ip=192.0.2.22",
     "hpaio-ledm",
     {{"flatbed", 215.9, 296.9, 75, 600, {75, 100, 200, 300, 600}, false},
      {"feeder", 215.9, 355.6, 75, 600, {75, 100, 200, 300, 600}, true}}},
    {"brscan3",
     "brother3:bus1;dev1",
     "brother3",
     {{"flatbed", 215.9, 297.0, 100, 1200, {100, 150, 200, 300, 400, 600, 1200}, false},
      {"feeder", 215.9, 355.6, 100, 1200, {100, 150, 200, 300, 400, 600, 1200}, true}}},
    {"test",
     "test:0",
     "test",
     {{"flatbed", 200.0, 200.0, 1, 1200, {}, false}, {"feeder", 200.0, 200.0, 1, 1200, {}, false}}},
};

class Show : public testing::TestWithParam<ShowRow> {};

TEST_P(Show, TellsEachUnitAsAScanOfItWouldUseIt) {
  const ShowRow& row = GetParam();
  Backends config;
  auto run = qevtest::qev({"show", "--device", row.device}, config.options());
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.events.size(), row.units.size() + 1) << run.out;
  EXPECT_EQ(run.events.back(), (nlohmann::json{{"event", "done"}}));
  for (std::size_t i = 0; i < row.units.size(); ++i) {
    const Shown& unit = row.units[i];
    SCOPED_TRACE(unit.unit);
    nlohmann::json want = {{"event", "unit"},        {"unit", unit.unit},
                           {"width_mm", unit.width}, {"height_mm", unit.height},
                           {"dpi_min", unit.min},    {"dpi_max", unit.max},
                           {"duplex", unit.duplex}};
    if (!unit.list.empty()) want["dpi"] = unit.list;
    EXPECT_EQ(run.events[i], want) << run.lines[i];
    // Millimetres with one decimal, whatever they are.
    EXPECT_TRUE(
        std::regex_search(run.lines[i], std::regex(R"("width_mm":\d+\.\d,"height_mm":\d+\.\d,)")))
        << run.lines[i];
    // Duplex where a scan with --duplex gives two pages for each sheet, and only there.
    auto scanned = std::find_if(std::begin(rows), std::end(rows),
                                [&](const Row& r) { return r.device == row.device; });
    if (unit.unit != "feeder" || scanned == std::end(rows)) continue;
    std::optional<int> one, both;
    for (const Scan& scan : scanned->scans) {
      if (scan.source == "feeder") (scan.duplex ? both : one) = scan.pages;
    }
    if (one && both) {
      EXPECT_EQ(unit.duplex, *both == 2 * *one);
    }
  }
  // The device was opened, and nothing started.
  auto record = config.record(row.record);
  EXPECT_EQ(std::count(record.begin(), record.end(), "open"), 1);
  EXPECT_EQ(std::count(record.begin(), record.end(), "start"), 0);
  ASSERT_FALSE(record.empty());
  EXPECT_EQ(record.back(), "close");
}

std::string showName(const testing::TestParamInfo<ShowRow>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Backends, Show, testing::ValuesIn(showRows), showName);

// A scanner unplugged while it is opened, while its options are set or when a sheet starts is
// reported as gone, like one unplugged in the middle of a page.
TEST(Backends, AScannerGoneAtAnyStageIsReportedDisconnected) {
  struct Case {
    const char* name;
    std::string lines;
    std::vector<std::string> args;
    std::vector<std::string> events;  // kinds after `opened`
  } cases[] = {
      {"at open", "remove = open\n", {}, {"error"}},
      {"while selecting the feeder", "remove = set source\n", {}, {"opened", "error"}},
      {"while setting the mode", "remove = set mode\n", {}, {"opened", "error"}},
      {"at the start of a sheet", "remove = start 2\n", {}, {"opened", "page", "error"}},
      {"in the middle of a page", "remove = 2\n", {}, {"opened", "page", "error"}},
      // The I/O error that ends a sheet-fed genesys batch means a lost scanner when it is no
      // longer listed.
      {"a genesys at the start of a sheet",
       "remove = start 2\n",
       {"--source", "flatbed"},
       {"opened", "page", "error"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bool genesys = std::string(c.name).find("genesys") != std::string::npos;
    std::string device = genesys ? R"([device]
backend = genesys
name = s
source = Flatbed
mode = Gray, Color
sheet-fed = yes
unknown-lines = yes
feeder-end = io-error-after 10
area = 50 50
sheets = 3
)"
                                 : R"([device]
backend = fujitsu
name = s
source = Flatbed, ADF Front
mode = Gray, Color
area = 50 50
sheets = 3
)";
    qevtest::TempDir dir;
    std::ofstream(dir / "dll.conf") << (genesys ? "genesys\n" : "fujitsu\n");
    std::ofstream(dir / "fault.conf") << device + c.lines;
    qevtest::Options options;
    options.env = {{"SANE_CONFIG_DIR", dir.path()}, {"LD_LIBRARY_PATH", QEV_FAULT_ALIAS_DIR}};
    options.timeout = 30s;
    qevtest::TempDir out;
    std::vector<std::string> args = {"scan", "--device", genesys ? "genesys:s" : "fujitsu:s",
                                     "--out", out.path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = qevtest::qev(args, options);
    EXPECT_EQ(run.status, 1);
    std::vector<std::string> kinds;
    for (const auto& e : run.events) kinds.push_back(e.value("event", ""));
    EXPECT_EQ(kinds, c.events) << run.out;
    EXPECT_EQ(run.events.back(), error("disconnected", "The scanner was disconnected."));
    EXPECT_TRUE(qevtest::names(out / ".qev-incoming").empty());
  }
}

}  // namespace
