#pragma once

#include <cstdint>

#include "common/resolutions.h"

namespace qev {

// The resolution to set for a request of `dpi`: `dpi` itself when supported, else the
// smallest supported one above it, else the highest supported one (the nearest to a request
// above them all), else the smallest preferred one, else 300.
std::int64_t chooseResolution(std::int64_t dpi, const Resolutions& supported,
                              const Resolutions& preferred);

}  // namespace qev
