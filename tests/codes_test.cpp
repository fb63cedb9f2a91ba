// Every failure a caller must tell apart, provoked through the real binary against real SANE
// (the fault backend) and the real file system: the run ends with the `error` event whose
// `code` names the kind of failure, beside its message for people.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

// When a case sends SIGTERM: never, or once the scanner hangs in a call (its record says so).
enum class Stop { none, onHang };

// A fault.conf whose device `fault:d` has the lines of `habit` and keeps its record at
// `record`.
std::string device(const std::string& habit, const std::string& record) {
  return "[device]\nname = d\nrecord = " + record + "\n" + habit;
}

const std::string feeder = "type = sheetfed scanner\nsize = 40 30\npages = 3\n";

TEST(ErrorCodes, EachFailureEndsWithItsCodeAndItsMessage) {
  struct Case {
    const char* name;
    // The arguments after `qev`: OUT stands for the output folder, PLAIN for a plain file.
    std::vector<std::string> args;
    std::string habit;  // of the scanner `fault:d`
    std::string code;
    std::string message;
    Stop stop = Stop::none;
    long disk = 0;      // the output folder is a file system of this many bytes (needs root)
    bool fonts = true;  // false: fontconfig finds no font, so no test page can be drawn
  } cases[] = {
      {"no command", {}, "", "usage", "Use list, scan or simulate."},
      {"simulate without a folder", {"simulate"}, "", "usage", "Name a folder with --out."},
      {"scan without a scanner",
       {"scan", "--out", "OUT"},
       "",
       "usage",
       "Name a scanner and a folder."},
      {"a scanner that never appears",
       {"scan", "--device", "fault:other", "--out", "OUT"},
       "",
       "not_connected",
       "The scanner is not connected."},
      {"busy",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       "busy = yes\n",
       "busy",
       "The scanner did not open: Device busy"},
      {"access refused",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       "fail = open ACCESS_DENIED\n",
       "access_denied",
       "The scanner did not open: Access to resource has been denied"},
      {"an open that fails",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       "fail = open IO_ERROR\n",
       "open_failed",
       "The scanner did not open: Error during device I/O"},
      {"no flatbed",
       {"scan", "--device", "fault:d", "--out", "OUT", "--source", "flatbed"},
       feeder,
       "no_flatbed",
       "This scanner has no flatbed."},
      {"no feeder",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       "source = Flatbed\n",
       "no_feeder",
       "This scanner has no document feeder."},
      {"a source refused",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       "source = Flatbed, ADF\nfail = set source INVAL\n",
       "settings_refused",
       "The scanner did not take the settings: Invalid argument"},
      // The cause's code, wherever it is met.
      {"a source refused by a busy scanner",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       "source = Flatbed, ADF\nfail = set source DEVICE_BUSY\n",
       "busy",
       "The scanner did not take the settings: Device busy"},
      {"an empty feeder",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       feeder + "pages = 0\n",
       "feeder_empty",
       "The scan stopped: Document feeder out of documents"},
      {"a jam after a page",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       feeder + "fail = 2 start JAMMED\n",
       "jammed",
       "The scan stopped: Document feeder jammed"},
      {"an open cover",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       feeder + "fail = 1 read COVER_OPEN\n",
       "cover_open",
       "The scan stopped: Scanner cover is open"},
      {"an I/O error",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       feeder + "fail = 1 read IO_ERROR\n",
       "io_error",
       "The scan stopped: Error during device I/O"},
      {"a scanner unplugged mid-page",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       feeder + "remove = 2\n",
       "disconnected",
       "The scanner was disconnected."},
      {"a stop while the scanner hangs",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       feeder + "hang = read 1\n",
       "cancelled",
       "The scan stopped: Operation was canceled",
       Stop::onHang},
      {"a driver that crashes",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       feeder + "crash = 2 segv\n",
       "driver_stopped",
       "The scan stopped: The scanner's driver stopped unexpectedly (Segmentation fault)."},
      {"an output folder that is a file",
       {"scan", "--device", "fault:d", "--out", "PLAIN"},
       feeder,
       "folder_unusable",
       "The output folder cannot be used: Not a directory"},
      // A page of some 130 KB, on a disk of 64 KB.
      {"a full disk",
       {"scan", "--device", "fault:d", "--out", "OUT"},
       "type = sheetfed scanner\nmode = Color\nsize = 1000 1000\n",
       "disk_full",
       "The scan stopped: No space left on device",
       Stop::none,
       64 * 1024},
      {"a test page that cannot be drawn",
       {"simulate", "--out", "OUT"},
       "",
       "draw_failed",
       "Could not draw a test page.",
       Stop::none,
       0,
       false},
      {"a test page that cannot be written",
       {"simulate", "--out", "PLAIN/pages"},
       "",
       "write_failed",
       "Could not write a test page: Not a directory"},
      {"a test page on a full disk",
       {"simulate", "--out", "OUT", "--pages", "5"},
       "",
       "disk_full",
       "Could not write a test page: No space left on device",
       Stop::none,
       64 * 1024},
  };
  std::vector<std::string> skipped;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.disk > 0 && !qevtest::mayMount()) {
      skipped.push_back(c.name);
      continue;
    }
    qevtest::TempDir dir;
    const std::string out = dir / "out", plain = dir / "plain", record = dir / "record";
    std::ofstream(plain) << "not a folder";
    std::vector<std::string> args;
    for (const auto& a : c.args) {
      args.push_back(a == "OUT" ? out : a.starts_with("PLAIN") ? plain + a.substr(5) : a);
    }
    qevtest::FaultConfig config(device(c.habit, record));
    auto options = config.options();
    if (c.disk > 0) options.through = qevtest::onSmallDisk(out, dir / "kept", c.disk).through;
    if (!c.fonts) {
      std::ofstream(dir / "fonts.conf") << "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n";
      options.env["FONTCONFIG_FILE"] = dir / "fonts.conf";
    }
    if (c.stop == Stop::onHang) {
      options.signalWhen = [&](const qevtest::Run&) { return qevtest::recorded(record, "hang"); };
    }
    auto run = qevtest::qev(args, options);
    ASSERT_NE(run.status, 99) << "could not mount the small disk";
    ASSERT_NO_FATAL_FAILURE(qevtest::expectFailed(run, c.code, c.message));
  }
  if (!skipped.empty()) GTEST_SKIP() << "needs root and mounts: " << skipped.size() << " rows";
}

}  // namespace
