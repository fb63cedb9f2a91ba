#include "host/pixels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace qev {
namespace {

std::vector<unsigned char> sixteen(std::initializer_list<std::uint16_t> samples) {
  std::vector<unsigned char> out(samples.size() * 2);
  std::memcpy(out.data(), std::data(samples), out.size());  // the machine's byte order
  return out;
}

TEST(SanePixels, LinesBecomeEightBitSamples) {
  struct Case {
    const char* name;
    Frame frame;
    std::vector<unsigned char> line;
    std::vector<unsigned char> out;
  } cases[] = {
      {"gray 8, padding dropped",
       {FrameFormat::gray, true, 4, 2, 1, 8},
       {10, 20, 99, 99},
       {10, 20}},
      {"rgb 8", {FrameFormat::rgb, true, 6, 2, 1, 8}, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
      {"gray 16 takes the high byte",
       {FrameFormat::gray, true, 4, 2, 1, 16},
       sixteen({0x1234, 0xFF01}),
       {0x12, 0xFF}},
      {"red plane 16", {FrameFormat::red, false, 2, 1, 1, 16}, sixteen({0x8000}), {0x80}},
      {"gray 1: a set bit is black",
       {FrameFormat::gray, true, 2, 10, 1, 1},
       {0b10100000, 0b01000000},
       {0, 255, 0, 255, 255, 255, 255, 255, 255, 0}},
      {"rgb 1: a set bit is full intensity",
       {FrameFormat::rgb, true, 1, 2, 1, 1},
       {0b10001100},
       {255, 0, 0, 0, 255, 255}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(checkFrame(c.frame));
    std::vector<unsigned char> out(c.out.size(), 7);
    toEightBit(c.frame, c.line.data(), out.data());
    EXPECT_EQ(out, c.out);
  }
}

TEST(SanePixels, FramesThatCannotBeConvertedAreRefused) {
  struct Case {
    const char* name;
    Frame frame;
  } cases[] = {
      {"depth 4", {FrameFormat::gray, true, 10, 10, 1, 4}},
      {"no pixels", {FrameFormat::gray, true, 10, 0, 1, 8}},
      {"no lines", {FrameFormat::gray, true, 10, 10, 0, 8}},
      {"line too short", {FrameFormat::rgb, true, 29, 10, 1, 8}},
      {"1-bit line too short", {FrameFormat::gray, true, 1, 9, 1, 1}},
      // A scanner that announced a huge page had gigabytes of line buffers allocated for it.
      {"wider than a JPEG", {FrameFormat::gray, true, 65501, 65501, 1, 8}},
      {"taller than a JPEG", {FrameFormat::gray, true, 10, 10, 65501, 8}},
      {"huge", {FrameFormat::rgb, true, 2147483647, 2147483647, 2147483647, 8}},
      {"padding beyond any scanner's", {FrameFormat::gray, true, 2000000000, 10, 4, 8}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(checkFrame(c.frame));
  }
  EXPECT_FALSE(checkFrame({FrameFormat::gray, true, 10, 10, -1, 8}));  // height unknown
  EXPECT_FALSE(checkFrame({FrameFormat::rgb, true, 65500 * 6, 65500, 65500, 16}));  // the largest
}

}  // namespace
}  // namespace qev
