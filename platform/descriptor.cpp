#include "platform/descriptor.h"

#include <unistd.h>

#include <cerrno>

namespace qev {

Outcome Descriptor::close() {
  if (number < 0) return {};
  int result = ::close(std::exchange(number, -1));
  if (result != 0) return systemError(errno);
  return {};
}

void Descriptor::reset() {
  if (number >= 0) ::close(std::exchange(number, -1));
}

}  // namespace qev
