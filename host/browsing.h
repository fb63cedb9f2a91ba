#pragma once

// Browsing in the driver host: each backend of SANE's configuration (host/dll_config.h) lists
// its devices in a listing process of its own (host/listing.h, forked by the lister of
// host/lister.h), all at once, and what they find goes to qev as `added` and `units`. A
// backend that hangs while listing holds up nothing but its own devices, and is stopped at
// `listingLimit`; one that crashes loses only its own. Neither is asked again in this run.
//
// `list` has each backend list once. The lookup of `scan` names the scanner it wants: then only
// that scanner's backend (the first part of its identifier) lists, if the configuration has
// it, and again a second after each listing, telling qev of devices that came and went
// (`removed`). While a session is open no listing runs, so that none disturbs a scanner in
// use.
//
// The lister and the listings run from a thread of this object's own; they end with it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/descriptor.h"
#include "host/lister.h"

namespace qev {

class Link;

// What the host's router (host/router.h) starts when qev browses: it lists on its own, and
// holds back while a session is open. Abstract so that the routing can be tested without
// listing processes; the real one is ProcessBrowsing.
class Browsing {
 public:
  virtual ~Browsing() = default;
  // A session opens: no listing runs until as many `resume` calls have come. Returns once
  // none runs.
  virtual void pause() = 0;
  virtual void resume() = 0;
};

class ProcessBrowsing final : public Browsing {
 public:
  using Clock = std::chrono::steady_clock;

  // How long one backend may take to list (and probe) its devices.
  static constexpr std::chrono::milliseconds listingLimit{30000};
  // The pause between two listings of one backend while a scan looks for its scanner.
  static constexpr Clock::duration interval = std::chrono::seconds(1);

  // Starts browsing the backends of `backends` (in SANE's order). `probe`: the listings open
  // the devices of backends whose open is harmless, to learn their units. `wanted`: the
  // identifier of the one scanner looked for, or empty.
  ProcessBrowsing(Link& link, std::vector<std::string> backends, bool probe,
                  const std::string& wanted);
  ~ProcessBrowsing() override;
  ProcessBrowsing(const ProcessBrowsing&) = delete;
  ProcessBrowsing& operator=(const ProcessBrowsing&) = delete;

  // Every listing is stopped before `pause` returns; a listing stopped so runs again after
  // the last `resume`.
  void pause() override;
  void resume() override;

 private:
  struct Backend {
    std::string name;
    bool listing = false;               // a listing of it runs
    std::uint32_t id = 0;               // that listing's
    Descriptor messages;                // its socket, until it ends
    bool stopped = false;               // it was stopped for a session: it runs again
    Clock::time_point due;              // when it lists next; max: never again
    bool listedOnce = false;            // a listing of it has ended well
    std::set<std::string> known, seen;  // its devices, after the last listing and in this one
  };

  void run();
  void begin(Backend& backend);
  // Takes one message of a listing; false at the end of its socket.
  bool take(Backend& backend);
  // Takes every message still waiting.
  void drain(Backend& backend);
  void ended(Backend& backend, int status);
  bool anyListing() const;

  Link& link;
  const bool probe;
  bool again = false;  // each backend lists again after an interval
  std::vector<Backend> backends;
  std::set<std::string> present;  // every device told to qev and not removed since
  std::unique_ptr<Lister> lister;
  std::uint32_t lastId = 0;

  std::mutex mutex;
  std::condition_variable changed;
  int pauses = 0;
  bool stopping = false;
  bool settled = true;  // no listing runs since the last pause
  int wake[2] = {-1, -1};
  std::thread thread;
};

}  // namespace qev
