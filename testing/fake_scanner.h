#pragma once

// A working scanner service for unit tests, driven by data: devices with their texts and
// units, a browser that reports them at chosen times from a thread of its own, an optional
// error for each callback, pages created as small real page files in the downloads folder, and
// removal at a chosen moment. Every callback goes through the real run loop. Each device
// records the requests it receives, in order, as short texts.
//
// Only tests include this header; it is not part of qev.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/run_loop.h"
#include "platform/scanner.h"

namespace qev::fake {

class Device;

class Unit : public qev::Unit {
 public:
  Unit(Device& device, UnitType kind) : device(device), kind(kind) {}
  UnitType type() const override { return kind; }
  Resolutions supportedResolutions() const override;
  Resolutions preferredResolutions() const override;
  void setResolution(std::int64_t dpi) override;
  void setPixelDataType(PixelType type) override;
  void setBitDepth(int depth) override;
  bool supportsDuplexScanning() const override;
  void setDuplexScanningEnabled(bool enabled) override;
  Size physicalSize() const override;
  void setScanArea(const Area& area) override;

 private:
  Device& device;
  UnitType kind;
};

// When the device reports its removal instead of going on.
enum class Removal { never, whenOpening, whenSelecting, afterPages };

class Device : public qev::Device {
 public:
  explicit Device(RunLoop& loop) : loop(loop) {}

  // What the device reports.
  bool scanner = true;
  std::optional<std::string> uuidText, nameText, transportText;
  std::vector<UnitType> units;
  Resolutions supported, preferred;
  bool duplex = false;
  Size size{215.9, 297.2};

  // How it answers.
  std::optional<Error> openError, selectError, completeError;
  std::optional<UnitType>
      selects;    // the kind of unit the select callback names; default: the one asked for
  int pages = 0;  // pages written and reported after requestScan
  Removal removal = Removal::never;
  int removalAfter = 0;  // pages before the removal, for Removal::afterPages
  bool stalls = false;   // after its pages the scan goes on until it is cancelled
  std::optional<Error> cancelError{Error{"Operation was cancelled", Code::cancelled}};

  // What it was asked, in order.
  mutable std::vector<std::string> calls;
  const Folder* downloads = nullptr;  // the caller's, as setDownloadsFolder gave it

  bool isScanner() const override { return scanner; }
  std::optional<std::string> uuid() const override { return uuidText; }
  std::optional<std::string> name() const override { return nameText; }
  std::optional<std::string> transport() const override { return transportText; }
  std::vector<UnitType> availableUnitTypes() const override { return units; }

  void setDelegate(DeviceDelegate* d) override {
    calls.push_back("setDelegate");
    delegate = d;
  }

  void requestOpenSession() override {
    calls.push_back("requestOpenSession");
    if (removal == Removal::whenOpening) return removeLater();
    loop.post([this] { delegate->didOpen(*this, openError); });
  }

  void requestSelectUnit(UnitType type) override {
    calls.push_back("requestSelectUnit " + std::to_string(static_cast<unsigned>(type)));
    if (removal == Removal::whenSelecting) return removeLater();
    Unit& unit = selects.value_or(type) == flatbedUnit ? flatbed : feeder;
    loop.post([this, &unit] { delegate->didSelect(*this, unit, selectError); });
  }

  void setTransferMode(int mode) override { record("setTransferMode", mode); }
  void setDownloadsFolder(const Folder& folder) override {
    calls.push_back("setDownloadsFolder " + folder.path());
    downloads = &folder;
  }
  void setDocumentName(const std::string& n) override { calls.push_back("setDocumentName " + n); }
  void setDocumentType(const std::string& t) override { calls.push_back("setDocumentType " + t); }

