#include "host/link.h"

#include "host/status.h"

namespace qev {

std::optional<wire::Received> Link::receive() { return wire::receive(socket); }

void Link::send(const wire::Message& message) { wire::send(socket, message); }

Link::File Link::needFile(const std::string& device) {
  {
    std::lock_guard lock(mutex);
    file.reset();
  }
  send(wire::Kind::needFile, device);
  std::unique_lock lock(mutex);
  changed.wait(lock, [&] { return file.has_value() || waitsEnded; });
  if (!file) return {.error = stopError()};
  File got = std::move(*file);
  file.reset();
  // Stopped while the file was on its way: it is not written, and not reported, so qev
  // removes it.
  if (waitsEnded && got.fd.valid()) return {.error = stopError()};
  return got;
}

void Link::arrived(File arriving) {
  {
    std::lock_guard lock(mutex);
    file = std::move(arriving);
  }
  changed.notify_all();
}

void Link::endFileWaits() {
  {
    std::lock_guard lock(mutex);
    waitsEnded = true;
  }
  changed.notify_all();
}

void Link::resumeFileWaits() {
  std::lock_guard lock(mutex);
  waitsEnded = false;
}

}  // namespace qev
