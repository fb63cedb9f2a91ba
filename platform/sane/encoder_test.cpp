#include "platform/sane/encoder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/jpeg_info.h"

namespace qev {
namespace {

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

}  // namespace
}  // namespace qev
