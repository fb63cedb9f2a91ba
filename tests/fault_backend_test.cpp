// The fault-injecting test backend, driven by scanimage through libsane's dll loader exactly as
// the end-to-end tests of the scanner service load it: SANE_CONFIG_DIR names a folder whose
// dll.conf lists "fault", and LD_LIBRARY_PATH names the folder that holds libsane-fault.so.1.

#include <gtest/gtest.h>
#include <sane/sane.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/files.h"
#include "testing/spawn.h"
#include "testing/temp_dir.h"

namespace {

using qevtest::exited;
using qevtest::killedBy;

// scanimage with `args` against the backend configured in the folder `config`, run in the
// folder `dir` with its standard output and error in the files "stdout" and "stderr" there,
// and no core dumps.
qevtest::Launch scanimage(const std::vector<std::string>& args, const std::string& config,
                          const qevtest::TempDir& dir) {
  std::vector<std::string> argv = {"sh", "-c", "ulimit -c 0 && exec scanimage \"$@\"", "scanimage"};
  argv.insert(argv.end(), args.begin(), args.end());
  return {.args = argv,
          .env = {{"SANE_CONFIG_DIR", config}, {"LD_LIBRARY_PATH", QEV_FAULT_BACKEND_DIR}},
          .cwd = dir.path(),
          .in = {.path = "/dev/null"},
          .out = {.path = "stdout"},
          .err = {.path = "stderr"}};
}

struct Result {
  qevtest::Exit ended;
  std::string out, err;
};

// Runs scanimage in `dir` against the backend with the configuration in tests/sane/fault-basic.
Result scanimage(const std::vector<std::string>& args, const qevtest::TempDir& dir) {
  qevtest::Spawned scan(scanimage(args, QEV_SOURCE_DIR "/tests/sane/fault-basic", dir));
  auto ended = scan.wait();
  return {ended, qevtest::readFile(dir / "stdout"), qevtest::readFile(dir / "stderr")};
}

// "P5 10 4 65535" with the number of bytes after the header, from a PNM file.
std::string pnmShape(const std::string& path) {
  std::istringstream in(qevtest::readFile(path));
  std::string magic, comment;
  int width = 0, height = 0, maxval = 0;
  in >> magic >> std::ws;
  if (in.peek() == '#') std::getline(in, comment);
  in >> width >> height;
  if (magic != "P4") in >> maxval;  // bitmaps have no maximum value
  in.get();
  std::string rest(std::istreambuf_iterator<char>(in), {});
  return magic + " " + std::to_string(width) + " " + std::to_string(height) + " " +
         std::to_string(maxval) + " +" + std::to_string(rest.size());
}

TEST(FaultBackend, ListsEveryDeviceWithItsTextsByteForByte) {
  qevtest::TempDir dir;
  auto run = scanimage({"-L"}, dir);
  EXPECT_EQ(run.ended, exited(0)) << run.err;
  for (const char* line : {
           "device `fault:flatbed' is a Fault Flatbed 1 flatbed scanner\n",
           "device `fault:feeder' is a Fault Feeder \"Duplex\" sheetfed scanner\n",
           "device `fault:busy' is a Fault Busy flatbed scanner\n",
           "device `fault:odd\"name\x01' is a \xFFVendor\t Model\xC3\x28 \"quoted\" virtual "
           "device\n",
       })
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\nin:\n" << run.out;
}

TEST(FaultBackend, ScansAndFailsAsConfigured) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> pages;  // file, pnmShape
    std::vector<std::string> absent;                         // files that must not exist
    std::string err;                                         // a part of standard error
  } cases[] = {
      {"flatbed area and resolution",
       {"-d", "fault:flatbed", "--mode", "Color", "--resolution", "150", "-x", "50.8", "-y", "25.4",
        "-o", "page.pnm"},
       {{"page.pnm", "P6 300 150 255 +135000"}},
       {},
       ""},
      {"lineart by mode",
       {"-d", "fault:flatbed", "--mode", "Lineart", "--resolution", "75", "-x", "25.4", "-y",
        "25.4", "-o", "page.pnm"},
       {{"page.pnm", "P4 75 75 0 +750"}},
       {},
       ""},
      {"16-bit gray",
       {"-d", "fault:gray16", "-o", "page.pnm"},
       {{"page.pnm", "P5 10 4 65535 +80"}},
       {},
       ""},
      {"height unknown until the end",
       {"-d", "fault:unknown-lines", "-o", "page.pnm"},
       {{"page.pnm", "P6 10 4 255 +120"}},
       {},
       ""},
      {"more bytes than announced",
       {"-d", "fault:overflow", "-o", "page.pnm"},
       {{"page.pnm", "P5 10 4 255 +45"}},
       {},
       "WARNING: read more data than announced by backend (45/40)"},
      {"fewer bytes than announced",
       {"-d", "fault:underflow", "-o", "page.pnm"},
       {{"page.pnm", "P5 10 4 255 +35"}},
       {},
       ""},
      {"padded lines",
       {"-d", "fault:padded", "-o", "page.pnm"},
       {{"page.pnm", "P5 10 4 255 +64"}},
       {},
       ""},
      {"empty page",
       {"-d", "fault:empty", "-o", "page.pnm"},
       {{"page.pnm", "P5 0 0 255 +0"}},
       {},
       ""},
      {"an option that reloads the others",
       {"-d", "fault:reload", "--mode", "Gray", "--source", "ADF", "-o", "page.pnm"},
       {{"page.pnm", "P5 20 10 255 +200"}},
       {},
       ""},
      {"feeder jams on page 3",
       {"-d", "fault:feeder", "--source", "ADF Duplex", "--duplex=yes", "--resolution", "600",
        "--batch=p%d.pnm"},
       {{"p1.pnm", "P6 40 30 255 +3600"}, {"p2.pnm", "P6 40 30 255 +3600"}},
       {"p3.pnm"},
       "sane_start: Document feeder jammed"},
      {"feeder removed during page 2",
       {"-d", "fault:unplugged", "--batch=p%d.pnm"},
       {{"p1.pnm", "P5 40 30 255 +1200"}},
       {},
       "sane_read: Error during device I/O"},
      {"busy at open",
       {"-d", "fault:busy", "-o", "page.pnm"},
       {},
       {"page.pnm"},
       "open of device fault:busy failed: Device busy"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir dir;
    auto run = scanimage(c.args, dir);
    if (c.err.empty() || c.err.find("WARNING") != std::string::npos) {
      EXPECT_EQ(run.ended, exited(0)) << run.err;
    } else {
      EXPECT_NE(run.ended, exited(0)) << run.err;
    }
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    for (const auto& [file, shape] : c.pages) EXPECT_EQ(pnmShape(dir / file), shape) << file;
    for (const auto& file : c.absent) EXPECT_FALSE(std::ifstream(dir / file).good()) << file;
  }
}

}  // namespace

