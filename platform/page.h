#pragma once

// Drawing one page and encoding it as JPEG.
//
// Contract: a Painter draws a page described by a PageDrawing onto a fresh image and returns
// the JPEG bytes, or nothing when drawing or encoding failed; nothing is thrown and nothing
// is kept from one page to the next but what the painter chooses to cache (fonts). It is used
// from one thread. Abstract so that tests of the simulator can make a page fail; the real
// implementation draws with cairo and encodes with libjpeg-turbo (newPainter).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/units.h"

namespace qev {

// A colour by hue, saturation and brightness, each from 0 to 1 (a hue of 1 is red again).
struct Hsb {
  double hue = 0;
  double saturation = 0;
  double brightness = 0;
};

// The usual hue, saturation and value to red, green and blue conversion, rounded.
Rgb rgbOf(Hsb colour);

// One page, in points, with (0, 0) at the bottom-left corner and y growing upwards. One point
// becomes one pixel of the JPEG, which records 72 dots per inch.
struct PageDrawing {
  int width = 0;
  int height = 0;
  Hsb background;    // fills the whole page, opaque
  std::string text;  // one line, in black, in the system's user-interface font
  double textX = 0;  // where the text line starts
  double textY = 0;  // the text line's baseline
  double fontSize = 0;
  double quality = 0;  // JPEG compression factor: 0 is the most compression, 1 the least
};

class Painter {
 public:
  virtual ~Painter() = default;
  // The JPEG bytes of the page, or nothing when it could not be drawn or encoded.
  [[nodiscard]] virtual std::optional<std::vector<unsigned char>> paint(
      const PageDrawing& page) = 0;
};

// The painter of this system (cairo and libjpeg-turbo). Fonts are looked up on first use.
std::unique_ptr<Painter> newPainter();

}  // namespace qev
