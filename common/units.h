#pragma once

// The plain types that describe a scanner's units and pages: what the scanner interface
// (platform/scanner.h) speaks in, and what qev and its driver host tell each other.

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

// A colour in 8-bit sRGB.
struct Rgb {
  int red = 0;
  int green = 0;
  int blue = 0;
  bool operator==(const Rgb&) const = default;
};

}  // namespace qev
