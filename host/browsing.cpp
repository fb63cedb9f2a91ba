#include "host/browsing.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "common/wire.h"
#include "host/link.h"

namespace qev {

namespace {

constexpr auto never = ProcessBrowsing::Clock::time_point::max();

}  // namespace

ProcessBrowsing::ProcessBrowsing(Link& link, std::vector<std::string> names, bool probe,
                                 const std::string& wanted)
    : link(link), probe(probe) {
  if (!wanted.empty()) {
    // Every identifier begins with its backend's name, as SANE's device names do. One that
    // names no backend of the configuration (an alias of dll.aliases) is looked for in all.
    std::string backend = wanted.substr(0, wanted.find(':'));
    if (std::find(names.begin(), names.end(), backend) != names.end()) {
      names = {backend};
      again = true;
    }
  }
  const auto now = Clock::now();
  for (auto& name : names) backends.push_back({.name = std::move(name), .due = now});
  if (::pipe2(wake, O_CLOEXEC) != 0) return;
  thread = std::thread([this] { run(); });
}

ProcessBrowsing::~ProcessBrowsing() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  if (thread.joinable()) {
    char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wake[1], &b, 1);
    thread.join();
  }
  for (int fd : wake) {
    if (fd >= 0) ::close(fd);
  }
}

void ProcessBrowsing::pause() {
  std::unique_lock lock(mutex);
  ++pauses;
  if (!thread.joinable()) return;
  settled = false;
  char b = 1;
  [[maybe_unused]] ssize_t n = ::write(wake[1], &b, 1);
  changed.wait(lock, [&] { return settled || stopping; });
}

void ProcessBrowsing::resume() {
  std::lock_guard lock(mutex);
  if (pauses > 0) --pauses;
  if (!thread.joinable()) return;
  char b = 1;
  [[maybe_unused]] ssize_t n = ::write(wake[1], &b, 1);
}

bool ProcessBrowsing::anyListing() const {
  return std::any_of(backends.begin(), backends.end(), [](const auto& b) { return b.listing; });
}

void ProcessBrowsing::begin(Backend& backend) {
  // Units are learnt at the first listing only: a probe opens the scanner.
  backend.id = ++lastId;
  backend.messages =
      lister->list(backend.id, backend.name, probe && !backend.listedOnce, listingLimit);
  if (!backend.messages.valid()) {
    backend.due = never;
    return;
  }
  backend.listing = true;
  backend.seen.clear();
}

bool ProcessBrowsing::take(Backend& backend) {
  auto received = wire::receive(backend.messages.get());
  if (!received) return false;
  // A descriptor that came with it is closed with `received`.
  const wire::Message& m = received->message;
  if (m.info.name != m.device) return true;  // not a record of the listing's
  if (m.kind == wire::Kind::added) {
    backend.seen.insert(m.device);
    if (present.insert(m.device).second) {
      link.send({.kind = wire::Kind::added, .device = m.device, .info = m.info});
    }
  } else if (m.kind == wire::Kind::units && backend.seen.count(m.device) > 0 &&
             present.count(m.device) > 0) {
    link.send({.kind = wire::Kind::units, .device = m.device, .info = m.info});
  }
  return true;
}

void ProcessBrowsing::drain(Backend& backend) {
  while (backend.messages.valid()) {
    pollfd p{backend.messages.get(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return;
    if (!take(backend)) backend.messages.reset();
  }
}

void ProcessBrowsing::ended(Backend& backend, int status) {
  backend.listing = false;
  backend.messages.reset();
  const bool listed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const bool stopped = backend.stopped;
  backend.stopped = false;
  if (listed) {
    // Only a whole listing tells which devices have gone.
    for (const auto& name : backend.known) {
      if (backend.seen.count(name) == 0 && present.erase(name) > 0) {
        link.send(wire::Kind::removed, name);
      }
    }
    backend.known = backend.seen;
    backend.listedOnce = true;
  }
  if (stopped && !listed) {
    backend.due = Clock::now();  // once nothing holds it back
  } else if (WIFSIGNALED(status)) {
    backend.due = never;  // it crashed, or hung until its limit: it would again
  } else {
    backend.due = again ? Clock::now() + interval : never;
  }
}

void ProcessBrowsing::run() {
  lister = Lister::start();
  bool stopSent = false;
  for (;;) {
    bool paused = false;
    {
      std::lock_guard lock(mutex);
      if (stopping) break;
      paused = pauses > 0;
      if (paused && !settled) {
        if (!anyListing()) {
          settled = true;
          stopSent = false;
          changed.notify_all();
        } else if (!stopSent) {
          for (auto& backend : backends) backend.stopped = backend.listing;
          lister->stopAll();
          stopSent = true;
        }
      }
    }
    auto now = Clock::now();
    auto next = never;
    std::vector<pollfd> fds{{wake[0], POLLIN, 0}};
    if (lister) fds.push_back({lister->socket(), POLLIN, 0});
    std::vector<Backend*> polled;
    for (auto& backend : backends) {
      if (lister && !backend.listing && !paused && backend.due <= now) begin(backend);
      if (backend.messages.valid()) {
        fds.push_back({backend.messages.get(), POLLIN, 0});
        polled.push_back(&backend);
      }
      if (lister && !backend.listing && !paused) next = std::min(next, backend.due);
    }
    int timeout = -1;
    if (next != never) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) {
      char b[16];
      [[maybe_unused]] ssize_t n = ::read(wake[0], b, sizeof b);
    }
    const std::size_t first = lister ? 2 : 1;
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if (fds[first + i].revents != 0 && !take(*polled[i])) polled[i]->messages.reset();
    }
    if (!lister || fds[1].revents == 0) continue;
    if (auto end = lister->ended()) {
      for (auto& backend : backends) {
        if (!backend.listing || backend.id != end->id) continue;
        drain(backend);
        ended(backend, end->status);
      }
      continue;
    }
    // The lister has gone, and every listing with it: nothing lists any more.
    for (auto& backend : backends) {
      if (backend.listing) drain(backend);
      backend.listing = false;
      backend.messages.reset();
      backend.due = never;
    }
    lister.reset();
  }
  std::lock_guard lock(mutex);
  lister.reset();
  settled = true;
  changed.notify_all();
}

}  // namespace qev
