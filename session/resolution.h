#pragma once

#include <cstdint>

#include "platform/resolutions.h"

namespace qev {

// The resolution to set for a request of `dpi`: `dpi` itself when supported, else the
// smallest supported one above it, else the smallest preferred one (even below `dpi`),
// else 300.
std::int64_t chooseResolution(std::int64_t dpi, const Resolutions& supported,
                              const Resolutions& preferred);

}  // namespace qev
