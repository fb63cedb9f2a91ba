#include "jpeg/jpeg.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "testing/jpeg.h"
#include "testing/temp_dir.h"

namespace qev {
namespace {

// An image of `width` by `height` in `layout`, each row `stride` bytes, whose left half is
// `left` and right half `right`.
std::vector<unsigned char> halves(PixelLayout layout, int width, int height, std::size_t stride,
                                  Rgb left, Rgb right) {
  std::vector<unsigned char> data(stride * height, 0xEE);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb c = x < width / 2 ? left : right;
      auto red = static_cast<unsigned char>(c.red), green = static_cast<unsigned char>(c.green),
           blue = static_cast<unsigned char>(c.blue);
      unsigned char* p = &data[y * stride];
      switch (layout) {
        case PixelLayout::gray:
          p[x] = green;
          break;
        case PixelLayout::rgb:
          p[3 * x] = red, p[3 * x + 1] = green, p[3 * x + 2] = blue;
          break;
        case PixelLayout::bgrx:
          p[4 * x] = blue, p[4 * x + 1] = green, p[4 * x + 2] = red, p[4 * x + 3] = 0;
          break;
      }
    }
  }
  return data;
}

bool near(Rgb a, Rgb b) {
  return std::abs(a.red - b.red) <= 4 && std::abs(a.green - b.green) <= 4 &&
         std::abs(a.blue - b.blue) <= 4;
}

TEST(JpegWriter, EncodesEveryLayoutWithItsRowStride) {
  const Rgb orange{230, 120, 20}, blue{20, 60, 200};
  struct {
    PixelLayout layout;
    std::size_t stride;  // bytes per row, padding included
    int components;
    Rgb left, right;  // as decoded
  } cases[] = {
      {PixelLayout::gray, 72, 1, {120, 120, 120}, {60, 60, 60}},
      {PixelLayout::rgb, 3 * 64, 3, orange, blue},
      {PixelLayout::rgb, 3 * 64 + 5, 3, orange, blue},
      {PixelLayout::bgrx, 4 * 64, 3, orange, blue},
      {PixelLayout::bgrx, 4 * 64 + 16, 3, orange, blue},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.layout) << " stride " << c.stride);
    auto pixels = halves(c.layout, 64, 32, c.stride, orange, blue);
    std::vector<unsigned char> jpeg;
    auto writer = JpegWriter::toMemory(jpeg);
    ASSERT_FALSE(writer->begin({.width = 64, .height = 32, .layout = c.layout, .density = 300}));
    // In two portions, as a scanner hands its rows over.
    ASSERT_FALSE(writer->rows(pixels.data(), c.stride, 20));
    ASSERT_FALSE(writer->rows(pixels.data() + 20 * c.stride, c.stride, 12));
    ASSERT_FALSE(writer->finish());
    auto image = qevtest::decode(jpeg);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->components, c.components);
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->height, 32);
    EXPECT_EQ(image->xDensity, 300);
    EXPECT_TRUE(near(image->at(8, 16), c.left));
    EXPECT_TRUE(near(image->at(56, 16), c.right));
  }
}

TEST(JpegWriter, FileAndMemoryGetTheSameBytesBeyondOneBuffer) {
  // Noise compresses badly, so the JPEG outgrows the writer's 64 KiB buffer.
  std::mt19937 random(7);
  std::vector<unsigned char> pixels(3 * 400 * 300);
  for (auto& p : pixels) p = static_cast<unsigned char>(random());
  JpegShape shape{.width = 400, .height = 300, .layout = PixelLayout::rgb};

  std::vector<unsigned char> memory;
  auto toMemory = JpegWriter::toMemory(memory);
  ASSERT_FALSE(toMemory->begin(shape));
  ASSERT_FALSE(toMemory->rows(pixels.data(), 3 * 400, 300));
  ASSERT_FALSE(toMemory->finish());
  EXPECT_GT(memory.size(), 64u * 1024);

  qevtest::TempDir dir;
  std::string path = dir / "page.jpg";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  auto toFile = JpegWriter::toFile(fd);
  ASSERT_FALSE(toFile->begin(shape));
  ASSERT_FALSE(toFile->rows(pixels.data(), 3 * 400, 300));
  ASSERT_FALSE(toFile->finish());
  close(fd);
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> file{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(file, memory);
}

TEST(JpegWriter, AFullDiskIsReported) {
  int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::vector<unsigned char> pixels(3 * 64 * 64, 0x80);
  auto writer = JpegWriter::toFile(fd);
  ASSERT_FALSE(writer->begin({.width = 64, .height = 64}));
  writer->rows(pixels.data(), 3 * 64, 64);
  auto error = writer->finish();
  close(fd);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->description, "No space left on device");
}

TEST(JpegWriter, AnImpossibleShapeFailsAndTheWriterTakesNothingMore) {
  std::vector<unsigned char> jpeg;
  auto writer = JpegWriter::toMemory(jpeg);
  auto error = writer->begin({.width = 0, .height = 10});
  ASSERT_TRUE(error);
  unsigned char row[3] = {};
  auto again = writer->rows(row, 3, 1);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->description, error->description);
  EXPECT_TRUE(writer->finish());
  EXPECT_TRUE(jpeg.empty());
}

}  // namespace
}  // namespace qev
