// The real painter, judged by decoding its JPEG: size, density, background colour and where
// the dark text pixels lie.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/page.h"
#include "simulator/simulate.h"
#include "testing/jpeg.h"

namespace qev {
namespace {

bool near(Rgb a, Rgb b) {
  return std::abs(a.red - b.red) <= 3 && std::abs(a.green - b.green) <= 3 &&
         std::abs(a.blue - b.blue) <= 3;
}

bool dark(Rgb c) { return c.red < 96 && c.green < 96 && c.blue < 96; }

TEST(RgbOf, ConvertsHueSaturationAndBrightness) {
  struct {
    Hsb colour;
    Rgb rgb;
  } cases[] = {
      {{1.0 / 12, 0.35, 0.9}, {230, 189, 149}}, {{0.5, 0.35, 0.9}, {149, 230, 230}},
      {{0, 0.35, 0.9}, {230, 149, 149}},        {{1, 0.35, 0.9}, {230, 149, 149}},
      {{1.0 / 3, 1, 1}, {0, 255, 0}},           {{2.0 / 3, 1, 1}, {0, 0, 255}},
      {{0.25, 0, 0.5}, {128, 128, 128}},        {{0.9, 1, 0}, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.colour.hue << " " << c.colour.saturation << " " << c.colour.brightness);
    EXPECT_EQ(rgbOf(c.colour), c.rgb);
  }
}

TEST(CairoPainter, DrawsTheTestPages) {
  auto painter = newPainter();
  struct {
    std::int64_t n;
    Rgb background;
  } cases[] = {
      {1, {230, 189, 149}},  {6, {149, 230, 230}},  {12, {230, 149, 149}},
      {13, {230, 189, 149}}, {24, {230, 149, 149}}, {200, {149, 149, 230}},
  };
  const int baseline = 1039 - 500;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    auto jpeg = painter->paint(testPage(c.n));
    ASSERT_TRUE(jpeg);
    auto image = qevtest::decode(*jpeg);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 744);
    EXPECT_EQ(image->height, 1039);
    EXPECT_EQ(image->densityUnit, 1);  // dots per inch
    EXPECT_EQ(image->xDensity, 72);
    EXPECT_EQ(image->yDensity, 72);

    // The text's box: it starts near x 60, its capitals rise about 47 pixels above the
    // baseline and the descenders of "p" and "g" reach about 15 below it.
    int left = image->width, right = -1, top = image->height, bottom = -1;
    int darkPixels = 0;
    int offColour = 0;
    for (int y = 0; y < image->height; ++y) {
      for (int x = 0; x < image->width; ++x) {
        Rgb pixel = image->at(x, y);
        if (dark(pixel)) {
          ++darkPixels;
          left = std::min(left, x), right = std::max(right, x);
          top = std::min(top, y), bottom = std::max(bottom, y);
        }
        bool inTextLine = y >= baseline - 64 && y <= baseline + 24 && x >= 48;
        if (!inTextLine && !near(pixel, c.background)) ++offColour;
      }
    }
    EXPECT_EQ(offColour, 0) << "pixels off the background colour outside the text line";
    EXPECT_GT(darkPixels, 2000);
    EXPECT_GE(left, 58);
    EXPECT_LE(left, 68);
    EXPECT_GE(top, baseline - 52);
    EXPECT_LE(top, baseline - 40);
    EXPECT_GE(bottom, baseline + 8);
    EXPECT_LE(bottom, baseline + 20);
    EXPECT_GT(right, 300);
    EXPECT_LT(right, 600);
  }
}

TEST(CairoPainter, AnImpossiblePageYieldsNothing) {
  auto painter = newPainter();
  PageDrawing page = testPage(1);
  for (auto [width, height] : {std::pair{0, 1039}, {744, -1}, {70000, 10}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    page.width = width;
    page.height = height;
    EXPECT_FALSE(painter->paint(page));
  }
}

}  // namespace
}  // namespace qev
