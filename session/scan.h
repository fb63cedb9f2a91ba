#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/scanner.h"

namespace qev {

// The one scanning session of a `scan` run with one scanner. After `begin` only the
// scanner's callbacks act: they open the scanner, select its source, configure and start the
// scan, deliver each page into `out`, and end the process, with status 0 after `done` or
// status 1 after `error`. No callback looks at what came before it.
class Scan : public DeviceDelegate {
 public:
  // Makes the session `device`'s delegate. With `progress`, the session also reports how far
  // each page has come.
  Scan(std::shared_ptr<Device> device, std::string out, std::string source, bool duplex,
       std::int64_t dpi, bool progress = false);
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  // Creates `out`, opens it and its staging folder, makes sure a page can be written there
  // and asks the scanner to open. A folder that cannot take pages ends the run here, before
  // the scanner is opened.
  void begin();

  void didOpen(Device& scanner, const std::optional<Error>& error) override;
  void didRemove(Device& scanner) override;
  void didSelect(Device& scanner, Unit& unit, const std::optional<Error>& error) override;
  // Emits a `progress` event for the first report of each page and for each that shows a
  // larger figure than the one before.
  void didProgress(Device& scanner, const PageProgress& report) override;
  void didScan(Device& scanner, const std::string& path) override;
  void didComplete(Device& scanner, const std::optional<Error>& error) override;

  const std::shared_ptr<Device> device;
  const std::string out;     // the output folder, as given
  const std::string source;  // "flatbed" selects the flatbed, any other text the feeder
  const bool duplex;
  const std::int64_t dpi;
  const bool progress;
  std::int64_t pages = 0;  // pages delivered so far

 private:
  // Opened by `begin` and held until the process ends: the scanner writes pages into
  // `incoming`, and each is moved from there into `folder`.
  std::optional<Folder> folder, incoming;
  // The last progress emitted: its page and figure.
  std::int64_t shownPage = 0, shownFigure = 0;
};

}  // namespace qev
