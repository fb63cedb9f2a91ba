#include "jpeg/bands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
// The reference compression uses libjpeg itself; jpeglib.h needs size_t and FILE first.
#include <jpeglib.h>

#include "testing/jpeg.h"

namespace qev {
namespace {

using qevtest::decode;

namespace fs = std::filesystem;

int bytesPerPixel(PixelLayout layout) {
  return layout == PixelLayout::gray ? 1 : layout == PixelLayout::rgb ? 3 : 4;
}

// Rows of `layout`, `stride` bytes each: shading with noise on it, as scans have, so that
// every block has something to encode.
std::vector<unsigned char> picture(PixelLayout layout, int width, int height, std::size_t stride) {
  std::vector<unsigned char> data(stride * static_cast<std::size_t>(height), 0xEE);
  std::uint32_t seed = 2024;
  int samples = bytesPerPixel(layout);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < samples; ++c) {
        seed = seed * 1664525u + 1013904223u;
        data[y * stride + static_cast<std::size_t>(x * samples + c)] =
            static_cast<unsigned char>(x * 3 + y * 2 + c * 70 + static_cast<int>(seed >> 27));
      }
    }
  }
  return data;
}

// The same image from one libjpeg compression, restarting every `interval` MCUs.
std::vector<unsigned char> reference(const std::vector<unsigned char>& pixels,
                                     const JpegShape& shape, int height, std::size_t stride,
                                     int interval) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(shape.width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = bytesPerPixel(shape.layout);
  info.in_color_space = shape.layout == PixelLayout::gray  ? JCS_GRAYSCALE
                        : shape.layout == PixelLayout::rgb ? JCS_RGB
                                                           : JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, shape.quality, TRUE);
  info.restart_interval = static_cast<unsigned int>(interval);
  info.density_unit = 1;
  info.X_density = info.Y_density = static_cast<UINT16>(shape.density);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    auto row = const_cast<JSAMPROW>(pixels.data() + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<unsigned char> jpeg(out, out + size);
  std::free(out);
  jpeg_destroy_compress(&info);
  return jpeg;
}

std::vector<unsigned char> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Where two encodings first differ, for a message.
std::string compare(const std::vector<unsigned char>& got, const std::vector<unsigned char>& want) {
  auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  if (at.first == got.end() && at.second == want.end()) return "same";
  return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size()) +
         ", first difference at byte " + std::to_string(at.first - got.begin());
}

BandOptions options(int threads, int bandPixels) {
  BandOptions o;
  o.threads = threads;
  o.bandPixels = bandPixels;
  return o;
}

class Bands : public testing::Test {
 protected:
  void TearDown() override { fs::remove_all(folder); }

  fs::path folder = [] {
    char name[] = "/tmp/qev-bands-XXXXXX";
    return fs::path(mkdtemp(name));
  }();
};

