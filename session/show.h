#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/event.h"
#include "discovery/lookup.h"
#include "platform/run_loop.h"
#include "platform/scanner.h"

namespace qev {

// The `unit` event for a unit that is selected: its kind, the largest area it scans, the
// resolutions `scan --dpi` can reach on it (listed when the scanner offers a list, left out
// when it tells none) and whether `scan --duplex` scans both sides there (feeders only).
Event unitEvent(const Unit& unit);

// The session of a `show` run: it opens the scanner, selects each of its units in turn,
// flatbed first, emits a `unit` event for each as it is selected, then `done`, closes the
// scanner and ends the process with status 0. Nothing is scanned. A failure ends the run with
// its `error` and status 1.
class Show : public DeviceDelegate {
 public:
  // Makes the session `device`'s delegate.
  explicit Show(std::shared_ptr<Device> device);
  Show(const Show&) = delete;
  Show& operator=(const Show&) = delete;

  // Asks the scanner to open.
  void begin();

  void didOpen(Device& scanner, const std::optional<Error>& error) override;
  void didRemove(Device& scanner) override;
  void didSelect(Device& scanner, Unit& unit, const std::optional<Error>& error) override;
  void didScan(Device& scanner, const std::string& path) override;
  // Only a stop or the end of the driver completes a session that scans nothing.
  void didComplete(Device& scanner, const std::optional<Error>& error) override;

  const std::shared_ptr<Device> device;

 private:
  // Selects the next unit to show, or ends the run when every one has been shown.
  void next();

  std::vector<UnitType> left;  // the units still to show, in order
  bool opened = false;
};

// The `show` road: looks for the scanner with `service` as `scan` does, shows it and runs the
// loop without end; every end of the run comes from a callback.
[[noreturn]] void runShow(RunLoop& loop, std::unique_ptr<DeviceBrowser> service,
                          const std::string& id, const LookupTimes& times = {});

}  // namespace qev
