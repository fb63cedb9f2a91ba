#include "host/router.h"

#include <new>
#include <utility>

#include "host/dll_config.h"
#include "host/link.h"
#include "host/worker.h"

namespace qev {

Router::Makers Router::sane(Link& link, SaneWorker& worker) {
  return {
      .core = [&link, &worker](wire::DeviceInfo info) -> std::shared_ptr<Core> {
        return std::make_shared<DeviceCore>(std::move(info), link, worker);
      },
      .listing = [&link](bool probe, const std::string& wanted) -> std::unique_ptr<Browsing> {
        return std::make_unique<ProcessBrowsing>(link, dllBackends(configFolders(configValue())),
                                                 probe, wanted);
      },
  };
}

void Router::run() {
  while (auto received = link.receive()) {
    // Only a page file comes with a descriptor; any other is closed unused.
    route(received->message, std::move(received->fd));
  }
}

void Router::route(wire::Message& message, Descriptor fd) {
  switch (message.kind) {
    case wire::Kind::file:
    case wire::Kind::noFile:
      return link.arrived({.fd = std::move(fd), .error = message.error});
    case wire::Kind::browse:
      return browse(message);
    default:
      return toCore(message);
  }
}

void Router::browse(const wire::Message& message) {
  if (!browsing) browsing = makers.listing(message.probe, message.device);
}

void Router::toCore(wire::Message& m) {
  auto& core = cores[m.device];
  if (!core) {
    // A device never opened has nothing to close.
    if (m.kind == wire::Kind::close) link.send(wire::Kind::closed, m.device);
    if (m.kind != wire::Kind::open) return;  // nothing else to act on
    m.info.name = m.device;
    core = makers.core(m.info);
  }
  switch (m.kind) {
    case wire::Kind::open:
      // No listing runs while a session is open: it could disturb the scanner (some backends
      // act on the hardware while listing) or hold it.
      if (browsing) browsing->pause();
      worker.post([core] { core->open(); });
      break;
    case wire::Kind::select:
      worker.post([core, unit = m.unit] { core->select(unit); });
      break;
    case wire::Kind::scan:
      worker.post([core, job = m.job] {
        try {
          core->scan(job);
        } catch (const std::bad_alloc&) {
          core->outOfMemory();
        }
      });
      break;
    case wire::Kind::cancel:
      core->cancelNow();
      worker.post([core] { core->cancel(); });
      break;
    case wire::Kind::close:
      if (browsing) browsing->resume();
      core->stopSilently();
      worker.post([core] { core->close(); });
      break;
    default:
      break;
  }
}

}  // namespace qev
