// The scanner service on the driver host: the browser and the devices as qev's process sees
// them. Every SANE call happens in the host; here are only messages, the page files the
// host writes into, and what becomes of a session when the host dies.

#include "platform/scanner.h"

#include <cerrno>
#include <cstdio>
#include <map>

#include "platform/files.h"
#include "platform/host/host.h"
#include "platform/host/naming.h"
#include "platform/run_loop.h"
#include "platform/utf8.h"

namespace qev {

namespace {

constexpr unsigned scannerType = 0x2;
// How long a session's close may take before qev ends without waiting for it.
constexpr auto closeLimit = std::chrono::seconds(5);
// How long a cancelled session may take to stop before its host is killed.
constexpr auto cancelGrace = std::chrono::milliseconds(1500);
// The texts the host's SANE would give; needed when the host cannot give them.
constexpr const char* cancelledText = "Operation was canceled";
constexpr const char* invalidText = "Invalid argument";

class Service;

class HostUnit final : public Unit {
 public:
  host::UnitInfo info;
  host::ScanJob wanted;

  UnitType type() const override { return info.type; }
  Resolutions supportedResolutions() const override { return info.supported; }
  Resolutions preferredResolutions() const override { return info.preferred; }
  void setResolution(std::int64_t dpi) override { wanted.dpi = dpi; }
  void setPixelDataType(PixelType type) override { wanted.pixelType = type; }
  void setBitDepth(int depth) override { wanted.depth = depth; }
  bool supportsDuplexScanning() const override { return info.duplex; }
  void setDuplexScanningEnabled(bool enabled) override { wanted.duplex = enabled; }
  Size physicalSize() const override { return info.physical; }
  void setScanArea(const Area& area) override { wanted.area = area; }
};

class HostDevice final : public Device {
 public:
  HostDevice(host::DeviceInfo info, std::shared_ptr<Service> service)
      : info(std::move(info)), service(std::move(service)) {}

  // The stable identity where the host derived one, else the SANE device name.
  std::optional<std::string> uuid() const override {
    return validUtf8(info.uuid.value_or(info.name));
  }
  std::optional<std::string> name() const override { return nameOf(info); }
  std::optional<std::string> transport() const override { return transportOf(info); }
  std::vector<UnitType> availableUnitTypes() const override { return info.units; }

  void setDelegate(DeviceDelegate* d) override { delegate = d; }
  void requestOpenSession() override;
  void requestSelectUnit(UnitType type) override;
  // Pages always come as files.
  void setTransferMode(int) override {}
  void setDownloadsFolder(const Folder& downloads) override { folder = &downloads; }
  void setDocumentName(const std::string& name) override { document = name; }
  // Pages are always JPEG files.
  void setDocumentType(const std::string&) override {}
  void requestScan() override;
  void requestCloseSession() override;
  void requestCancel() override;

  // On the loop's thread.
  void handle(host::Received& received);
  void hostGone(const std::string& why);

  host::DeviceInfo info;

 private:
  void send(host::Message message, int fd = -1);
  void complete(const std::optional<Error>& error);
  void giveFile();
  void release();

  std::shared_ptr<Service> service;
  DeviceDelegate* delegate = nullptr;
  std::map<UnitType, std::unique_ptr<HostUnit>> units;
  HostUnit* current = nullptr;
  const Folder* folder = nullptr;  // the session's, open until the scan completes
  std::string document = "scan";
  int nextFile = 1;
  bool active = false;              // a session is open or opening: its answers are awaited
  bool cancelled = false;           // the user stopped it
  std::optional<PageFile> pending;  // the page file the host is writing, not yet reported
};

// What the browser and its devices share: the host, the browser's delegate and the devices
// by SANE name.
class Service : public std::enable_shared_from_this<Service> {
 public:
  Service(RunLoop& loop, bool probe) : loop(loop), probe(probe) {}

  void start() {
    std::weak_ptr<Service> self = weak_from_this();
    host = std::make_unique<Host>(loop, Host::Handlers{.message =
                                                           [self](host::Received& r) {
                                                             if (auto s = self.lock()) s->handle(r);
                                                           },
                                                       .gone =
                                                           [self](const std::string& why) {
                                                             if (auto s = self.lock()) s->gone(why);
                                                           }});
    host->send({.kind = host::Kind::browse, .probe = probe});
  }

  void handle(host::Received& r) {
    const host::Message& m = r.message;
    auto it = devices.find(m.device);
    switch (m.kind) {
      case host::Kind::added: {
        auto device = std::make_shared<HostDevice>(m.info, shared_from_this());
        devices[m.device] = device;
        if (delegate) delegate->didAdd(device);
        return;
      }
      case host::Kind::removed:
        if (it == devices.end()) return;
        if (delegate) delegate->didRemove(it->second);
        return;
      case host::Kind::units:
        if (it != devices.end()) it->second->info.units = m.info.units;
        return;
      default:
        if (it != devices.end()) it->second->handle(r);
    }
  }

  void gone(const std::string& why) {
    dead = true;
    // Copied: a device's delegate may end the run, or add to the map.
    auto all = devices;
    for (auto& [name, device] : all) device->hostGone(why);
  }

