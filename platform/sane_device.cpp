#include "platform/sane_device.h"

#include <chrono>
#include <future>

#include "cli/text.h"
#include "platform/run_loop.h"
#include "platform/sane_worker.h"

namespace qev {

namespace {

constexpr auto closeLimit = std::chrono::seconds(5);

bool startsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string trim(std::string_view text) {
  auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return "";
  auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string transportOf(const DeviceInfo& info) {
  std::string_view name = info.name;
  // Network backends first: a network device proxies one whose own type may say otherwise.
  for (std::string_view backend : {"net:", "airscan:", "escl:", "bjnp:"}) {
    if (startsWith(name, backend)) return "network";
  }
  if (contains(name, ":net:") || contains(name, "/net/") || contains(name, "bjnp://") ||
      contains(name, "tcp ") || contains(name, "http://") || contains(name, "https://")) {
    return "network";
  }
  if (contains(name, "libusb:") || contains(name, "usb:") || contains(name, "/usb/") ||
      contains(name, "/dev/usb")) {
    return "usb";
  }
  if (contains(name, "/dev/sg") || contains(name, "/dev/sd") || contains(name, "scsi")) {
    return "scsi";
  }
  if (info.type == "virtual device") return "virtual";
  return "";
}

std::optional<std::string> nameOf(const DeviceInfo& info) {
  std::string joined = trim(trim(info.vendor) + " " + trim(info.model));
  if (joined.empty()) return std::nullopt;
  return validUtf8(joined);
}

std::shared_ptr<SaneDevice> SaneDevice::make(DeviceInfo info, std::shared_ptr<SaneWorker> worker,
                                             RunLoop& loop) {
  auto device = std::make_shared<SaneDevice>(std::move(info), std::move(worker), loop);
  device->core->owner = device;
  return device;
}

SaneDevice::SaneDevice(DeviceInfo info, std::shared_ptr<SaneWorker> worker, RunLoop& loop)
    : info(std::move(info)),
      worker(std::move(worker)),
      loop(loop),
      core(std::make_shared<DeviceCore>(this->info, loop, *this->worker)) {}

SaneDevice::~SaneDevice() {
  // The core closes its SANE handle, so it must go away on the worker.
  worker->post([core = std::move(core)]() mutable { core.reset(); });
}

std::optional<std::string> SaneDevice::uuid() const { return validUtf8(info.name); }

std::optional<std::string> SaneDevice::name() const { return nameOf(info); }

std::optional<std::string> SaneDevice::transport() const { return transportOf(info); }

void SaneDevice::requestOpenSession() {
  worker->post([core = core] { core->open(); });
}

void SaneDevice::requestSelectUnit(unsigned type) {
  worker->post([core = core, type] { core->select(type); });
}

void SaneDevice::requestScan() {
  if (current == nullptr) {
    loop.post([who = weak_from_this()] {
      if (auto d = who.lock()) d->completed(Error{describe(SANE_STATUS_INVAL)});
    });
    return;
  }
  ScanJob job = current->wanted;
  job.unit = current->info.type;
  job.folder = folder;
  job.document = document;
  worker->post([core = core, job = std::move(job)] { core->scan(job); });
}

void SaneDevice::requestCloseSession() {
  core->closing = true;
  auto closed = std::make_shared<std::promise<void>>();
  auto done = closed->get_future();
  worker->post([core = core, closed] {
    core->close();
    closed->set_value();
  });
  // A backend that hangs (a network scanner that stopped answering) must not keep the
  // process from ending: the close is given a while, then left to the worker.
  done.wait_for(closeLimit);
}

void SaneDevice::opened(const std::optional<Error>& error, std::vector<unsigned> found) {
  if (!error) info.units = std::move(found);
  if (delegate) delegate->didOpen(*this, error);
}

void SaneDevice::selected(UnitInfo unit, const std::optional<Error>& error) {
  auto& slot = units[unit.type];
  if (!slot) slot = std::make_unique<SaneUnit>();
  slot->info = std::move(unit);
  current = slot.get();
  if (delegate) delegate->didSelect(*this, *slot, error);
}

void SaneDevice::scanned(const std::string& path) {
  if (delegate) delegate->didScan(*this, path);
}

void SaneDevice::completed(const std::optional<Error>& error) {
  if (delegate) delegate->didComplete(*this, error);
}

void SaneDevice::removed() {
  if (delegate) delegate->didRemove(*this);
}

}  // namespace qev