// The newer keys, each test with its own fault.conf in a temporary folder. Every device
// there records what scanimage asked of it in the file "record" of the folder.

namespace {

using namespace std::chrono_literals;

std::vector<std::string> linesOf(const std::string& path) {
  std::istringstream in(qevtest::readFile(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A folder that loads the fault backend alone, with one device `fault:d` made of `lines`,
// or with the whole fault.conf given.
class Conf {
 public:
  explicit Conf(const std::string& lines, bool whole = false) {
    std::ofstream(dir / "dll.conf") << "fault\n";
    std::ofstream(dir / "fault.conf")
        << (whole ? lines : "[device]\nname = d\nrecord = " + record() + "\n" + lines);
  }
  const std::string& path() const { return dir.path(); }
  std::string record() const { return dir / "record"; }

 private:
  qevtest::TempDir dir;
};

// Waits up to 30 seconds until the last line of the file at `path` is `line`.
bool waitForLast(const std::string& path, const std::string& line) {
  for (auto until = std::chrono::steady_clock::now() + 30s;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(5ms)) {
    auto lines = linesOf(path);
    if (!lines.empty() && lines.back() == line) return true;
  }
  return false;
}

// Whether `want` appears in `lines` in this order, other lines allowed in between.
bool inOrder(const std::vector<std::string>& want, const std::vector<std::string>& lines) {
  auto at = lines.begin();
  for (const auto& w : want) {
    at = std::find(at, lines.end(), w);
    if (at == lines.end()) return false;
    ++at;
  }
  return true;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

// The pixels of a PGM file after its header, or "" when it is not one.
std::string grayPixels(const std::string& path) {
  std::istringstream in(qevtest::readFile(path));
  std::string magic, comment;
  int width = 0, height = 0, maxval = 0;
  in >> magic >> std::ws;
  if (in.peek() == '#') std::getline(in, comment);
  in >> width >> height >> maxval;
  in.get();
  if (magic != "P5") return "";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the backend sends for a gray page of `width` × `height` whose last `white` lines are
// padding: (x + y) & 0xff, then 0xff.
std::string pattern(int width, int height, int white) {
  std::string bytes;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bytes += static_cast<char>(y >= height - white ? 0xff : (x + y) & 0xff);
  return bytes;
}

TEST(FaultBackend, BehavesAsRealBackendsDo) {
  // Resolution 25.4 dpi: a page has as many pixels as the area has millimetres.
  const std::string fujitsu =
      "type = scanner\nsource = Flatbed, ADF Front, ADF Duplex\nmode = Gray, Color\n"
      "resolution = fixed list 25.4\narea = 215.9 297\n";
  const std::string moving =
      "source = Flatbed, ADF\nresolution = fixed list 25.4\narea = 215.9 297\n"
      "feeder-area = 100 200\n";
  const std::string sheetfed = "type = sheetfed scanner\nsize = 4 2\npages = 2\n";
  struct Case {
    const char* name;
    std::string device;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> pages = {};  // file, pnmShape
    std::vector<std::string> absent = {};                         // files that must not exist
    qevtest::Exit ended = exited(0);
    std::string err = "";                  // a part of standard error
    std::vector<std::string> record = {};  // lines of the record, in this order
    std::vector<std::string> out = {};     // parts of standard output
    int white = -1;  // the pages' pixels are the pattern with this many white lines; -1: unchecked
    std::chrono::milliseconds least = 0ms;  // the backend's waits add up to this at least
  } cases[] = {
      {.name = "a duplex source gives front and back of every sheet",
       .device = fujitsu + "size = 4 2\nsheets = 2\n",
       .args = {"--source", "ADF Duplex", "--batch=p%d.pnm"},
       .pages = {{"p1.pnm", "P5 4 2 255 +8"},
                 {"p2.pnm", "P5 4 2 255 +8"},
                 {"p3.pnm", "P5 4 2 255 +8"},
                 {"p4.pnm", "P5 4 2 255 +8"}},
       .absent = {"p5.pnm"},
       .err = "sane_start: Document feeder out of documents",
       .record = {"start", "start", "start", "start", "start", "cancel", "close"}},
      {.name = "a simplex source gives one page per sheet",
       .device = fujitsu + "size = 4 2\nsheets = 2\n",
       .args = {"--source", "ADF Front", "--batch=p%d.pnm"},
       .pages = {{"p1.pnm", "P5 4 2 255 +8"}, {"p2.pnm", "P5 4 2 255 +8"}},
       .absent = {"p3.pnm"}},
      {.name = "adf-mode Duplex makes the feeder duplex",
       .device = "source = Flatbed, Automatic Document Feeder\n"
                 "option = adf-mode string Simplex, Duplex\nsize = 4 2\nsheets = 2\n",
       .args = {"--source", "Automatic Document Feeder", "--adf-mode", "Duplex", "--batch=p%d.pnm"},
       .pages = {{"p4.pnm", "P5 4 2 255 +8"}},
       .absent = {"p5.pnm"},
       .record = {"adf-mode=Duplex"}},
      {.name = "the duplex switch makes the feeder duplex",
       .device = "source = Flatbed, ADF\nduplex = yes\nsize = 4 2\nsheets = 2\n",
       .args = {"--source", "ADF", "--duplex=yes", "--batch=p%d.pnm"},
       .pages = {{"p4.pnm", "P5 4 2 255 +8"}},
       .absent = {"p5.pnm"},
       .record = {"duplex=1"}},
      {.name = "pages count pages, duplex or not",
       .device = fujitsu + "size = 4 2\npages = 3\n",
       .args = {"--source", "ADF Duplex", "--batch=p%d.pnm"},
       .pages = {{"p3.pnm", "P5 4 2 255 +8"}},
       .absent = {"p4.pnm"}},
      {.name = "a Letter page bounds the feeder's area",
       .device = fujitsu + "page-size = yes\n",
       .args = {"--source", "ADF Front", "-y", "297", "-o", "page.pnm"},
       .pages = {{"page.pnm", "P5 216 279 255 +60264"}},
       .record = {"source=ADF Front", "br-x=215.9", "br-y=297 (279.4)", "start"}},
      {.name = "a page size set before the area lets it grow",
       .device = fujitsu + "page-size = yes\n",
       .args = {"--source", "ADF Front", "--page-height", "297", "-y", "297", "-o", "page.pnm"},
       .pages = {{"page.pnm", "P5 216 297 255 +64152"}},
       .record = {"page-height=297", "br-y=297", "start"}},
      {.name = "the page size is inactive on the flatbed",
       .device = fujitsu + "page-size = yes\n",
       .args = {"--source", "Flatbed", "--page-width", "100", "-o", "page.pnm"},
       .absent = {"page.pnm"},
       .ended = exited(1),
       .err = "attempted to set inactive option page-width"},
      {.name = "the flatbed's area stays beyond the feeder's range",
       .device = moving + "source-change = keep\n",
       .args = {"--source", "ADF", "-o", "page.pnm"},
       .pages = {{"page.pnm", "P5 100 200 255 +20000"}},
       .record = {"source=ADF", "br-x=215.9 (100)", "br-y=297 (200)"}},
      {.name = "the area resets to the feeder's whole range",
       .device = moving + "source-change = reset\n",
       .args = {"--source", "ADF", "-o", "page.pnm"},
       .record = {"source=ADF", "br-x=100", "br-y=200"}},
      {.name = "the area resets to the default area",
       .device = moving + "source-change = reset\ndefault-area = 50 60\n",
       .args = {"--source", "ADF", "-o", "page.pnm"},
       .pages = {{"page.pnm", "P5 50 60 255 +3000"}},
       .record = {"source=ADF", "br-x=50", "br-y=60"}},
      {.name = "the area is maximised whatever the default area",
       .device = moving + "source-change = maximise\ndefault-area = 50 60\n",
       .args = {"--source", "ADF", "-o", "page.pnm"},
       .record = {"source=ADF", "br-x=100", "br-y=200"}},
      {.name = "setting the mode after the depth resets the depth",
       .device = "mode = Gray, Color, Lineart\ndepth-option = 8, 16\nresets = mode:depth\n"
                 "size = 4 2\n",
       .args = {"--depth", "16", "--mode", "Color", "-o", "page.pnm"},
       .pages = {{"page.pnm", "P6 4 2 255 +24"}},
       .record = {"depth=16", "mode=Color", "start"}},
      {.name = "the depth set after the mode stays",
       .device = "mode = Gray, Color, Lineart\ndepth-option = 8, 16\nresets = mode:depth\n"
                 "size = 4 2\n",
       .args = {"--mode", "Color", "--depth", "16", "-o", "page.pnm"},
       .pages = {{"page.pnm", "P6 4 2 65535 +48"}}},
      {.name = "the depth is inactive in Lineart",
       .device = "mode = Gray, Color, Lineart\ndepth-option = 8, 16\nsize = 4 2\n",
       .args = {"--mode", "Lineart", "--depth", "16", "-o", "page.pnm"},
       .ended = exited(1),
       .err = "attempted to set inactive option depth"},
      {.name = "more options, listed and set",
       .device = "option = adf-mode string Simplex, Duplex\noption = long-paper bool no\n"
                 "option = gamma fixed range 0.5 3 0\noption = speed int list 1 2 4\n",
       .args = {"--adf-mode", "duplex", "--long-paper=yes", "--gamma", "2.25", "--speed", "3",
                "-A"},
       .record = {"adf-mode=duplex (Duplex)", "long-paper=1", "gamma=2.25", "speed=3 (2)"},
       .out = {"--adf-mode Simplex|Duplex [Duplex]", "--long-paper[=(yes|no)] [yes]",
               "--gamma 0.5..3 [2.25]", "--speed 1|2|4 [2]"}},
      {.name = "the feeder's end: NO_DOCS from sane_start",
       .device = sheetfed + "feeder-end = start-nodocs\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p1.pnm", "P5 4 2 255 +8"}, {"p2.pnm", "P5 4 2 255 +8"}},
       .absent = {"p3.pnm"},
       .err = "sane_start: Document feeder out of documents"},
      {.name = "the feeder's end: NO_DOCS from the first sane_read",
       .device = sheetfed + "feeder-end = read-nodocs\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p1.pnm", "P5 4 2 255 +8"}, {"p2.pnm", "P5 4 2 255 +8"}},
       .absent = {"p3.pnm"},
       .err = "sane_read: Document feeder out of documents",
       .record = {"start", "start", "start", "cancel"}},
      {.name = "the feeder's end: CANCELLED from sane_start",
       .device = sheetfed + "feeder-end = start-cancelled\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p2.pnm", "P5 4 2 255 +8"}},
       .absent = {"p3.pnm"},
       .ended = exited(2),  // scanimage exits with the status: SANE_STATUS_CANCELLED
       .err = std::string("sane_start: ") + sane_strstatus(SANE_STATUS_CANCELLED)},
      {.name = "the feeder's end: IO_ERROR from sane_start after a wait",
       .device = sheetfed + "feeder-end = io-error-after 200\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p2.pnm", "P5 4 2 255 +8"}},
       .absent = {"p3.pnm"},
       .ended = exited(9),  // SANE_STATUS_IO_ERROR
       .err = "sane_start: Error during device I/O",
       .least = 200ms},
      {.name = "the feeder's end: NO_DOCS from sane_start after a wait",
       .device = sheetfed + "feeder-end = nodocs-after 200\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p2.pnm", "P5 4 2 255 +8"}},
       .absent = {"p3.pnm"},
       .err = "sane_start: Document feeder out of documents",
       .least = 200ms},
      {.name = "reads that return nothing at the start of every page",
       .device = sheetfed + "size = 40 30\nchunk = 100\nempty-reads = 5\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p1.pnm", "P5 40 30 255 +1200"}, {"p2.pnm", "P5 40 30 255 +1200"}},
       .white = 0},
      {.name = "a slow spell at the start of every page",
       .device = sheetfed + "size = 40 30\nempty-reads-ms = 100\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p1.pnm", "P5 40 30 255 +1200"}, {"p2.pnm", "P5 40 30 255 +1200"}},
       .white = 0,
       .least = 200ms},
      {.name = "a warm-up in every sane_start",
       .device = sheetfed + "start-delay = 100\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p1.pnm", "P5 4 2 255 +8"}, {"p2.pnm", "P5 4 2 255 +8"}},
       .white = 0,
       .least = 300ms},
      {.name = "the real size known only after sane_start",
       .device = "size = 10 4\nparams-after-start = 20 6\n",
       .args = {"-o", "page.pnm"},
       .pages = {{"page.pnm", "P5 20 6 255 +120"}},
       .white = 0},
      {.name = "feeder pages of unknown height end by EOF",
       .device = sheetfed + "size = 10 4\nunknown-lines = yes\nchunk = 7\n",
       .args = {"--batch=p%d.pnm"},
       .pages = {{"p1.pnm", "P5 10 4 255 +40"}, {"p2.pnm", "P5 10 4 255 +40"}},
       .absent = {"p3.pnm"},
       .white = 0},
      {.name = "white lines pad the page to its announced size",
       .device = "size = 10 6\npad-lines = 2\n",
       .args = {"-o", "page.pnm"},
       .pages = {{"page.pnm", "P5 10 6 255 +60"}},
       .white = 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Conf conf(c.device);
    qevtest::TempDir dir;
    std::vector<std::string> args = {"-d", "fault:d"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto start = std::chrono::steady_clock::now();
    qevtest::Spawned scan(scanimage(args, conf.path(), dir));
    EXPECT_EQ(scan.wait(), c.ended);
    EXPECT_GE(std::chrono::steady_clock::now() - start, c.least);
    std::string err = qevtest::readFile(dir / "stderr"), out = qevtest::readFile(dir / "stdout");
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
    for (const auto& part : c.out)
      EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
    for (const auto& [file, shape] : c.pages) {
      EXPECT_EQ(pnmShape(dir / file), shape) << file;
      int width = 0, height = 0;
      std::sscanf(shape.c_str(), "P5 %d %d", &width, &height);
      if (c.white >= 0) {
        EXPECT_EQ(grayPixels(dir / file), pattern(width, height, c.white)) << file;
      }
    }
    for (const auto& file : c.absent) EXPECT_FALSE(std::ifstream(dir / file).good()) << file;
    auto record = linesOf(conf.record());
    EXPECT_TRUE(inOrder(c.record, record)) << joined(record);
  }
}