  RunLoop& loop;
  const bool probe;
  std::unique_ptr<Host> host;
  bool dead = false;
  BrowserDelegate* delegate = nullptr;
  std::map<std::string, std::shared_ptr<HostDevice>> devices;
};

// A message that cannot be sent is not reported here: the host's end reaches `hostGone`.
void HostDevice::send(host::Message message, int fd) {
  message.device = info.name;
  if (!service->dead) service->host->send(message, fd);
}

void HostDevice::requestOpenSession() {
  active = true;
  cancelled = false;
  send({.kind = host::Kind::open, .info = info});
  if (service->dead) {
    service->loop.post(
        [this, service = service] { hostGone("The scanner's driver is not running."); });
  }
}

void HostDevice::requestSelectUnit(UnitType type) {
  send({.kind = host::Kind::select, .unit = type});
}

void HostDevice::requestScan() {
  if (current == nullptr) {
    service->loop.post([this, service = service] { complete(Error{invalidText}); });
    return;
  }
  host::ScanJob job = current->wanted;
  job.unit = current->info.type;
  nextFile = 1;
  send({.kind = host::Kind::scan, .job = job});
}

void HostDevice::requestCloseSession() {
  active = false;
  if (service->dead) return;
  int before = service->host->closedSoFar();
  send({.kind = host::Kind::close});
  // A backend that hangs (a network scanner that stopped answering) must not keep the
  // process from ending: the close is given a while, then left to the host.
  service->host->waitClosed(before, closeLimit);
}

void HostDevice::requestCancel() {
  if (!active) return;
  cancelled = true;
  send({.kind = host::Kind::cancel});
  // A backend that does not return from its call is not waited for.
  if (!service->dead) service->host->killAfter(cancelGrace);
}

// The host is done with the page file it was given: it reported it, or removed it.
void HostDevice::release() {
  if (pending) pending->keep();
  pending.reset();
}

void HostDevice::complete(const std::optional<Error>& error) {
  active = false;
  release();
  if (delegate) delegate->didComplete(*this, error);
}

// A new page file for the host to write: created here, so that qev always knows which file
// is incomplete, and removes it should the host die while writing it.
void HostDevice::giveFile() {
  if (folder == nullptr) {
    send({.kind = host::Kind::noFile, .error = Error{invalidText}});
    return;
  }
  Outcome outcome;
  auto file = PageFile::create(
      *folder,
      [&](int) {
        char number[32];
        std::snprintf(number, sizeof number, "-%04d.jpg", nextFile++);
        return document + number;
      },
      outcome);
  if (!file) {
    send({.kind = host::Kind::noFile, .error = outcome.error()});
    return;
  }
  send({.kind = host::Kind::file, .path = file->path()}, file->fd());
  pending = std::move(file);
}

void HostDevice::handle(host::Received& r) {
  const host::Message& m = r.message;
  switch (m.kind) {
    case host::Kind::opened:
      if (!m.error) info.units = m.info.units;
      if (m.error) active = false;
      if (delegate) delegate->didOpen(*this, m.error);
      return;
    case host::Kind::selected: {
      auto& slot = units[m.unitInfo.type];
      if (!slot) slot = std::make_unique<HostUnit>();
      slot->info = m.unitInfo;
      current = slot.get();
      if (delegate) delegate->didSelect(*this, *slot, m.error);
      return;
    }
    case host::Kind::needFile:
      // The page before is complete or gone by now: the host asks only then.
      release();
      if (cancelled) {
        send({.kind = host::Kind::noFile, .error = Error{cancelledText}});
      } else {
        giveFile();
      }
      return;
    case host::Kind::scanned:
      if (pending && m.path == pending->path()) release();
      if (delegate) delegate->didScan(*this, m.path);
      return;
    case host::Kind::completed:
      complete(m.error);
      return;
    case host::Kind::lost:
      active = false;
      release();
      if (delegate) delegate->didRemove(*this);
      return;
    default:
      return;
  }
}

void HostDevice::hostGone(const std::string& why) {
  if (!active) return;
  // Nothing incomplete is left behind; the pages reported stay.
  pending.reset();
  complete(Error{cancelled ? cancelledText : why});
}

class HostBrowser final : public DeviceBrowser {
 public:
  HostBrowser(RunLoop& loop, bool probe) : service(std::make_shared<Service>(loop, probe)) {}

  void setDelegate(BrowserDelegate* delegate) override { service->delegate = delegate; }
  void setBrowsedDeviceTypes(unsigned mask) override { this->mask = mask; }

  void start() override {
    // Only scanners are ever found.
    if (started || (mask & scannerType) == 0) return;
    started = true;
    service->start();
  }

 private:
  std::shared_ptr<Service> service;
  unsigned mask = browsedDeviceTypes;
  bool started = false;
};

}  // namespace

Error cancelledError() { return Error{cancelledText}; }

std::unique_ptr<DeviceBrowser> newDeviceBrowser(RunLoop& loop, bool probe) {
  return std::make_unique<HostBrowser>(loop, probe);
}

}  // namespace qev
