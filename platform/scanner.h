#pragma once

// The scanner service: a browser that reports scanners, the scanners themselves, their
// functional units (flatbed, document feeder) and the callbacks through which they answer.
//
// Contract:
// - Every request returns at once; its outcome arrives later as a callback. Every callback
//   is posted to the main run loop (platform/run_loop.h) and runs on the loop's thread, one
//   at a time, only while the loop runs. Implementations may work on threads of their own,
//   but never call a delegate from them.
// - The service owns browsers, devices and units. A device stays valid for as long as
//   anyone holds it (shared ownership), also after it has gone away; a unit stays valid for
//   as long as its device lives.
// - Texts that a scanner may not report are optional; failures carry their description.
// - Delegates are not owned: they must outlive the device (in practice, the process).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/resolutions.h"
#include "common/units.h"

namespace qev {

class Folder;
class RunLoop;

// Device types the browser looks for: scanners (0x2) that are local (0x100), shared (0x200)
// or announced on the network (0x400).
inline constexpr unsigned browsedDeviceTypes = 0x702;

// A source of a scanner: its flatbed or its document feeder.
class Unit {
 public:
  virtual ~Unit() = default;

  virtual UnitType type() const = 0;  // flatbedUnit or feederUnit

  virtual Resolutions supportedResolutions() const = 0;
  virtual Resolutions preferredResolutions() const = 0;
  virtual void setResolution(std::int64_t dpi) = 0;
  virtual void setPixelDataType(PixelType type) = 0;
  virtual void setBitDepth(int depth) = 0;

  // Document feeders only.
  virtual bool supportsDuplexScanning() const = 0;
  virtual void setDuplexScanningEnabled(bool enabled) = 0;

  // The largest area the unit scans, in mm: a flatbed's whole glass; for a document feeder,
  // the largest page a scan of it asks for.
  virtual Size physicalSize() const = 0;
  // Flatbeds only.
  virtual void setScanArea(const Area& area) = 0;
};

class Device;

// Receives the callbacks of one scanner.
class DeviceDelegate {
 public:
  virtual ~DeviceDelegate() = default;

  // The session opened, or why not.
  virtual void didOpen(Device& device, const std::optional<Error>& error) = 0;
  // The scanner went away.
  virtual void didRemove(Device& device) = 0;

  // The unit asked for is selected, or why not.
  virtual void didSelect(Device& device, Unit& unit, const std::optional<Error>& error) = 0;
  // How far the page being read has come, when asked for (setReportsProgress): once when
  // its first data arrive, with no line read, then whenever its figure (PageProgress::figure)
  // has grown, at most ten times a second. Every report of a page comes before its `didScan`.
  virtual void didProgress(Device& /*device*/, const PageProgress& /*progress*/) {}
  // One page lies in the downloads folder at `path`.
  virtual void didScan(Device& device, const std::string& path) = 0;
  // The scan is over: after the last page, or with the error that ended it.
  virtual void didComplete(Device& device, const std::optional<Error>& error) = 0;
};

class Device {
 public:
  virtual ~Device() = default;

  virtual bool isScanner() const { return true; }
  virtual std::optional<std::string> uuid() const = 0;
  virtual std::optional<std::string> name() const = 0;
  virtual std::optional<std::string> transport() const = 0;
  virtual std::vector<UnitType> availableUnitTypes() const = 0;

  virtual void setDelegate(DeviceDelegate* delegate) = 0;

  virtual void requestOpenSession() = 0;
  virtual void requestSelectUnit(UnitType type) = 0;
  virtual void setTransferMode(int mode) = 0;
  // The folder the scan's page files are created in. Not owned: the caller keeps it open
  // until the scan has completed.
  virtual void setDownloadsFolder(const Folder& folder) = 0;
  virtual void setDocumentName(const std::string& name) = 0;
  virtual void setDocumentType(const std::string& type) = 0;
  // Whether the scan reports how far each page has come (DeviceDelegate::didProgress). Off
  // until set.
  virtual void setReportsProgress(bool /*enabled*/) {}
  virtual void requestScan() = 0;
  // Closes the session before returning, leaving the scanner idle.
  virtual void requestCloseSession() = 0;
  // Stops the session's work when the user asks the run to stop: a scan in progress ends
  // at once, its incomplete page discarded, the session is closed, leaving the scanner
  // idle, and the completion callback follows with the service's cancellation error. Safe
  // at any stage; the pages already delivered stay.
  virtual void requestCancel() {}
};

// Receives the browser's reports.
class BrowserDelegate {
 public:
  virtual ~BrowserDelegate() = default;
  virtual void didAdd(const std::shared_ptr<Device>& device) = 0;
  virtual void didRemove(const std::shared_ptr<Device>& device) = 0;
  // The service cannot look for scanners at all (what it needs is missing or would not
  // start): no scanner will come. `error` says what failed and where.
  virtual void didFail(const Error& /*error*/) {}
};

class DeviceBrowser {
 public:
  virtual ~DeviceBrowser() = default;
  virtual void setDelegate(BrowserDelegate* delegate) = 0;
  virtual void setBrowsedDeviceTypes(unsigned mask) = 0;
  // Devices come by callback from here on; browsing never stops.
  virtual void start() = 0;
  // The service's error for a run that the user stopped before any session began: its
  // description, and the code of a cancel.
  virtual Error cancelledError() = 0;
};

// The platform's scanner service, posting its callbacks to `loop`. With `probe`, the service
// may open devices briefly to learn their units (for a listing); without, it opens only the
// device a session asks for. With `wanted`, the identifier of the one scanner a caller looks
// for, the service may look only where a scanner of that identifier can be.
std::unique_ptr<DeviceBrowser> newDeviceBrowser(RunLoop& loop, bool probe,
                                                const std::string& wanted = {});

// At the end of qev: lets whatever the service runs beside qev end as it ends by itself, and
// waits a moment for it, so that its own end (a sanitizer build's leak check) runs before
// the kernel ends it with qev. False when it ended with a failure of its own.
bool endScannerService();

}  // namespace qev
