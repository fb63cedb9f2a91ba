#pragma once

// A JPEG encoder that takes its image row by row, so that no whole page need be held in
// memory. It writes to an open file descriptor or into memory. Failures are returned, never
// thrown; after one, the writer takes nothing more.

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "common/error.h"

namespace qev {

// The widest and tallest image a JPEG file can hold, in pixels.
inline constexpr int maxJpegSide = 65500;

enum class PixelLayout {
  gray,  // one byte a pixel
  rgb,   // three bytes: red, green, blue
  bgrx,  // four bytes: blue, green, red, unused (a little-endian 32-bit xRGB pixel)
};

struct JpegShape {
  int width = 0;
  int height = 0;
  PixelLayout layout = PixelLayout::rgb;
  int density = 72;  // dots per inch, written to the JFIF header
  int quality = 85;  // 0 to 100
};

class JpegWriter {
 public:
  // Writes to `fd`, which stays open and owned by the caller.
  static std::unique_ptr<JpegWriter> toFile(int fd);
  // Appends to `memory`, which must outlive the writer.
  static std::unique_ptr<JpegWriter> toMemory(std::vector<unsigned char>& memory);

  virtual ~JpegWriter() = default;

  virtual std::optional<Error> begin(const JpegShape& shape) = 0;
  // `count` rows of the shape's layout, each `stride` bytes after the one before.
  virtual std::optional<Error> rows(const unsigned char* data, std::size_t stride, int count) = 0;
  // Writes the end of the image (and, for a file, everything still buffered).
  virtual std::optional<Error> finish() = 0;
};

}  // namespace qev
