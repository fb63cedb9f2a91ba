#include "common/descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace qev {
namespace {

// Whether the write end of the pipe whose read end is `reader` is closed everywhere: the
// reader then sees the end of the stream.
bool writerClosed(int reader) {
  char c;
  return ::read(reader, &c, 1) == 0;
}

TEST(Descriptor, TheLastOwnerClosesItOnce) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
  Descriptor reader(fds[0]);
  {
    Descriptor first(fds[1]);
    Descriptor second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.get(), fds[1]);
    Descriptor third;
    third = std::move(second);
    EXPECT_FALSE(second.valid());
    EXPECT_FALSE(writerClosed(reader.get()));
  }
  EXPECT_TRUE(writerClosed(reader.get()));
  // Assigning over a descriptor closes the one it held; closing twice is harmless.
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
  Descriptor other(fds[0]);
  Descriptor writer(fds[1]);
  writer = Descriptor();
  EXPECT_TRUE(writerClosed(other.get()));
  EXPECT_TRUE(writer.close().ok());
  EXPECT_TRUE(Descriptor(-1).close().ok());
}

}  // namespace
}  // namespace qev
