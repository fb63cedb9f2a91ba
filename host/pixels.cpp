#include "host/pixels.h"

#include <cstdint>
#include <cstring>

#include "jpeg/jpeg.h"

namespace qev {

namespace {

// The longest line accepted, padding included.
constexpr int maxLineBytes = 4 << 20;

}  // namespace

int channels(FrameFormat format) { return format == FrameFormat::rgb ? 3 : 1; }

std::optional<Error> checkFrame(const Frame& frame) {
  if (frame.depth != 1 && frame.depth != 8 && frame.depth != 16) {
    return Error{"Image depth of " + std::to_string(frame.depth) + " bits not supported"};
  }
  if (frame.pixels <= 0 || frame.lines == 0 || frame.lines < -1) {
    return Error{"Image size not supported"};
  }
  // A page that no JPEG file can hold is refused before anything is read: the line buffers
  // of a frame that claims to be huge would take gigabytes.
  if (frame.pixels > maxJpegSide || frame.lines > maxJpegSide) {
    return Error{"Image size not supported by JPEG"};
  }
  auto bits = static_cast<std::int64_t>(frame.pixels) * channels(frame.format) * frame.depth;
  if (frame.bytesPerLine < (bits + 7) / 8) return Error{"Image lines shorter than their pixels"};
  // Padding beyond any real scanner's (a widest 16-bit colour line is under 400 KB).
  if (frame.bytesPerLine > maxLineBytes) return Error{"Image lines too long"};
  return std::nullopt;
}

void toEightBit(const Frame& frame, const unsigned char* line, unsigned char* out) {
  std::size_t samples = static_cast<std::size_t>(frame.pixels) * channels(frame.format);
  switch (frame.depth) {
    case 8:
      std::memcpy(out, line, samples);
      break;
    case 16:
      for (std::size_t i = 0; i < samples; ++i) {
        std::uint16_t v;
        std::memcpy(&v, line + 2 * i, 2);
        out[i] = static_cast<unsigned char>(v >> 8);
      }
      break;
    case 1: {
      unsigned char set = frame.format == FrameFormat::gray ? 0 : 255;
      unsigned char clear = static_cast<unsigned char>(255 - set);
      for (std::size_t i = 0; i < samples; ++i) {
        bool bit = (line[i / 8] >> (7 - i % 8)) & 1;
        out[i] = bit ? set : clear;
      }
      break;
    }
    default:
      std::memset(out, 0, samples);
  }
}

}  // namespace qev
