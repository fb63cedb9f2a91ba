#pragma once

// The driver host's end of its socket to qev: messages in, messages out (from any thread),
// and the page files that qev makes for the host to write into.

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "common/descriptor.h"
#include "common/error.h"
#include "common/wire.h"

namespace qev {

class Link {
 public:
  explicit Link(int socket) : socket(socket) {}
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Waits for qev's next message; none once qev has gone or sent what no qev sends. From the
  // one thread that reads the socket.
  std::optional<wire::Received> receive();

  // A message that cannot be sent is dropped: qev has gone, and the host ends with it.
  void send(const wire::Message& message);
  void send(wire::Kind kind, const std::string& device) { send({.kind = kind, .device = device}); }

  // A page file that qev made and handed over, open for writing, or why there is none. The
  // host only writes into it: qev keeps its name and removes it unless it is reported
  // `scanned`.
  struct File {
    Descriptor fd;
    std::optional<Error> error;
  };
  // Asks qev for the next page file of `device` and waits for it. Ends with the cancellation
  // error when `endFileWaits` is called meanwhile; a file that came all the same is closed.
  File needFile(const std::string& device);
  // qev's answer, from the thread that reads the socket.
  void arrived(File file);
  // Ends a wait in `needFile` (and any later one, until `resumeFileWaits`).
  void endFileWaits();
  void resumeFileWaits();

 private:
  int socket;
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<File> file;
  bool waitsEnded = false;
};

}  // namespace qev
