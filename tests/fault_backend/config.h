#pragma once

// The devices fault.conf describes: what each offers and how it misbehaves. Read once in
// sane_init; README.md beside this file documents every key.

#include <sane/sane.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fault {

// A status from sane_start, or from sane_read halfway through a page.
struct Fault {
  long long page;  // 1-based, counted from sane_open
  bool atStart;    // from sane_start, else mid-read
  SANE_Status status;
};

enum class Crash { none, segv, abort, exit };

// What the first sane_start after the last sheet does.
enum class FeederEnd { startNoDocs, readNoDocs, startCancelled, ioErrorAfter, noDocsAfter };

// What the area options do when the source changes.
enum class SourceChange { keep, reset, maximise };

// An option of a shape the configuration gives (`resolution`, `depth-option`, `option`).
struct Shape {
  std::string name;
  SANE_Value_Type type = SANE_TYPE_STRING;  // STRING, BOOL, INT or FIXED
  SANE_Unit unit = SANE_UNIT_NONE;
  std::vector<std::string> strings;  // STRING: the list, the first item is the default
  bool range = false;                // numbers: `values` holds MIN MAX QUANT, else a list
  std::vector<double> values;        // numbers; the default is the first
  bool on = false;                   // BOOL: the default
};

struct Device {
  // `backend`: the name the library is loaded as (a copy named libsane-<backend>.so.1) that
  // serves this device; the dll loader shows it as `<backend>:<name>`.
  std::string backend = "fault";
  std::string name, vendor = "Fault", model = "Injector", type = "flatbed scanner";
  std::vector<std::string> sources, modes, reload;
  bool duplex = false, busy = false, unknownLines = false;
  bool sheetFed = false;  // every source feeds sheets, also one named Flatbed
  std::optional<Shape> resolution, depths;
  std::vector<Shape> extras;  // `option` lines, in order
  // The area: `area` for the flatbed (and the feeder unless `feeder-area` says otherwise).
  bool hasArea = false, pageSize = false, sourceDependent = false;
  double width = 210, height = 297, defaultWidth = -1, defaultHeight = -1;  // mm
  double feederWidth = -1, feederHeight = -1;                               // mm
  SourceChange sourceChange = SourceChange::keep;
  std::vector<std::pair<std::string, std::string>> resets;  // setting first resets second
  // The page: a fixed size, and the real size once sane_start has run.
  long long sizeX = -1, sizeY = -1, afterX = -1, afterY = -1;  // pixels, lines
  std::string frame;                                           // "rgb", "gray", ""
  int depth = 0;
  long long delayMs = 0, extra = 0, shortBy = 0, padding = 0, chunk = 0, padLines = 0;
  long long emptyReads = 0, emptyMs = 0, startDelayMs = 0;
  // The feeder: pages or sheets in it (a duplex source gives two pages per sheet).
  long long pages = 1;
  bool sheets = false;
  FeederEnd feederEnd = FeederEnd::startNoDocs;
  long long feederEndMs = 0;
  // Faults.
  std::vector<Fault> faults;
  SANE_Status openFails = SANE_STATUS_GOOD;  // what sane_open answers; GOOD: it opens
  std::string setFails;                      // setting this option answers `setStatus`
  SANE_Status setStatus = SANE_STATUS_GOOD;
  long long removeAt = 0, crashPage = 0, hangStart = 0, hangRead = 0;  // pages; 0: never
  long long removeStart = 0;  // page whose sane_start finds the device unplugged; 0: never
  bool removeOpen = false;    // sane_open finds the device unplugged
  std::string removeSet;      // setting this option finds the device unplugged
  Crash crashRead = Crash::none, crashOpen = Crash::none, crashDevices = Crash::none;
  bool hangOpen = false, hangDevices = false, resetSignals = false;
  // What sane_read answers once sane_cancel was called during or after a page.
  SANE_Status afterCancel = SANE_STATUS_CANCELLED;
  std::optional<std::string> print;  // written to standard output and error
  std::string record;                // a file that records what the frontend asked for
  // State of the loaded backend.
  bool removed = false;  // after a removal fault fired
  SANE_Device listing{};
};

// Reads fault.conf from the first folder of SANE_CONFIG_DIR that has one (then /etc/sane.d).
// Lines that cannot be used are reported on standard error and ignored.
std::vector<std::unique_ptr<Device>> load();

// A status as fault.conf spells it: its name without SANE_STATUS_ ("JAMMED").
const char* statusName(SANE_Status status);

// The names of the options a device offers, in the order sane_open builds them.
std::vector<std::string> optionNames(const Device& d);

}  // namespace fault
