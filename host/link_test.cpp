#include "host/link.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <string>

#include "testing/ends.h"

namespace qev {
namespace {

using qevtest::drain;
using qevtest::Ends;
using qevtest::makeEnds;
using qevtest::makePipe;
using qevtest::Pipe;

// The link on the host's end of a real socket pair; the test plays qev on the other end.
class LinkTest : public ::testing::Test {
 protected:
  // The next message the host sent qev.
  wire::Message fromHost() {
    auto received = wire::receive(qev.get());
    EXPECT_TRUE(received);
    if (!received) return {};
    received->fd.reset();
    return received->message;
  }

  // Hands the link what qev sent it, as the host's router does.
  void deliver() {
    auto received = link.receive();
    ASSERT_TRUE(received);
    link.arrived({.fd = std::move(received->fd), .error = received->message.error});
  }

  Ends ends = makeEnds();
  Descriptor& qev = ends.qev;
  Link link{ends.host.get()};
};

TEST_F(LinkTest, SendsMessagesAndReceivesQevsWithTheirDescriptors) {
  link.send({.kind = wire::Kind::completed, .device = "test:0", .error = Error{"Jammed"}});
  wire::Message sent = fromHost();
  EXPECT_EQ(sent.kind, wire::Kind::completed);
  EXPECT_EQ(sent.device, "test:0");
  ASSERT_TRUE(sent.error);
  EXPECT_EQ(sent.error->description, "Jammed");

  Pipe pipe = makePipe();
  ASSERT_TRUE(
      wire::send(qev.get(), {.kind = wire::Kind::file, .device = "test:0"}, pipe.write.get()));
  pipe.write.reset();
  auto received = link.receive();
  ASSERT_TRUE(received);
  EXPECT_EQ(received->message.kind, wire::Kind::file);
  Descriptor fd = std::move(received->fd);
  ASSERT_TRUE(fd.valid());
  ASSERT_EQ(::write(fd.get(), "page", 4), 4);
  fd.reset();
  EXPECT_EQ(drain(pipe.read), "page");

  // qev goes away: nothing more comes.
  qev.reset();
  EXPECT_FALSE(link.receive());
}

TEST_F(LinkTest, NeedFileAsksQevAndWaitsForItsAnswer) {
  // A file, then no file.
  auto asked = std::async(std::launch::async, [&] { return link.needFile("test:0"); });
  wire::Message ask = fromHost();
  EXPECT_EQ(ask.kind, wire::Kind::needFile);
  EXPECT_EQ(ask.device, "test:0");
  Pipe pipe = makePipe();
  ASSERT_TRUE(
      wire::send(qev.get(), {.kind = wire::Kind::file, .device = "test:0"}, pipe.write.get()));
  pipe.write.reset();
  deliver();
  Link::File file = asked.get();
  EXPECT_FALSE(file.error);
  ASSERT_TRUE(file.fd.valid());
  ASSERT_EQ(::write(file.fd.get(), "page", 4), 4);
  file.fd.reset();
  EXPECT_EQ(drain(pipe.read), "page");

  asked = std::async(std::launch::async, [&] { return link.needFile("test:0"); });
  EXPECT_EQ(fromHost().kind, wire::Kind::needFile);
  ASSERT_TRUE(wire::send(qev.get(), {.kind = wire::Kind::noFile,
                                     .device = "test:0",
                                     .error = Error{"No space left on device", Code::diskFull}}));
  deliver();
  file = asked.get();
  EXPECT_FALSE(file.fd.valid());
  ASSERT_TRUE(file.error);
  EXPECT_EQ(file.error->code, Code::diskFull);
}

TEST_F(LinkTest, EndFileWaitsEndsTheWaitAndEveryOneAfterUntilResumed) {
  auto asked = std::async(std::launch::async, [&] { return link.needFile("test:0"); });
  EXPECT_EQ(fromHost().kind, wire::Kind::needFile);  // it is waiting
  link.endFileWaits();
  Link::File file = asked.get();
  ASSERT_TRUE(file.error);
  EXPECT_EQ(file.error->code, Code::cancelled);

  file = link.needFile("test:0");
  EXPECT_EQ(fromHost().kind, wire::Kind::needFile);
  ASSERT_TRUE(file.error);
  EXPECT_EQ(file.error->code, Code::cancelled);

  link.resumeFileWaits();
  asked = std::async(std::launch::async, [&] { return link.needFile("test:0"); });
  EXPECT_EQ(fromHost().kind, wire::Kind::needFile);
  Pipe pipe = makePipe();
  ASSERT_TRUE(
      wire::send(qev.get(), {.kind = wire::Kind::file, .device = "test:0"}, pipe.write.get()));
  deliver();
  file = asked.get();
  EXPECT_FALSE(file.error);
  EXPECT_TRUE(file.fd.valid());
}

}  // namespace
}  // namespace qev
