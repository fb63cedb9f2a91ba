#pragma once

// An open file descriptor with one owner, which closes it when it goes away. Moving hands the
// descriptor on; copies are not allowed.

#include <span>

#include "common/error.h"

namespace qev {

class Descriptor {
 public:
  Descriptor() = default;
  // Takes over `fd`; -1 (or any negative value) is no descriptor.
  explicit Descriptor(int fd) : descriptor(fd < 0 ? -1 : fd) {}
  Descriptor(Descriptor&& other) noexcept;
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  // The descriptor, or -1 when there is none.
  int get() const { return descriptor; }
  bool valid() const { return descriptor >= 0; }
  // Closes it now, reporting what close says (a delayed write error shows up here). Closing
  // no descriptor is success.
  Outcome close();
  // Closes it now, whatever close says.
  void reset() { (void)close(); }

 private:
  int descriptor = -1;
};

// Writes all of `bytes` to `fd`, going on after EINTR and short writes.
[[nodiscard]] Outcome writeAll(int fd, std::span<const unsigned char> bytes);

}  // namespace qev
