#pragma once

// The options of an open SANE device, looked up by their well-known names ("source",
// "mode", "resolution", "tl-x" …), and the rules that map the scanner service's settings
// onto them. Worker thread only, like every SANE call.

#include <sane/sane.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/resolutions.h"
#include "common/units.h"

namespace qev {

enum class SourceKind { flatbed, feeder, duplex, other };

// What a `source` entry selects, as backends spell it (Flatbed, FlatBed, Normal, Document
// Table, ADF, ADF Front, ADF Duplex, Automatic Document Feeder …), ignoring letter case.
SourceKind sourceKind(std::string_view source);

// The spellings of a device's sources, the first of each kind.
struct Sources {
  std::optional<std::string> flatbed;
  std::optional<std::string> feeder;  // a duplex-only feeder when there is no other
  std::optional<std::string> duplex;
};
Sources sortSources(const std::vector<std::string>& entries);

// The functional unit types of a device: from its sources when it has any of a known kind,
// else guessed from the type string of SANE's listing, where backends tell it reliably:
// "sheetfed scanner" (plustek, avision) and "ADF scanner" (escl) a feeder, "flatbed or ADF
// scanner" (escl) both, anything else a flatbed (also "flatbed scanner" from genesys, epson2
// and kodakaio, which say so even with a feeder, and "film scanner" from avision).
std::vector<UnitType> unitTypes(const std::optional<Sources>& sources, std::string_view type);

// The entry of an `adf-mode` list (epson2, kodakaio: "Simplex", "Duplex") that scans one or
// both sides of each sheet; none when the list has no such entry.
std::optional<std::string> adfMode(const std::vector<std::string>& modes, bool duplex);

// The smallest page a feeder is set to, so that neither an A4 (210 x 297 mm) nor a Letter
// sheet (215.9 x 279.4 mm) is cut.
constexpr double pageWidth = 215.9, pageHeight = 297;  // mm

// A value for a page size option (fujitsu and canon_dr `page-width`, `page-height`) whose
// range is `range` and value `current`: at least `wanted` where the range allows it, else
// its maximum; a larger value stays.
double atLeast(double current, std::pair<double, double> range, double wanted);

// The entry of `modes` for a pixel data type (0 black and white, 1 gray, 2 colour). Colour
// falls back to gray, black and white to gray; none when nothing fits.
std::optional<std::string> modeFor(const std::vector<std::string>& modes, PixelType pixelType);

// Resolutions allowed by a resolution option, integer or fixed point, list or range.
Resolutions resolutionsOf(const SANE_Option_Descriptor& option);

class SaneOptions {
 public:
  explicit SaneOptions(SANE_Handle handle) : handle(handle) { reload(); }

  // Reads every descriptor afresh. Needed after a change that answers
  // SANE_INFO_RELOAD_OPTIONS, before any other call on the device.
  void reload();

  // The option, when the device has it.
  const SANE_Option_Descriptor* find(std::string_view name) const;
  // The option, when it is active and may be set.
  const SANE_Option_Descriptor* settable(std::string_view name) const;

  // The entries of a string-list option; none when it has no such list.
  std::optional<std::vector<std::string>> strings(std::string_view name) const;
  // The minimum and maximum of a number option with a range, in the option's unit.
  std::optional<std::pair<double, double>> range(std::string_view name) const;
  std::optional<double> number(std::string_view name);

  SANE_Status setString(std::string_view name, const std::string& value);
  // Sets an integer, fixed-point or boolean option.
  SANE_Status setNumber(std::string_view name, double value);

 private:
  struct Entry {
    SANE_Int index;
    const SANE_Option_Descriptor* descriptor;
  };
  const Entry* entry(std::string_view name) const;
  SANE_Status control(const Entry& entry, SANE_Action action, void* value);

  SANE_Handle handle;
  std::vector<Entry> entries;
};

}  // namespace qev
