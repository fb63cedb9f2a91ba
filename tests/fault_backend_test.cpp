// The fault-injecting test backend, driven by scanimage through libsane's dll loader exactly as
// the end-to-end tests of the scanner service load it: SANE_CONFIG_DIR names a folder whose
// dll.conf lists "fault", and LD_LIBRARY_PATH names the folder that holds libsane-fault.so.1.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/run.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// Runs scanimage in `dir` against the backend with the configuration in tests/sane/fault-basic.
Result scanimage(const std::vector<std::string>& args, const qevtest::TempDir& dir) {
  std::string command = "cd " + quoted(dir.path()) +
                        " && SANE_CONFIG_DIR=" + quoted(QEV_SOURCE_DIR "/tests/sane/fault-basic") +
                        " LD_LIBRARY_PATH=" + quoted(QEV_FAULT_BACKEND_DIR) + " scanimage";
  for (const auto& a : args) command += " " + quoted(a);
  command += " >" + quoted(dir / "stdout") + " 2>" + quoted(dir / "stderr");
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "stdout"),
          slurp(dir / "stderr")};
}

// "P5 10 4 65535" with the number of bytes after the header, from a PNM file.
std::string pnmShape(const std::string& path) {
  std::istringstream in(slurp(path));
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
  EXPECT_EQ(run.status, 0) << run.err;
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
      EXPECT_EQ(run.status, 0) << run.err;
    } else {
      EXPECT_NE(run.status, 0) << run.err;
    }
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    for (const auto& [file, shape] : c.pages) EXPECT_EQ(pnmShape(dir / file), shape) << file;
    for (const auto& file : c.absent) EXPECT_FALSE(std::ifstream(dir / file).good()) << file;
  }
}

}  // namespace
