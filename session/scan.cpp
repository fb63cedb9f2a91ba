#include "session/scan.h"

#include <algorithm>

#include "cli/end.h"
#include "cli/event.h"
#include "cli/names.h"
#include "cli/text.h"
#include "platform/files.h"
#include "session/delivery.h"
#include "session/resolution.h"

namespace qev {

namespace {

// The scanner writes its pages here, inside the output folder, before they are moved.
constexpr const char* staging = ".qev-incoming";
constexpr const char* documentName = "qev-incoming";
constexpr const char* documentType = "public.jpeg";

[[noreturn]] void unusable(const Error& error) {
  fail(Code::folderUnusable, "The output folder cannot be used: ", error);
}

}  // namespace

Scan::Scan(std::shared_ptr<Device> device, std::string out, std::string source, bool duplex,
           std::int64_t dpi, bool progress)
    : device(std::move(device)),
      out(std::move(out)),
      source(std::move(source)),
      duplex(duplex),
      dpi(dpi),
      progress(progress) {
  this->device->setDelegate(this);
}

void Scan::begin() {
  // Everything a page needs on disk is tried before the scanner is opened, so that a folder
  // that cannot take pages feeds no sheet. The staging folder must be qev's own: another
  // user who could write it could swap a page between its scan and its move.
  if (Outcome made = makeFolder(out); !made.ok()) unusable(made.error());
  Outcome opened;
  folder = Folder::open(out, opened);
  if (!folder) unusable(opened.error());
  incoming = Folder::own(*folder, staging, opened);
  if (!incoming) unusable(opened.error());
  // Pages are written in the one and moved into the other.
  if (Outcome writable = checkWritable(*incoming); !writable.ok()) unusable(writable.error());
  if (Outcome writable = checkWritable(*folder); !writable.ok()) unusable(writable.error());
  device->requestOpenSession();
}

void Scan::didOpen(Device& scanner, const std::optional<Error>& error) {
  if (error) fail(Code::openFailed, "The scanner did not open: ", *error);
  emit({{"event", "opened"}, {"name", scanner.name().value_or("Scanner")}});
  const bool flatbed = sameText(source, "flatbed");
  const UnitType type = flatbed ? flatbedUnit : feederUnit;
  auto units = device->availableUnitTypes();
  if (std::find(units.begin(), units.end(), type) == units.end()) {
    if (flatbed) fail(Code::noFlatbed, "This scanner has no flatbed.");
    fail(Code::noFeeder, "This scanner has no document feeder.");
  }
  device->requestSelectUnit(type);
}

void Scan::didSelect(Device& scanner, Unit& unit, const std::optional<Error>& error) {
  if (error) fail(Code::settingsRefused, "The scanner did not take the settings: ", *error);
  unit.setResolution(
      chooseResolution(dpi, unit.supportedResolutions(), unit.preferredResolutions()));
  unit.setPixelDataType(rgbPixels);
  unit.setBitDepth(bitDepth8);
  // The kind of unit the scanner selected decides, not what was asked for.
  if (unit.type() == feederUnit) {
    unit.setDuplexScanningEnabled(duplex && unit.supportsDuplexScanning());
  }
  if (unit.type() == flatbedUnit) {
    Size glass = unit.physicalSize();
    unit.setScanArea({.x = 0, .y = 0, .width = glass.width, .height = glass.height});
  }
  scanner.setTransferMode(fileTransfer);
  scanner.setDownloadsFolder(*incoming);
  scanner.setDocumentName(documentName);
  scanner.setDocumentType(documentType);
  // Without being asked for, progress is not even counted: the stream stays as it always was.
  if (progress) scanner.setReportsProgress(true);
  scanner.requestScan();
}

void Scan::didProgress(Device&, const PageProgress& report) {
  if (!progress) return;
  const std::int64_t figure = report.figure();
  if (report.page == shownPage && figure <= shownFigure) return;
  shownPage = report.page;
  shownFigure = figure;
  emit({{"event", "progress"}, {"n", report.page}, {report.known() ? "percent" : "lines", figure}});
}

void Scan::didScan(Device&, const std::string& path) {
  // The number is taken before the move and stays taken whatever the move does.
  std::int64_t n = ++pages;
  emit({{"event", "page"}, {"file", deliver(*incoming, path, *folder, n)}, {"n", n}});
}

void Scan::didComplete(Device& scanner, const std::optional<Error>& error) {
  // An error ends the scan as a failure even after pages: a jam on sheet 3 of 20 is no
  // finished batch. The pages delivered so far stay where their events said. A cause that
  // tells no kind of its own (an I/O error of the scanner or the disk, an image that cannot
  // be made) is the scan's I/O failure.
  if (error) fail(Code::ioError, "The scan stopped: ", *error);
  emit({{"event", "done"}, {"pages", pages}});
  scanner.requestCloseSession();
  end(0);
}

void Scan::didRemove(Device&) { fail(Code::disconnected, "The scanner was disconnected."); }

}  // namespace qev