TEST(FaultBackend, RecordsWhatTheFrontendAskedForInCallOrder) {
  Conf conf(
      "source = Flatbed, ADF\nmode = Gray, Color\nresolution = int range 50 600 0\n"
      "area = 100 100\noption = gamma fixed range 0.5 3 0\n");
  qevtest::TempDir dir;
  qevtest::Spawned scan(
      scanimage({"-d", "fault:d", "--source", "adf", "--mode", "Color", "--resolution", "700",
                 "--gamma", "1.5", "-x", "50", "-y", "150", "--batch=p%d.pnm"},
                conf.path(), dir));
  EXPECT_EQ(scan.wait(), exited(0));
  EXPECT_EQ(qevtest::readFile(conf.record()),
            "open\n"
            "source=adf (ADF)\n"
            "mode=Color\n"
            "resolution=700 (600)\n"
            "gamma=1.5\n"
            "br-x=50\n"
            "br-y=150 (100)\n"
            "start\n"
            "start\n"
            "cancel\n"
            "close\n");
}

TEST(FaultBackend, PrintedTextReachesBothStreamsAndAnyTypeIsListed) {
  Conf conf(
      "[device]\nname = p\ntype = multi-function peripheral\nprint = \"noise \\\"here\\\"\\x21\"\n"
      "size = 4 2\n[device]\nname = q\ntype = \"\"\n",
      true);
  const std::string noise = "noise \"here\"!\n";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;  // all of standard output
    int noises;       // lines of noise on standard error
  } cases[] = {
      {"listing: sane_init, then sane_get_devices",
       {"-L"},
       noise + noise + "device `fault:p' is a Fault Injector multi-function peripheral\n" +
           "device `fault:q' is a Fault Injector \n",
       2},
      {"scanning: sane_init, sane_open, sane_start",
       {"-d", "fault:p", "-o", "page.pnm"},
       noise + noise + noise,
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir dir;
    qevtest::Spawned scan(scanimage(c.args, conf.path(), dir));
    EXPECT_EQ(scan.wait(), exited(0));
    EXPECT_EQ(qevtest::readFile(dir / "stdout"), c.out);
    auto err = linesOf(dir / "stderr");
    EXPECT_EQ(std::count(err.begin(), err.end(), noise.substr(0, noise.size() - 1)), c.noises)
        << joined(err);
  }
}

