#pragma once

// The one substring test for the texts that SANE and its backends give: device names, types,
// source and mode entries.

#include <string_view>

namespace qev {

// Whether `part` occurs anywhere in `text`.
inline bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace qev
