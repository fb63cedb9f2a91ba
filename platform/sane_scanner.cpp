// The scanner service on SANE: the browser, and discovery on the worker thread.

#include <map>
#include <set>

#include "cli/text.h"
#include "platform/run_loop.h"
#include "platform/sane_device.h"
#include "platform/sane_worker.h"
#include "platform/scanner.h"

namespace qev {

namespace {

constexpr auto discoveryInterval = std::chrono::seconds(1);
constexpr unsigned scannerType = 0x2;

// The browser's state on the main thread: its delegate and the devices now present.
struct BrowserState {
  BrowserState(RunLoop& loop, std::shared_ptr<SaneWorker> worker)
      : loop(loop), worker(std::move(worker)) {}

  void add(DeviceInfo info) {
    std::string name = info.name;
    auto device = SaneDevice::make(std::move(info), worker, loop);
    present[name] = device;
    if (delegate) delegate->didAdd(device);
  }

  void remove(const std::string& name) {
    auto it = present.find(name);
    if (it == present.end()) return;
    auto device = std::move(it->second);
    present.erase(it);
    if (delegate) delegate->didRemove(device);
  }

  RunLoop& loop;
  std::shared_ptr<SaneWorker> worker;
  BrowserDelegate* delegate = nullptr;
  unsigned mask = browsedDeviceTypes;
  std::map<std::string, std::shared_ptr<SaneDevice>> present;
};

std::string text(SANE_String_Const s) { return s != nullptr ? validUtf8(s) : std::string(); }

// Discovery, on the worker: asks SANE for its devices and reports the changes.
class Discovery {
 public:
  Discovery(RunLoop& loop, std::weak_ptr<BrowserState> state, SaneWorker& worker)
      : loop(loop), state(std::move(state)), worker(worker) {}

  // False once the browser is gone.
  bool poll() {
    if (state.expired()) return false;
    // Probing for devices can disturb a scanner in use.
    if (worker.openSessions > 0) return true;
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) return true;
    // Copied first: the list is SANE's, and opening a device may change it.
    std::vector<DeviceInfo> now;
    for (; *list != nullptr; ++list) {
      const SANE_Device& d = **list;
      if (d.name == nullptr) continue;
      now.push_back({d.name, text(d.vendor), text(d.model), text(d.type), {}});
    }
    std::set<std::string> seen;
    for (auto& info : now) {
      if (!seen.insert(info.name).second || known.count(info.name) > 0) continue;
      info.units = probe(info);
      loop.post([state = state, info = std::move(info)]() mutable {
        if (auto s = state.lock()) s->add(std::move(info));
      });
    }
    for (const auto& name : known) {
      if (seen.count(name) > 0) continue;
      loop.post([state = state, name] {
        if (auto s = state.lock()) s->remove(name);
      });
    }
    known = std::move(seen);
    return true;
  }

 private:
  // The functional units, from the device's source list: it is opened briefly to read it.
  static std::vector<unsigned> probe(const DeviceInfo& info) {
    SANE_Handle h = nullptr;
    if (sane_open(info.name.c_str(), &h) != SANE_STATUS_GOOD)
      return unitTypes(std::nullopt, info.type);
    std::optional<Sources> sources;
    {
      SaneOptions options(h);
      if (auto list = options.strings("source")) sources = sortSources(*list);
    }
    sane_close(h);
    return unitTypes(sources, info.type);
  }

  RunLoop& loop;
  std::weak_ptr<BrowserState> state;
  SaneWorker& worker;
  std::set<std::string> known;
};

class SaneBrowser final : public DeviceBrowser {
 public:
  explicit SaneBrowser(RunLoop& loop)
      : worker(SaneWorker::shared()), state(std::make_shared<BrowserState>(loop, worker)) {}

  void setDelegate(BrowserDelegate* delegate) override { state->delegate = delegate; }
  void setBrowsedDeviceTypes(unsigned mask) override { state->mask = mask; }

  void start() override {
    // Only scanners are ever found.
    if (started || (state->mask & scannerType) == 0) return;
    started = true;
    auto discovery = std::make_shared<Discovery>(state->loop, state, *worker);
    worker->post([discovery] { discovery->poll(); });
    worker->every(discoveryInterval, [discovery] { return discovery->poll(); });
  }

 private:
  std::shared_ptr<SaneWorker> worker;
  std::shared_ptr<BrowserState> state;
  bool started = false;
};

}  // namespace

std::unique_ptr<DeviceBrowser> newDeviceBrowser(RunLoop& loop) {
  return std::make_unique<SaneBrowser>(loop);
}

}  // namespace qev