TEST(FaultBackend, CrashesEndTheFrontend) {
  const std::string feeder = "type = sheetfed scanner\nsize = 40 30\npages = 3\n";
  struct Case {
    const char* name;
    std::string device;
    qevtest::Exit ended;
    std::vector<std::string> pages;  // whole pages written before the end
    std::vector<std::string> record;
  } cases[] = {
      {"SIGSEGV halfway through page 2",
       feeder + "crash = 2 segv\n",
       killedBy(SIGSEGV),
       {"p1.pnm"},
       {"open", "start", "start"}},
      {"abort halfway through page 1",
       feeder + "crash = 1 abort\n",
       killedBy(SIGABRT),
       {},
       {"open", "start"}},
      {"exit(3) halfway through page 3",
       feeder + "crash = 3 exit\n",
       exited(3),
       {"p1.pnm", "p2.pnm"},
       {"open", "start", "start", "start"}},
      {"SIGSEGV inside sane_open", feeder + "crash = open segv\n", killedBy(SIGSEGV), {}, {"open"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Conf conf(c.device);
    qevtest::TempDir dir;
    qevtest::Spawned scan(scanimage({"-d", "fault:d", "--batch=p%d.pnm"}, conf.path(), dir));
    EXPECT_EQ(scan.wait(), c.ended);
    for (const auto& page : c.pages) EXPECT_EQ(pnmShape(dir / page), "P5 40 30 255 +1200");
    EXPECT_FALSE(std::ifstream(dir / ("p" + std::to_string(c.pages.size() + 1) + ".pnm")).good());
    EXPECT_EQ(linesOf(conf.record()), c.record);
  }
}

// The signals whose handlers a process has installed, from /proc/PID/status.
unsigned long long caught(pid_t pid) {
  std::istringstream in(qevtest::readFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("SigCgt:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
  return 0;
}

TEST(FaultBackend, HangsNeverReturnAndIgnoreCancel) {
  const std::string feeder = "type = sheetfed scanner\nsize = 40 30\npages = 3\n";
  const unsigned long long handled =
      1ULL << (SIGINT - 1) | 1ULL << (SIGPIPE - 1) | 1ULL << (SIGTERM - 1);
  struct Case {
    const char* name;
    std::string device;
    std::vector<std::string> args;
    bool handlers;  // scanimage's own signal handlers are in place while it hangs
    std::vector<std::string> record;
    bool firstPage = false;  // page 1 was written whole before the hang
  } cases[] = {
      {"listing", "hang = devices\n", {"-L"}, false, {"devices", "hang"}},
      {"opening", "hang = open\n", {"-d", "fault:d", "-o", "page.pnm"}, false, {"open", "hang"}},
      {"starting page 2",
       feeder + "hang = start 2\n",
       {"-d", "fault:d", "--batch=p%d.pnm"},
       true,
       {"open", "start", "start", "hang", "cancel"},
       true},
      {"reading page 1",
       feeder + "hang = read\n",
       {"-d", "fault:d", "--batch=p%d.pnm"},
       true,
       {"open", "start", "hang", "cancel"}},
      {"starting, with the signals reset",
       feeder + "hang = start\nsignals = reset\n",
       {"-d", "fault:d", "--batch=p%d.pnm"},
       false,
       {"open", "start", "hang"}},
      {"reading page 2, with the signals reset",
       feeder + "hang = read 2\nsignals = reset\n",
       {"-d", "fault:d", "--batch=p%d.pnm"},
       false,
       {"open", "start", "start", "hang"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Conf conf(c.device);
    qevtest::TempDir dir;
    qevtest::Spawned scan(scanimage(c.args, conf.path(), dir));
    ASSERT_TRUE(waitForLast(conf.record(), "hang")) << joined(linesOf(conf.record()));
    EXPECT_TRUE(scan.running());
    EXPECT_EQ(caught(scan.id()) & handled, c.handlers ? handled : 0);
    scan.signal(SIGTERM);
    if (c.handlers) {
      // scanimage's handler calls sane_cancel, which changes nothing.
      EXPECT_TRUE(waitForLast(conf.record(), "cancel"));
      std::this_thread::sleep_for(200ms);
      EXPECT_TRUE(scan.running());
      scan.signal(SIGKILL);
      EXPECT_EQ(scan.wait(), killedBy(SIGKILL));
    } else {
      EXPECT_EQ(scan.wait(), killedBy(SIGTERM));
    }
    EXPECT_EQ(linesOf(conf.record()), c.record);
    if (c.firstPage) {
      EXPECT_EQ(pnmShape(dir / "p1.pnm"), "P5 40 30 255 +1200");
    }
  }
}

TEST(FaultBackend, ReportsAndIgnoresEveryUnusableLine) {
  struct Line {
    const char* text;
    bool usable;
  } lines[] = {
      {"crash = 0 segv", false},
      {"crash = 1 boom", false},
      {"crash = open", false},
      {"crash = 9 exit", true},
      {"hang = open 2", false},
      {"hang = read x", false},
      {"hang = nowhere", false},
      {"hang = read 9", true},
      {"hang = devices 2", false},
      {"hang = start 0", false},
      {"crash = open segv now", false},
      {"print = ", true},
      {"signals = ignore", false},
      {"signals = keep", true},
      {"option = Bad string A", false},
      {"option = source string A", false},
      {"option = empty string", false},
      {"option = x int list 1 q", false},
      {"option = y bool maybe", false},
      {"option = z fixed range 1 2", false},
      {"option = paper string A4, Letter", true},
      {"option = paper bool no", false},
      {"resets = mode:depth", false},
      {"resets = paper:paper", false},
      {"depth-option = 8, 12", false},
      {"page-size = maybe", false},
      {"feeder-area = 100", false},
      {"feeder-area = -1 100", false},
      {"source-change = forget", false},
      {"sheets = x", false},
      {"feeder-end = io-error-after", false},
      {"feeder-end = nodocs-after -5", false},
      {"feeder-end = never", false},
      {"feeder-end = read-nodocs 5", false},
      {"empty-reads = -1", false},
      {"empty-reads-ms = soon", false},
      {"start-delay = 1.5", false},
      {"params-after-start = 1", false},
      {"pad-lines = -1", false},
      {"record = \"\"", false},
      {"fail = 0 read JAMMED", false},
      {"fail = 1 middle JAMMED", false},
      {"fail = 1 read GOOD", false},
      {"fail = open", false},
      {"fail = open GOOD", false},
      {"fail = set Source INVAL", false},
      {"fail = set source", false},
      {"fail = 9 read JAMMED", true},
      {"fail = set nothing INVAL", true},
      {"size = 4 2", true},
  };
  std::string text = "[device]\nname = d\n";
  for (const auto& l : lines) text += std::string(l.text) + "\n";
  Conf conf(text, true);
  qevtest::TempDir dir;
  qevtest::Spawned scan(scanimage({"-d", "fault:d", "-o", "page.pnm"}, conf.path(), dir));
  // The usable lines leave a device that scans a page of 4 × 2 and never crashes or hangs.
  EXPECT_EQ(scan.wait(), exited(0));
  EXPECT_EQ(pnmShape(dir / "page.pnm"), "P5 4 2 255 +8");
  std::string err = qevtest::readFile(dir / "stderr");
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    SCOPED_TRACE(lines[i].text);
    std::string report =
        "fault.conf:" + std::to_string(i + 3) + ": cannot use \"" + lines[i].text + "\"";
    EXPECT_EQ(err.find(report) != std::string::npos, !lines[i].usable) << err;
  }
}

}  // namespace
