#pragma once

// Reads JPEG images with libjpeg, for tests that check what was encoded: the facts of the
// header and the pixels, always as RGB whatever the file holds.
//
// Only tests include this header; it is not part of qev.

#include <optional>
#include <string>
#include <vector>

#include "common/units.h"

namespace qevtest {

struct Decoded {
  int components = 0;  // in the file: 1 gray, 3 colour
  int width = 0;
  int height = 0;
  int densityUnit = -1;  // JFIF: 0 none, 1 dots per inch, 2 dots per centimetre
  int xDensity = 0;
  int yDensity = 0;
  std::vector<unsigned char> rgb;  // rows of red, green, blue

  qev::Rgb at(int x, int y) const;
};

// None when the bytes are not an image that libjpeg reads.
std::optional<Decoded> decode(const std::vector<unsigned char>& jpeg);
// The same for the file at `path`; none also when it cannot be read or is empty.
std::optional<Decoded> decodeFile(const std::string& path);

// What the tests of a scan check of a page file.
struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;
  int density = 0;  // JFIF, dots per inch when the unit is inches, else 0
};
std::optional<JpegInfo> jpegInfo(const std::string& path);

}  // namespace qevtest
