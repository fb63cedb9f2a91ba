#include "host/encoder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "testing/jpeg.h"

namespace qev {
namespace {

using qevtest::decode;

namespace fs = std::filesystem;

class PageEncoding : public testing::Test {
 protected:
  void TearDown() override { fs::remove_all(folder); }

  Descriptor create(const std::string& name) {
    return Descriptor(
        ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  }

  // Hands `bytes` over in pieces of `piece` bytes.
  void feed(PageEncoder& encoder, const std::vector<unsigned char>& bytes, std::size_t piece) {
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      auto buffer = encoder.buffer();
      std::size_t n = std::min(piece, bytes.size() - at);
      std::copy_n(bytes.begin() + static_cast<long>(at), n, buffer.begin());
      encoder.push(std::move(buffer), n);
    }
  }

  // Encodes one page of a single frame and returns its file's bytes (none when it failed).
  std::vector<unsigned char> page(const Frame& frame, const std::vector<unsigned char>& bytes) {
    std::string name = "page" + std::to_string(++pages) + ".jpg";
    {
      PageEncoder encoder(record);
      encoder.beginPage(create(name), 200);
      encoder.beginFrame(frame);
      feed(encoder, bytes, 1000);
      encoder.endFrame();
      encoder.endPage();
      if (encoder.finish()) return {};
    }
    std::ifstream in(folder / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  int pages = 0;
  fs::path folder = [] {
    char name[] = "/tmp/qev-encoder-XXXXXX";
    return fs::path(mkdtemp(name));
  }();
  int delivered = 0;  // pages reported finished
  PageEncoder::Delivered record = [this] { ++delivered; };
};

// A page has the lines that came, split anywhere, up to the height announced: none is made up
// for a frame that ends early, and none is kept past the announced height.
TEST_F(PageEncoding, APageHasTheLinesSentAndNoMore) {
  struct Case {
    const char* name;
    std::size_t piece;
    int lines;          // announced; -1: unknown
    std::size_t bytes;  // sent, of lines of 11 bytes
    int height;         // of the page
  } cases[] = {
      {"one byte at a time", 1, 4, 44, 4},
      {"pieces across lines", 7, 4, 44, 4},
      {"two lines of four", 100, 4, 22, 2},
      {"two lines and a half of four", 100, 4, 27, 2},
      {"one line of four, a byte at a time", 1, 4, 11, 1},
      {"two lines of unknown height", 100, -1, 22, 2},
      {"six lines of four, the rest dropped", 100, 4, 66, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    delivered = 0;
    std::string path = (folder / c.name).string();
    {
      PageEncoder encoder(record);
      encoder.beginPage(create(c.name), 150);
      encoder.beginFrame({FrameFormat::rgb, true, 11, 3, c.lines, 8});  // 2 bytes of padding
      feed(encoder, std::vector<unsigned char>(c.bytes, 128), c.piece);
      encoder.endFrame();
      encoder.endPage();
      EXPECT_FALSE(encoder.finish());
    }
    EXPECT_EQ(delivered, 1);
    auto info = qevtest::jpegInfo(path);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 3);
    EXPECT_EQ(info->height, c.height);
    EXPECT_EQ(info->density, 150);
  }
}

// A frame that ends before its first whole line is no page: it fails, and the page after it
// is not written either.
TEST_F(PageEncoding, AFrameWithoutALineIsNoPage) {
  struct Case {
    const char* name;
    int lines;
    std::size_t bytes;
  } cases[] = {
      {"nothing of four lines", 4, 0},
      {"half a line of four", 4, 5},
      {"nothing of unknown height", -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    delivered = 0;
    PageEncoder encoder(record);
    encoder.beginPage(create(c.name), 150);
    encoder.beginFrame({FrameFormat::gray, true, 10, 10, c.lines, 8});
    feed(encoder, std::vector<unsigned char>(c.bytes, 128), 100);
    encoder.endFrame();
    encoder.endPage();
    std::string next = std::string(c.name) + " next";
    encoder.beginPage(create(next), 150);
    encoder.beginFrame({FrameFormat::gray, true, 10, 10, 1, 8});
    feed(encoder, std::vector<unsigned char>(10, 128), 100);
    encoder.endFrame();
    encoder.endPage();
    auto failure = encoder.finish();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, "Image size not supported by JPEG");
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(fs::file_size(folder / next), 0u);
  }
}

TEST_F(PageEncoding, AWriteFailureAbandonsThePageAndEveryLaterOne) {
  PageEncoder encoder(record);
  encoder.beginPage(Descriptor(::open("/dev/full", O_WRONLY | O_CLOEXEC)), 300);
  encoder.beginFrame({FrameFormat::gray, true, 600, 600, 600, 8});
  std::vector<unsigned char> noise(600 * 600);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<unsigned char>(i * 7919);
  feed(encoder, noise, PageEncoder::bufferSize);
  encoder.endFrame();
  encoder.endPage();
  encoder.beginPage(create("second.jpg"), 300);
  encoder.beginFrame({FrameFormat::gray, true, 10, 10, 10, 8});
  feed(encoder, std::vector<unsigned char>(100, 0), 100);
  encoder.endFrame();
  encoder.endPage();
  auto failure = encoder.finish();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->description, "No space left on device");
  EXPECT_EQ(delivered, 0);
  EXPECT_EQ(fs::file_size(folder / "second.jpg"), 0u);
}

// A page given up halfway is closed and never delivered, and the next page is whole. The
// aborted page is written into a pipe, whose reader sees its end once the encoder has closed
// it.
TEST_F(PageEncoding, AnAbortedPageIsClosedAndNeverDelivered) {
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  Descriptor reader(pipeFds[0]);
  PageEncoder encoder(record);
  encoder.beginPage(Descriptor(pipeFds[1]), 300);
  encoder.beginFrame({FrameFormat::gray, true, 10, 10, 10, 8});
  feed(encoder, std::vector<unsigned char>(50, 0), 50);
  encoder.abortPage();
  encoder.beginPage(create("next.jpg"), 300);
  encoder.beginFrame({FrameFormat::gray, true, 10, 10, 10, 8});
  feed(encoder, std::vector<unsigned char>(100, 0), 100);
  encoder.endFrame();
  encoder.endPage();
  EXPECT_FALSE(encoder.finish());
  EXPECT_EQ(delivered, 1);
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(reader.get(), buffer, sizeof buffer)) > 0) {
  }
  EXPECT_EQ(n, 0) << "the aborted page's descriptor is still open";
  auto info = qevtest::jpegInfo((folder / "next.jpg").string());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->height, 10);
}