  void requestScan() override {
    calls.push_back("requestScan");
    for (int k = 1; k <= pages; ++k) {
      if (removal == Removal::afterPages && k > removalAfter) return removeLater();
      loop.post([this, k] {
        std::string name = "qev-incoming-" + std::to_string(k) + ".jpg";
        std::string bytes = "page " + std::to_string(k);
        // A page that was not written shows in the session as one that cannot be moved.
        Outcome outcome;
        auto file = PageFile::create(
            *downloads, [&](int) { return name; }, outcome, 1);
        if (file &&
            file->write({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()})
                .ok() &&
            file->close().ok()) {
          file->keep();
        }
        delegate->didScan(*this, downloads->at(name));
      });
    }
    if (removal == Removal::afterPages) return removeLater();
    if (stalls) return;
    loop.post([this] { delegate->didComplete(*this, completeError); });
  }

  void requestCloseSession() override { calls.push_back("requestCloseSession"); }

  void requestCancel() override {
    calls.push_back("requestCancel");
    loop.post([this] { delegate->didComplete(*this, cancelError); });
  }

  template <typename... T>
  void record(const std::string& call, const T&... values) const {
    std::ostringstream text;
    text << call;
    ((text << ' ' << values), ...);
    calls.push_back(text.str());
  }

  Unit flatbed{*this, flatbedUnit};
  Unit feeder{*this, feederUnit};

 private:
  void removeLater() {
    loop.post([this] { delegate->didRemove(*this); });
  }

  RunLoop& loop;
  DeviceDelegate* delegate = nullptr;
};

inline Resolutions Unit::supportedResolutions() const { return device.supported; }
inline Resolutions Unit::preferredResolutions() const { return device.preferred; }
inline void Unit::setResolution(std::int64_t dpi) { device.record("setResolution", dpi); }
inline void Unit::setPixelDataType(PixelType type) {
  device.record("setPixelDataType", static_cast<int>(type));
}
inline void Unit::setBitDepth(int depth) { device.record("setBitDepth", depth); }
inline bool Unit::supportsDuplexScanning() const {
  device.record("supportsDuplexScanning");
  return device.duplex;
}
inline void Unit::setDuplexScanningEnabled(bool enabled) {
  device.record("setDuplexScanningEnabled", enabled);
}
inline Size Unit::physicalSize() const { return device.size; }
inline void Unit::setScanArea(const Area& a) {
  device.record("setScanArea", a.x, a.y, a.width, a.height);
}

// One report of the browser: `device` is added (or removed) `at` after `start`.
struct Arrival {
  std::chrono::milliseconds at;
  std::shared_ptr<Device> device;
  bool removed = false;
};

class Browser : public DeviceBrowser {
 public:
  Browser(RunLoop& loop, std::vector<Arrival> arrivals)
      : loop(loop), arrivals(std::move(arrivals)) {}

  void setDelegate(BrowserDelegate* d) override { delegate = d; }
  void setBrowsedDeviceTypes(unsigned m) override { mask = m; }

  void start() override {
    if (failure) {
      loop.post([d = delegate, e = *failure] { d->didFail(e); });
      return;
    }
    thread = std::jthread([this](const std::stop_token& stop) {
      auto begin = RunLoop::Clock::now();
      for (const Arrival& a : arrivals) {
        {
          std::unique_lock lock(mutex);
          wake.wait_until(lock, stop, begin + a.at, [] { return false; });
          if (stop.stop_requested()) return;
        }
        loop.post([d = delegate, a] {
          if (a.removed) {
            d->didRemove(a.device);
          } else {
            d->didAdd(a.device);
          }
        });
      }
    });
  }

  Error cancelledError() override { return cancelError; }

  unsigned mask = 0;
  Error cancelError{"Operation was cancelled", Code::cancelled};
  // What the service says at `start` instead of browsing, when it cannot.
  std::optional<Error> failure;

 private:
  RunLoop& loop;
  std::vector<Arrival> arrivals;
  BrowserDelegate* delegate = nullptr;
  std::mutex mutex;
  std::condition_variable_any wake;
  std::jthread thread;  // last: stopped and joined before anything it uses goes away
};

}  // namespace qev::fake
