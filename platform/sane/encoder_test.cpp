#include "platform/sane/encoder.h"

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

  int create(const std::string& name) {
    return ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
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
      encoder.beginPage(create(name), (folder / name).string(), 200);
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
  std::vector<std::string> delivered;
  PageEncoder::Delivered record = [this](const std::string& path) { delivered.push_back(path); };
};

TEST_F(PageEncoding, LinesSplitAnywhereAndShortFramesMakeWholePages) {
  struct Case {
    const char* name;
    std::size_t piece;
    int linesSent;
  } cases[] = {
      {"one byte at a time", 1, 4},
      {"pieces across lines", 7, 4},
      {"two lines of four, filled with white", 100, 2},
      {"six lines of four, the rest dropped", 100, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    delivered.clear();
    std::string path = (folder / c.name).string();
    {
      PageEncoder encoder(record);
      encoder.beginPage(create(c.name), path, 150);
      encoder.beginFrame({FrameFormat::rgb, true, 11, 3, 4, 8});  // 2 bytes of padding a line
      feed(encoder, std::vector<unsigned char>(static_cast<std::size_t>(11 * c.linesSent), 128),
           c.piece);
      encoder.endFrame();
      encoder.endPage();
      EXPECT_FALSE(encoder.finish());
    }
    ASSERT_EQ(delivered, std::vector<std::string>{path});
    auto info = qevtest::jpegInfo(path);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 3);
    EXPECT_EQ(info->height, 4);
    EXPECT_EQ(info->density, 150);
  }
}

TEST_F(PageEncoding, AWriteFailureRemovesThePageAndEveryLaterOne) {
  PageEncoder encoder(record);
  std::string first = (folder / "first.jpg").string(), second = (folder / "second.jpg").string();
  ::close(create("first.jpg"));
  encoder.beginPage(::open("/dev/full", O_WRONLY | O_CLOEXEC), first, 300);
  encoder.beginFrame({FrameFormat::gray, true, 600, 600, 600, 8});
  std::vector<unsigned char> noise(600 * 600);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<unsigned char>(i * 7919);
  feed(encoder, noise, PageEncoder::bufferSize);
  encoder.endFrame();
  encoder.endPage();
  encoder.beginPage(create("second.jpg"), second, 300);
  encoder.abortPage();
  auto failure = encoder.finish();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->description, "No space left on device");
  EXPECT_TRUE(delivered.empty());
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(second));
}

TEST_F(PageEncoding, AnAbortedPageLeavesNoFile) {
  PageEncoder encoder(record);
  std::string path = (folder / "page.jpg").string();
  encoder.beginPage(create("page.jpg"), path, 300);
  encoder.beginFrame({FrameFormat::gray, true, 10, 10, 10, 8});
  feed(encoder, std::vector<unsigned char>(50, 0), 50);
  encoder.abortPage();
  EXPECT_FALSE(encoder.finish());
  EXPECT_TRUE(delivered.empty());
  EXPECT_FALSE(fs::exists(path));
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
  encoder.beginPage(create("page.jpg"), path, 300);
  const FrameFormat planes[] = {FrameFormat::red, FrameFormat::green, FrameFormat::blue};
  const unsigned char levels[] = {200, 100, 50};
  for (int c = 0; c < 3; ++c) {
    encoder.beginFrame({planes[c], c == 2, 40, 40, c == 1 ? -1 : 50, 8});
    feed(encoder, std::vector<unsigned char>(40 * 50, levels[c]), 333);
    encoder.endFrame();
  }
  encoder.endPage();
  EXPECT_FALSE(encoder.finish());
  ASSERT_EQ(delivered, std::vector<std::string>{path});
  std::ifstream in(path, std::ios::binary);
  auto image = decode({std::istreambuf_iterator<char>(in), {}});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 40);
  EXPECT_EQ(image->height, 50);
  Rgb pixel = image->at(20, 25);
  EXPECT_NEAR(pixel.red, 200, 3);
  EXPECT_NEAR(pixel.green, 100, 3);
  EXPECT_NEAR(pixel.blue, 50, 3);
}

}  // namespace
}  // namespace qev