TEST_F(Bands, JoinedBandsAreTheBytesOfOneCompression) {
  constexpr int one = 1;  // pixels a band: one MCU row each
  constexpr int usual = defaultBandPixels;
  struct Case {
    const char* name;
    PixelLayout layout;
    int width, height;
    bool unknown;  // the height is told only by the end of the rows
    int threads, bandPixels;
    std::size_t padding;  // bytes after each row
    bool toFile;
  } cases[] = {
      {"colour of whole MCUs, a band a row of MCUs", PixelLayout::rgb, 64, 96, false, 3, one, 0,
       false},
      {"colour, ragged, ten bands take RST0 again", PixelLayout::rgb, 61, 155, false, 4, one, 0,
       false},
      {"gray of whole MCUs", PixelLayout::gray, 48, 64, false, 2, one, 0, false},
      {"gray, ragged, two MCU rows a band", PixelLayout::gray, 37, 45, false, 2, 37 * 16, 0, false},
      {"colour, one line", PixelLayout::rgb, 40, 1, false, 2, usual, 0, false},
      {"gray, one line", PixelLayout::gray, 40, 1, false, 2, usual, 0, false},
      {"colour, one pixel", PixelLayout::rgb, 1, 1, false, 2, usual, 0, false},
      {"colour of unknown height", PixelLayout::rgb, 53, 150, true, 3, one, 0, false},
      {"colour of unknown height, in a file", PixelLayout::rgb, 53, 150, true, 3, 3000, 0, true},
      {"gray of unknown height", PixelLayout::gray, 77, 99, true, 2, 5000, 0, false},
      {"gray of unknown height, one line, in a file", PixelLayout::gray, 30, 1, true, 2, usual, 0,
       true},
      {"colour rows with padding, unknown height", PixelLayout::rgb, 33, 40, true, 2, one, 5,
       false},
      {"blue-green-red-unused rows with padding", PixelLayout::bgrx, 45, 70, false, 2, one, 8,
       false},
      {"one thread", PixelLayout::rgb, 100, 100, false, 1, one, 0, true},
      {"the widest colour image", PixelLayout::rgb, maxJpegSide, 20, true, 2, usual, 0, false},
      {"the widest gray image, the longest interval", PixelLayout::gray, maxJpegSide, 70, false, 2,
       1 << 30, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t stride = static_cast<std::size_t>(c.width * bytesPerPixel(c.layout)) + c.padding;
    auto pixels = picture(c.layout, c.width, c.height, stride);
    JpegShape shape{.width = c.width,
                    .height = c.unknown ? 0 : c.height,
                    .layout = c.layout,
                    .density = 600,
                    .quality = 85};
    BandSize size = bandSize(c.width, c.layout, c.bandPixels);
    ASSERT_LE(size.interval, 65535);

    BandEncoder encoder(options(c.threads, c.bandPixels));
    std::vector<unsigned char> joined;
    int fd = -1;
    if (c.toFile) {
      fd = ::open((folder / "page.jpg").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_FALSE(encoder.begin(shape, fd));
    } else {
      ASSERT_FALSE(encoder.begin(shape, joined));
    }
    // In uneven portions, as a scanner hands its rows over.
    for (int y = 0; y < c.height; y += 7) {
      ASSERT_FALSE(encoder.rows(pixels.data() + y * stride, stride, std::min(7, c.height - y)));
    }
    ASSERT_FALSE(encoder.finish());
    if (c.toFile) {
      ::close(fd);
      joined = readFile(folder / "page.jpg");
    }

    shape.height = c.height;
    auto want = reference(pixels, shape, c.height, stride, size.interval);
    EXPECT_EQ(compare(joined, want), "same");
    auto image = decode(joined), wanted = decode(want);
    ASSERT_TRUE(image);
    ASSERT_TRUE(wanted);
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(image->height, c.height);
    EXPECT_EQ(image->xDensity, 600);
    EXPECT_TRUE(image->rgb == wanted->rgb);
  }
}

TEST(BandSize, BandsAreWholeMcuRowsAndIntervalsFitTheirMarker) {
  for (PixelLayout layout : {PixelLayout::gray, PixelLayout::rgb, PixelLayout::bgrx}) {
    int side = layout == PixelLayout::gray ? 8 : 16;
    for (int width : {1, 15, 16, 17, 2480, 4960, 40000, 52000, maxJpegSide}) {
      for (int pixels : {1, defaultBandPixels, 1 << 30}) {
        SCOPED_TRACE(testing::Message() << "side " << side << ", width " << width << ", about "
                                        << pixels << " pixels");
        BandSize size = bandSize(width, layout, pixels);
        int across = (width + side - 1) / side;
        EXPECT_GE(size.lines, side);
        EXPECT_EQ(size.lines % side, 0);
        EXPECT_EQ(size.interval, size.lines / side * across);
        EXPECT_LE(size.interval, 65535);
        if (pixels == 1) {
          EXPECT_EQ(size.lines, side);
        }
      }
    }
  }
}

TEST_F(Bands, FailuresEndTheImageWithTheirError) {
  struct Case {
    const char* name;
    const char* output;  // "full": /dev/full, "pipe", else memory
    int width, height;   // a height of 0 is unknown
    int rows;            // given
    const char* error;
  } cases[] = {
      {"a full disk", "full", 300, 300, 300, "No space left on device"},
      {"a height that cannot be written into a pipe", "pipe", 20, 0, 20, "Illegal seek"},
      {"no rows", "memory", 20, 0, 0, "Image size not supported by JPEG"},
      {"fewer rows than the height", "memory", 20, 40, 39, "Fewer rows than the image's height"},
      {"more rows than a JPEG holds", "memory", 8, 0, maxJpegSide + 1,
       "Image size not supported by JPEG"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BandEncoder encoder(options(2, 4096));
    std::vector<unsigned char> memory;
    int fds[2] = {-1, -1};
    std::string output = c.output;
    if (output == "full") fds[1] = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (output == "pipe") {
      ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    }
    JpegShape shape{.width = c.width, .height = c.height, .layout = PixelLayout::gray};
    auto begun = fds[1] >= 0 ? encoder.begin(shape, fds[1]) : encoder.begin(shape, memory);
    ASSERT_FALSE(begun);
    auto pixels = picture(PixelLayout::gray, c.width, 1, static_cast<std::size_t>(c.width));
    std::optional<Error> error;
    for (int y = 0; y < c.rows && !error; ++y) error = encoder.rows(pixels.data(), 0, 1);
    if (!error) error = encoder.finish();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, c.error);
    EXPECT_TRUE(encoder.rows(pixels.data(), 0, 1));  // the image takes nothing more
    for (int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
  }
}

TEST_F(Bands, ABandThatRunsOutOfMemoryFailsTheImageAndTheNextIsWhole) {
  std::atomic<bool> once{true};
  BandOptions failing = options(3, 1);
  failing.beforeBand = [&once](int index) {
    if (index == 2 && once.exchange(false)) throw std::bad_alloc();
  };
  BandEncoder encoder(failing);
  JpegShape shape{.width = 50, .height = 0, .layout = PixelLayout::rgb, .density = 300};
  auto pixels = picture(PixelLayout::rgb, 50, 100, 150);
  for (const char* want : {"Cannot allocate memory", "none"}) {
    SCOPED_TRACE(want);
    std::vector<unsigned char> joined;
    ASSERT_FALSE(encoder.begin(shape, joined));
    auto error = encoder.rows(pixels.data(), 150, 100);
    if (!error) error = encoder.finish();
    EXPECT_EQ(error ? error->description : "none", want);
    if (error) continue;
    JpegShape whole = shape;
    whole.height = 100;
    EXPECT_EQ(compare(joined, reference(pixels, whole, 100, 150,
                                        bandSize(50, PixelLayout::rgb, 1).interval)),
              "same");
  }
}

TEST_F(Bands, DjpegDecodesTheJoinedImageAsLibjpegDoes) {
  const int width = 203, height = 170;
  std::size_t stride = width * 3;
  auto pixels = picture(PixelLayout::rgb, width, height, stride);
  BandEncoder encoder(options(3, 3000));
  std::vector<unsigned char> joined;
  ASSERT_FALSE(encoder.begin({.width = width, .height = 0, .density = 300}, joined));
  ASSERT_FALSE(encoder.rows(pixels.data(), stride, height));
  ASSERT_FALSE(encoder.finish());
  {
    std::ofstream out(folder / "joined.jpg", std::ios::binary);
    out.write(reinterpret_cast<const char*>(joined.data()), static_cast<long>(joined.size()));
  }
  std::string command = "djpeg -ppm -outfile '" + (folder / "joined.ppm").string() + "' '" +
                        (folder / "joined.jpg").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0)
      << "djpeg failed or is missing (package libjpeg-turbo-progs)";
  auto ppm = readFile(folder / "joined.ppm");
  std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  ASSERT_GT(ppm.size(), header.size());
  EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + static_cast<long>(header.size())), header);
  auto image = decode(joined);
  ASSERT_TRUE(image);
  EXPECT_TRUE(std::equal(ppm.begin() + static_cast<long>(header.size()), ppm.end(),
                         image->rgb.begin(), image->rgb.end()));
}

}  // namespace
}  // namespace qev