TEST_F(PageEncoding, FramesOfUnknownHeightMakeTheSamePageAsFramesOfKnownHeight) {
  struct Case {
    const char* name;
    FrameFormat format;
    int depth;
    int bytesPerLine;  // of 600 pixels
  } cases[] = {
      {"gray", FrameFormat::gray, 8, 603},
      {"colour", FrameFormat::rgb, 8, 1801},
      {"colour of 16 bits", FrameFormat::rgb, 16, 3600},
      {"line art", FrameFormat::gray, 1, 75},
  };
  // Several bands of lines, the last one short.
  const int lines = 701;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(c.bytesPerLine) * lines);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<unsigned char>(i * 7919 / 13);
    Frame known{c.format, true, c.bytesPerLine, 600, lines, c.depth};
    Frame unknown = known;
    unknown.lines = -1;
    auto want = page(known, bytes);
    auto got = page(unknown, bytes);
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(got == want);
    auto image = decode(got);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 600);
    EXPECT_EQ(image->height, lines);
    EXPECT_EQ(image->xDensity, 200);
  }
}

TEST_F(PageEncoding, ThreePassPlanesMakeOneColourPage) {
  PageEncoder encoder(record);
  std::string path = (folder / "page.jpg").string();
  encoder.beginPage(create("page.jpg"), 300);
  const FrameFormat planes[] = {FrameFormat::red, FrameFormat::green, FrameFormat::blue};
  const unsigned char levels[] = {200, 100, 50};
  // The blue plane ends early: a line needs all three colours, so the page is as long as it.
  const int lines[] = {50, 50, 45};
  for (int c = 0; c < 3; ++c) {
    encoder.beginFrame({planes[c], c == 2, 40, 40, c == 1 ? -1 : 50, 8});
    feed(encoder, std::vector<unsigned char>(static_cast<std::size_t>(40 * lines[c]), levels[c]),
         333);
    encoder.endFrame();
  }
  encoder.endPage();
  EXPECT_FALSE(encoder.finish());
  EXPECT_EQ(delivered, 1);
  std::ifstream in(path, std::ios::binary);
  auto image = decode({std::istreambuf_iterator<char>(in), {}});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 40);
  EXPECT_EQ(image->height, 45);
  Rgb pixel = image->at(20, 25);
  EXPECT_NEAR(pixel.red, 200, 3);
  EXPECT_NEAR(pixel.green, 100, 3);
  EXPECT_NEAR(pixel.blue, 50, 3);
}

}  // namespace
}  // namespace qev
