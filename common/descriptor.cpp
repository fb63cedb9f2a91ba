#include "common/descriptor.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace qev {

Descriptor::Descriptor(Descriptor&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    (void)close();
    descriptor = std::exchange(other.descriptor, -1);
  }
  return *this;
}

Descriptor::~Descriptor() { (void)close(); }

Outcome Descriptor::close() {
  if (descriptor < 0) return {};
  // The descriptor is gone after close whatever it answers, also after EINTR on Linux.
  int result = ::close(std::exchange(descriptor, -1));
  if (result != 0) return systemError(errno);
  return {};
}

Outcome writeAll(int fd, std::span<const unsigned char> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return systemError(errno);
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace qev
