#pragma once

// The image data of a scan, as SANE hands it over: frames of lines, each line
// `bytesPerLine` bytes (padding after the pixels allowed), samples of 1, 8 or 16 bits, 16-bit
// samples in the machine's byte order, 1-bit samples packed from the most significant bit.

#include <cstddef>
#include <optional>

#include "common/error.h"

namespace qev {

enum class FrameFormat { gray, rgb, red, green, blue };

struct Frame {
  FrameFormat format = FrameFormat::gray;
  bool last = true;  // the page's last frame (three-pass scanners send three)
  int bytesPerLine = 0;
  int pixels = 0;  // per line
  int lines = 0;   // -1: unknown until the end of the frame
  int depth = 8;   // bits per sample
};

// Samples per pixel: 3 for rgb, else 1.
int channels(FrameFormat format);

// Checks that the frame can be converted: a depth of 1, 8 or 16, pixels and lines that
// fit their line. Returns what is wrong, if anything.
std::optional<Error> checkFrame(const Frame& frame);

// Converts one line of `frame` into 8-bit samples: `pixels` × channels bytes at `out`.
// A set bit of a 1-bit gray line is black; of a 1-bit colour line, full intensity.
void toEightBit(const Frame& frame, const unsigned char* line, unsigned char* out);

}  // namespace qev
