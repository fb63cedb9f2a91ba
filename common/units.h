#pragma once

// The plain types that describe a scanner's units and pages: what the scanner interface
// (platform/scanner.h) speaks in, and what qev and its driver host tell each other.

#include <cstdint>

namespace qev {

// Functional unit types, as scanners report them in their list of available units.
enum class UnitType : unsigned { flatbed = 0, feeder = 3 };
inline constexpr UnitType flatbedUnit = UnitType::flatbed;
inline constexpr UnitType feederUnit = UnitType::feeder;

// Pixel data types.
enum class PixelType : int { blackAndWhite = 0, gray = 1, rgb = 2 };
inline constexpr PixelType rgbPixels = PixelType::rgb;
inline constexpr int bitDepth8 = 8;     // bits per sample
inline constexpr int fileTransfer = 0;  // transfer mode: each page is written as a file

struct Size {
  double width = 0;
  double height = 0;
};

// A rectangle on the glass, in the unit of the flatbed's physical size.
struct Area {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// How far the page being read has come: `lines` of it have arrived, of `total` lines that
// the scanner announced for it (-1: a page of unknown height). `page` counts the pages of one
// scan from 1, in the order they are read. Three-pass scanners send each line three times, once
// a colour: both figures count all of them.
struct PageProgress {
  std::int64_t page = 0;
  std::int64_t lines = 0;
  std::int64_t total = -1;

  // Whether the page's height is known, so that its figure is a share of it.
  bool known() const { return total > 0; }
  // The figure a caller is shown: the share of the announced lines read, in whole percent
  // rounded down (at most 100, also when a scanner sends more than it announced), or the lines
  // read when the height is not known.
  std::int64_t figure() const {
    if (!known()) return lines;
    if (lines >= total) return 100;
    if (lines <= 0) return 0;
    constexpr std::int64_t most = INT64_MAX / 100;
    // Past that, the whole percent of a height that large, never rounded up to 100.
    return lines <= most ? lines * 100 / total : lines / (total / 100 + 1);
  }
};

// A colour in 8-bit sRGB.
struct Rgb {
  int red = 0;
  int green = 0;
  int blue = 0;
  bool operator==(const Rgb&) const = default;
};

}  // namespace qev
