#include "session/resolution.h"

namespace qev {

std::int64_t chooseResolution(std::int64_t dpi, const Resolutions& supported,
                              const Resolutions& preferred) {
  if (supported.contains(dpi)) return dpi;
  if (auto above = supported.atLeast(dpi)) return *above;
  if (auto highest = supported.largest()) return *highest;
  if (auto first = preferred.smallest()) return *first;
  return 300;
}

}  // namespace qev
