// qev-host: the driver host. qev starts it with the number of its end of a socket pair and
// qev's process id, and talks to it in the messages of common/wire.h. SANE and
// every backend run here, so that a backend that crashes, hangs, prints or plays with signals
// harms only this process, which qev watches and kills when it must.
//
// Threads: this one reads qev's messages and hands them to the worker, which makes every SANE
// call in order; a cancel also reaches into a scan that is blocked inside the backend. The
// page encoder writes page files on threads of its own.

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <charconv>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "common/descriptor.h"
#include "common/wire.h"
#include "host/core.h"
#include "host/link.h"
#include "host/listing.h"
#include "host/worker.h"

#if defined(__SANITIZE_ADDRESS__)
// In the sanitizer build, a backend's crash must still end the host by its signal, which is
// what qev reports: the sanitizer would turn it into a report and an exit status.
extern "C" const char* __asan_default_options() { return "handle_segv=0:handle_sigbus=0"; }
#endif

namespace {

constexpr auto discoveryInterval = std::chrono::seconds(1);

int number(std::string_view text) {
  int value = -1;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int socket = number(argv[1]);
  const int parent = number(argv[2]);
  // The host never outlives qev, however qev ends.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (socket < 0 || ::getppid() != parent) return 2;
  ::signal(SIGPIPE, SIG_IGN);

  using namespace qev;
  Link link(socket);
  auto worker = std::make_shared<SaneWorker>();
  std::map<std::string, std::shared_ptr<DeviceCore>> cores;
  std::shared_ptr<Listing> discovery;

  for (;;) {
    auto received = wire::receive(socket);
    // qev has gone, or sent what no qev sends: either way nobody is listening any more.
    if (!received) ::_exit(0);
    wire::Message& m = received->message;
    // Only a page file comes with a descriptor; any other is closed unused.
    Descriptor fd(received->fd);
    if (m.kind == wire::Kind::file || m.kind == wire::Kind::noFile) {
      link.arrived({.fd = std::move(fd), .error = m.error});
      continue;
    }
    if (m.kind == wire::Kind::browse) {
      if (discovery) continue;
      discovery = std::make_shared<Listing>(link, *worker, m.probe);
      worker->post([discovery] { discovery->poll(); });
      worker->every(discoveryInterval, [discovery] {
        discovery->poll();
        return true;
      });
      continue;
    }
    auto& core = cores[m.device];
    if (!core) {
      // A device never opened has nothing to close.
      if (m.kind == wire::Kind::close) link.send(wire::Kind::closed, m.device);
      if (m.kind != wire::Kind::open) continue;  // nothing else to act on
      m.info.name = m.device;
      core = std::make_shared<DeviceCore>(m.info, link, *worker);
    }
    switch (m.kind) {
      case wire::Kind::open:
        worker->post([core] { core->open(); });
        break;
      case wire::Kind::select:
        worker->post([core, unit = m.unit] { core->select(unit); });
        break;
      case wire::Kind::scan:
        worker->post([core, job = m.job] {
          try {
            core->scan(job);
          } catch (const std::bad_alloc&) {
            core->outOfMemory();
          }
        });
        break;
      case wire::Kind::cancel:
        core->interrupt();
        worker->post([core] { core->cancel(); });
        break;
      case wire::Kind::close:
        core->closing = true;
        link.interrupt();
        worker->post([core] { core->close(); });
        break;
      default:
        break;
    }
  }
}
