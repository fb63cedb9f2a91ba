#pragma once

// Reads a JPEG file with libjpeg: enough to check what a scan delivered.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "testing/jpeg.h"

namespace qevtest {

struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;
  int density = 0;  // JFIF, dots per inch when the unit is inches
};

inline std::optional<JpegInfo> jpegInfo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
  if (bytes.empty()) return std::nullopt;
  auto image = qev::decode(bytes);
  if (!image) return std::nullopt;
  return JpegInfo{.width = image->width,
                  .height = image->height,
                  .components = image->components,
                  .density = image->densityUnit == 1 ? image->xDensity : 0};
}

}  // namespace qevtest
