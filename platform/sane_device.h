#pragma once

// A SANE device as the scanner service's Device, in two halves: `SaneDevice` lives on the
// main thread (the delegate, the units and the settings the session makes), `DeviceCore` on
// the worker (the SANE handle, its options and the scans). Requests go from the first to the
// second as worker tasks; answers come back as callbacks posted to the main run loop. The
// core never touches main-thread state, and the device never makes a SANE call.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sane_options.h"
#include "platform/scanner.h"

namespace qev {

class PageEncoder;
class SaneWorker;

// A device as SANE lists it, copied out of SANE's own list.
struct DeviceInfo {
  std::string name;  // "test:0", "net:127.0.0.1:test:0" …
  std::string vendor;
  std::string model;
  std::string type;  // "flatbed scanner", "virtual device" …
  std::vector<unsigned> units;
};

// "usb", "network", "scsi", "virtual" or "" when it cannot be told.
std::string transportOf(const DeviceInfo& info);
// Vendor and model joined by one space, trimmed; none when both are empty.
std::optional<std::string> nameOf(const DeviceInfo& info);

// What a unit offers, read when it is selected.
struct UnitInfo {
  unsigned type = flatbedUnit;
  Resolutions supported;
  Resolutions preferred;
  bool duplex = false;
  Size physical;  // the largest scan area, in the unit of the device's geometry (mm)
};

// Everything a scan needs, taken from the session's settings when it asks to scan.
struct ScanJob {
  unsigned unit = flatbedUnit;
  std::optional<std::int64_t> dpi;
  int pixelType = rgbPixels;
  int depth = bitDepth8;
  bool duplex = false;
  std::optional<Area> area;  // flatbeds; a feeder scans its whole range
  std::string folder;
  std::string document;
};

class SaneDevice;

class DeviceCore {
 public:
  DeviceCore(DeviceInfo info, RunLoop& loop, SaneWorker& worker);
  ~DeviceCore();
  DeviceCore(const DeviceCore&) = delete;
  DeviceCore& operator=(const DeviceCore&) = delete;

  // Set once, before any task runs.
  std::weak_ptr<SaneDevice> owner;
  // Asks a running scan to stop; set by the main thread while it waits for `close`.
  std::atomic<bool> closing{false};
  // Asks a running scan to stop and the session to end with SANE's cancellation status; set
  // by the main thread when the user stops the run.
  std::atomic<bool> cancelling{false};

  // Worker thread only.
  void open();
  void select(unsigned type);
  void scan(const ScanJob& job);
  void close();
  // Closes the session and completes with the cancellation status, unless a scan already
  // did so.
  void cancel();

 private:
  struct Handle {
    SANE_Handle handle = nullptr;
    ~Handle();
  };
  template <class F>
  void tell(F f);
  std::optional<Error> apply(const ScanJob& job, int& density);
  SANE_Status readPage(PageEncoder& encoder);
  std::optional<Error> createPage(const ScanJob& job, int& fd, std::string& path);
  bool lost();

  DeviceInfo info;
  RunLoop& loop;
  SaneWorker& worker;
  std::unique_ptr<Handle> handle;
  std::unique_ptr<SaneOptions> options;
  std::optional<Sources> sources;
  int nextFile = 1;
  bool cancelled = false;  // the cancellation has been answered
};

class SaneUnit final : public Unit {
 public:
  UnitInfo info;
  ScanJob wanted;

  unsigned type() const override { return info.type; }
  Resolutions supportedResolutions() const override { return info.supported; }
  Resolutions preferredResolutions() const override { return info.preferred; }
  void setResolution(std::int64_t dpi) override { wanted.dpi = dpi; }
  void setPixelDataType(int type) override { wanted.pixelType = type; }
  void setBitDepth(int depth) override { wanted.depth = depth; }
  bool supportsDuplexScanning() const override { return info.duplex; }
  void setDuplexScanningEnabled(bool enabled) override { wanted.duplex = enabled; }
  Size physicalSize() const override { return info.physical; }
  void setScanArea(const Area& area) override { wanted.area = area; }
};

class SaneDevice final : public Device, public std::enable_shared_from_this<SaneDevice> {
 public:
  static std::shared_ptr<SaneDevice> make(DeviceInfo info, std::shared_ptr<SaneWorker> worker,
                                          RunLoop& loop);
  SaneDevice(DeviceInfo info, std::shared_ptr<SaneWorker> worker, RunLoop& loop);
  ~SaneDevice() override;
  SaneDevice(const SaneDevice&) = delete;
  SaneDevice& operator=(const SaneDevice&) = delete;

  // The SANE device name, as text that can be written (SANE is given the name as it is).
  std::optional<std::string> uuid() const override;
  std::optional<std::string> name() const override;
  std::optional<std::string> transport() const override;
  std::vector<unsigned> availableUnitTypes() const override { return info.units; }

  void setDelegate(DeviceDelegate* d) override { delegate = d; }
  void requestOpenSession() override;
  void requestSelectUnit(unsigned type) override;
  // Pages always come as files.
  void setTransferMode(int) override {}
  void setDownloadsFolder(const std::string& path) override { folder = path; }
  void setDocumentName(const std::string& name) override { document = name; }
  // Pages are always JPEG files.
  void setDocumentType(const std::string&) override {}
  void requestScan() override;
  void requestCloseSession() override;
  void requestCancel() override;

  // The worker's answers, on the main thread.
  void opened(const std::optional<Error>& error, std::vector<unsigned> found);
  void selected(UnitInfo unit, const std::optional<Error>& error);
  void scanned(const std::string& path);
  void completed(const std::optional<Error>& error);
  void removed();

 private:
  DeviceInfo info;
  std::shared_ptr<SaneWorker> worker;
  RunLoop& loop;
  std::shared_ptr<DeviceCore> core;
  DeviceDelegate* delegate = nullptr;
  std::map<unsigned, std::unique_ptr<SaneUnit>> units;
  SaneUnit* current = nullptr;
  std::string folder;
  std::string document = "scan";
};

}  // namespace qev
