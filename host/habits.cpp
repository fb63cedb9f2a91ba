#include "host/habits.h"

#include <algorithm>

namespace qev {

namespace {

// Which backends `list` may open to read a device's source list. Opening a scanner claims it
// (every other program's open answers busy meanwhile), and some backends act on the hardware
// or wait for it when opened; those are never probed, and their devices' units are guessed
// from the type string of SANE's listing (unitTypes), as are those of a probe that fails or
// finds the device busy. A backend that is not named here is not probed.
struct ProbeRule {
  std::string_view backend;
  bool probe;
  std::string_view why;
};
constexpr ProbeRule probeRules[] = {
    {"test", true, "a virtual device"},
    {"fault", true, "our own test backend"},
    {"fujitsu", true, "claims the device and sends a few commands, without delay"},
    {"canon_dr", true, "claims the device and sends a few commands, without delay"},
    {"xerox_mfp", true, "claims the device and sends a few commands, without delay"},
    {"kodakaio", true, "claims the device and sends a few commands, without delay"},
    {"escl", true, "one HTTP request for the capabilities"},
    {"airscan", true, "one HTTP request once its first discovery has run (up to 20 s)"},
    {"pixma", true, "re-runs its network discovery (at least 0.5 s), then claims the device"},
    {"epson2", false, "network models open a session, take a lock and sleep 1 s"},
    {"epsonds", false,
     "network models open a session, take a lock and sleep 1 s; closing may "
     "retry for up to 50 s"},
    {"genesys", false,
     "boots the chip and moves the head home on every open; closing ejects "
     "the sheet of a sheet-fed model and turns the lamp off"},
    {"plustek", false, "resets the chip and moves the head home (already while listing)"},
    {"avision", false,
     "waits for the device for 1 to 10 s; film scanners calibrate and move "
     "home"},
    {"hp5590", false,
     "its listing already holds the device open; an open wakes the scanner, "
     "up to 90 s"},
    {"net", false, "the remote saned opens the remote backend's device, with all the above"},
    {"hpaio", false, "what its open does to the device is not known"},
    {"brother3", false, "what its open does to the device is not known"},
};

// How each backend's feeder says it is empty after the last sheet. A backend that is not
// named has only the rows for every backend (""). Each row holds only after a page: into an
// empty feeder the same status is an error, since no batch was scanned.
struct EndRule {
  std::string_view backend;  // "": every backend
  Stage stage;
  SANE_Status status;
  Ending ending;
  std::string_view why;
};
constexpr EndRule endRules[] = {
    {"", Stage::start, SANE_STATUS_NO_DOCS, Ending::ends,
     "the standard's empty feeder: epson2, epsonds, fujitsu, canon_dr, hp5590, avision, "
     "xerox_mfp, hpaio, escl, test, brscan3 after the last sheet; airscan at times"},
    {"", Stage::firstRead, SANE_STATUS_NO_DOCS, Ending::ends,
     "pixma starts a sheet that is not there and finds out at the first read; airscan at "
     "times"},
    {"kodakaio", Stage::start, SANE_STATUS_CANCELLED, Ending::ends,
     "kodakaio answers CANCELLED on purpose when its feeder is empty"},
    // Only genesys: an I/O error from any other backend is a failure, and treating it as the
    // end would report a batch as complete while sheets are left in the feeder. An unplugged
    // genesys answers the same, so the device must still be listed.
    {"genesys", Stage::start, SANE_STATUS_IO_ERROR, Ending::endsIfListed,
     "sheet-fed models on the gl841 chip give up waiting for a sheet after 30 s with an I/O "
     "error"},
};

// A dead connection of the net backend answers every read with nothing at once: a remote
// scanner that is only slow blocks in the read instead (saned sends nothing until it has
// data). Every other backend may take its time: warm-ups and calibrations of 30 to 90 s
// happen in reads as well as in sane_start (avision, hp5590, genesys), and fujitsu and
// canon_dr answer reads with nothing while the scanner works.
constexpr std::chrono::milliseconds netSilence{1000};
constexpr std::chrono::milliseconds silence{120000};

}  // namespace

std::string_view backendOf(std::string_view device) { return device.substr(0, device.find(':')); }

bool probeSafe(std::string_view name) {
  std::string_view backend = backendOf(name);
  for (const auto& rule : probeRules) {
    if (rule.backend == backend) return rule.probe;
  }
  return false;
}

Ending feederEnding(std::string_view backend, Stage stage, SANE_Status status) {
  for (const auto& rule : endRules) {
    if ((rule.backend.empty() || rule.backend == backend) && rule.stage == stage &&
        rule.status == status) {
      return rule.ending;
    }
  }
  return Ending::fails;
}

std::chrono::milliseconds silenceLimit(std::string_view backend) {
  return backend == "net" ? netSilence : silence;
}

std::chrono::milliseconds emptyReadPause(int empty) {
  // 1, 2, 4, 4 … ms: quick for a backend that has data a moment later, idle for a long spell.
  return std::chrono::milliseconds(1 << std::clamp(empty - 1, 0, 2));
}

bool sheetsOnFlatbed(std::string_view backend) {
  // genesys lists "Flatbed" as the only source of its sheet-fed models too.
  return backend == "genesys";
}

}  // namespace qev
