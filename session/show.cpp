#include "session/show.h"

#include <algorithm>
#include <cmath>

#include "cli/end.h"
#include "discovery/browser.h"
#include "platform/signals.h"

namespace qev {

namespace {

// Millimetres to the nearest tenth: SANE keeps them in fixed point, so 215.9 mm arrives as a
// hair less.
Tenths tenthsOf(double mm) { return Tenths{std::llround(mm * 10)}; }

// Whether the set is a list of single values, as scanners offer a word list, rather than a
// range.
bool isList(const Resolutions& set) {
  return std::all_of(set.parts().begin(), set.parts().end(),
                     [](const Resolutions::Range& r) { return r.min == r.max; });
}

}  // namespace

Event unitEvent(const Unit& unit) {
  const bool feeder = unit.type() == feederUnit;
  Size area = unit.physicalSize();
  Event event{{"event", "unit"},
              {"unit", feeder ? "feeder" : "flatbed"},
              {"width_mm", tenthsOf(area.width)},
              {"height_mm", tenthsOf(area.height)}};
  Resolutions dpi = unit.supportedResolutions();
  if (auto smallest = dpi.smallest(), largest = dpi.largest(); smallest && largest) {
    event.emplace_back("dpi_min", *smallest);
    event.emplace_back("dpi_max", *largest);
    if (isList(dpi)) {
      std::vector<std::int64_t> list;
      for (const auto& r : dpi.parts()) list.push_back(r.min);
      std::sort(list.begin(), list.end());
      list.erase(std::unique(list.begin(), list.end()), list.end());
      event.emplace_back("dpi", std::move(list));
    }
  }
  // What a scan does: it asks a feeder for both sides only where the feeder can give them.
  event.emplace_back("duplex", feeder && unit.supportsDuplexScanning());
  return event;
}

Show::Show(std::shared_ptr<Device> device) : device(std::move(device)) {
  this->device->setDelegate(this);
}

void Show::begin() { device->requestOpenSession(); }

void Show::didOpen(Device&, const std::optional<Error>& error) {
  if (error) fail(Code::openFailed, "The scanner did not open: ", *error);
  opened = true;
  auto units = device->availableUnitTypes();
  for (UnitType type : {flatbedUnit, feederUnit}) {
    if (std::find(units.begin(), units.end(), type) != units.end()) left.push_back(type);
  }
  next();
}

void Show::next() {
  if (left.empty()) {
    emit({{"event", "done"}});
    device->requestCloseSession();
    end(0);
  }
  UnitType type = left.front();
  left.erase(left.begin());
  device->requestSelectUnit(type);
}

void Show::didSelect(Device&, Unit& unit, const std::optional<Error>& error) {
  if (error) fail(Code::settingsRefused, "The scanner did not take the settings: ", *error);
  emit(unitEvent(unit));
  next();
}

// Nothing is asked to scan: a page that came all the same is no concern of a show.
void Show::didScan(Device&, const std::string&) {}

void Show::didComplete(Device&, const std::optional<Error>& error) {
  Error cause = error.value_or(Error{});
  if (cause.code == Code::cancelled) fail(Code::cancelled, "The scan stopped: ", cause);
  if (!opened) fail(Code::openFailed, "The scanner did not open: ", cause);
  fail(Code::settingsRefused, "The scanner did not take the settings: ", cause);
}

void Show::didRemove(Device&) { fail(Code::disconnected, "The scanner was disconnected."); }

void runShow(RunLoop& loop, std::unique_ptr<DeviceBrowser> service, const std::string& id,
             const LookupTimes& times) {
  // Both live, the browser still browsing, until the process ends inside the loop.
  Browser browser(std::move(service), loop);
  // A stop ends the run as it ends a scan: during the lookup at once, once the session exists
  // through the scanner, which is closed before the run ends with its cancellation error.
  Show* session = nullptr;
  StopSignals stop(loop, [&session, &browser] {
    if (session == nullptr)
      fail(Code::cancelled, "The scan stopped: ", browser.browser->cancelledError());
    session->device->requestCancel();
  });
  Show show(lookup(loop, browser, id, times));
  session = &show;
  show.begin();
  loop.run();
}

}  // namespace qev
