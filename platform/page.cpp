#include "platform/page.h"

#include <algorithm>
#include <cmath>

namespace qev {

Rgb rgbOf(Hsb colour) {
  const double v = colour.brightness;
  const double s = colour.saturation;
  double h = std::fmod(colour.hue, 1.0) * 6;
  if (h < 0) h += 6;
  const int sector = static_cast<int>(h) % 6;
  const double f = h - std::floor(h);
  const double p = v * (1 - s);
  const double q = v * (1 - s * f);
  const double t = v * (1 - s * (1 - f));
  double r = v, g = t, b = p;
  switch (sector) {
    case 0:
      r = v, g = t, b = p;
      break;
    case 1:
      r = q, g = v, b = p;
      break;
    case 2:
      r = p, g = v, b = t;
      break;
    case 3:
      r = p, g = q, b = v;
      break;
    case 4:
      r = t, g = p, b = v;
      break;
    case 5:
      r = v, g = p, b = q;
      break;
  }
  auto byte = [](double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 1.0) * 255)); };
  return {byte(r), byte(g), byte(b)};
}

}  // namespace qev
