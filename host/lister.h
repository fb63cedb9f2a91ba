#pragma once

// The lister: qev-host run again as `qev-host list <socket> <parent>`, a small process that
// starts each listing of a SANE backend (host/listing.h) as a child of its own. It is started
// once, before SANE is initialised anywhere in it, and forks a fresh child for each listing,
// so that a listing costs no new program and still runs apart: a backend that hangs or
// crashes while listing holds up or takes down nothing but its listing. The lister stops a
// listing at the limit it was given, reaps each one and tells the host how it ended.
//
// The host's side is `Lister`; it and the lister speak a few fixed-size packets of their own
// over a socket pair. Each listing sends its messages (`added`, `units`) on a socket of its
// own, which the host makes and hands over with the request; it ends when the listing ends.
// The lister ends with the thread that started it (a SIGTERM, which it takes as data), after
// stopping its listings and removing their configuration folders; a listing dies with the
// lister.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/descriptor.h"

namespace qev {

class Lister {
 public:
  // Starts the lister. None when it cannot be started.
  static std::unique_ptr<Lister> start();
  // Ends the lister and, with it, every listing.
  ~Lister();
  Lister(const Lister&) = delete;
  Lister& operator=(const Lister&) = delete;

  // The socket on which `ended` reports come; it ends when the lister has gone.
  int socket() const { return channel.get(); }

  // Starts the listing `id` of `backend` (probing the devices of backends whose open is
  // harmless when `probe`), stopped when it has not ended within `limit`. Its messages come
  // on the socket returned; none when the request could not be made.
  Descriptor list(std::uint32_t id, const std::string& backend, bool probe,
                  std::chrono::milliseconds limit);
  // Stops every listing now; each is reported as it ends.
  void stopAll();

  // A listing has ended: its id and its wait status (a signal: it crashed, or was stopped).
  struct Ended {
    std::uint32_t id = 0;
    int status = 0;
  };
  // The next report, once `socket` is readable; none when the lister has gone.
  std::optional<Ended> ended();

 private:
  Lister(pid_t pid, Descriptor channel) : pid(pid), channel(std::move(channel)) {}

  pid_t pid;
  Descriptor channel;
};

// The word that starts the lister, and its main function, given the host's arguments.
inline constexpr std::string_view listerMode = "list";
int listerMain(int argc, char** argv);

}  // namespace qev
