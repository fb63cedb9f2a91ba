#pragma once

// What the fuzz targets share: an input read as texts, and a check that aborts, which the
// fuzzer reports with the input that caused it.
//
// Only fuzz targets include this header; it is not part of qev.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace qevtest {

inline void require(bool ok) {
  if (!ok) std::abort();
}

// The input split at its NUL bytes: always at least one piece.
inline std::vector<std::string_view> pieces(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> out;
  for (;;) {
    auto nul = input.find('\0');
    out.push_back(input.substr(0, nul));
    if (nul == std::string_view::npos) break;
    input.remove_prefix(nul + 1);
  }
  return out;
}

}  // namespace qevtest
