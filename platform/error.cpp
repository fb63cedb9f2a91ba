#include "platform/error.h"

#include <cstring>

namespace qev {

Error systemError(int code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not live in the buffer.
  return {strerror_r(code, buffer, sizeof buffer)};
}

}  // namespace qev
