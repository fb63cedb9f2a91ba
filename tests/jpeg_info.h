#pragma once

// Reads the frame header of a JPEG file: enough to check what a scan delivered.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace qevtest {

struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;
  int density = 0;  // JFIF, dots per inch when the unit is inches
};

inline std::optional<JpegInfo> jpegInfo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return std::nullopt;
  JpegInfo info;
  std::size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) return std::nullopt;
    unsigned marker = b[at + 1];
    std::size_t length = (b[at + 2] << 8) | b[at + 3];
    std::size_t body = at + 4;
    if (body + length - 2 > b.size()) return std::nullopt;
    if (marker == 0xE0 && length >= 14 && b[body + 7] == 1) {
      info.density = (b[body + 8] << 8) | b[body + 9];
    }
    bool frame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      info.height = (b[body + 1] << 8) | b[body + 2];
      info.width = (b[body + 3] << 8) | b[body + 4];
      info.components = b[body + 5];
      return info;
    }
    at = body + length - 2;
  }
  return std::nullopt;
}

}  // namespace qevtest
