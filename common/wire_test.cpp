#include "common/wire.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace qev::wire {
namespace {

Message full() {
  Message m;
  m.kind = Kind::selected;
  m.device = "fault:odd\xff name";
  m.probe = true;
  m.unit = feederUnit;
  m.job = {.unit = feederUnit,
           .dpi = 600,
           .pixelType = PixelType::gray,
           .depth = 16,
           .duplex = true,
           .area = Area{1.5, 2, 215.9, 297},
           .progress = true};
  m.info = {.name = "genesys:libusb:001:004",
            .vendor = "Canon",
            .model = "LiDE",
            .type = "t",
            .uuid = "genesys:usb:04a9:1909@0000:00:14.0/1.4",
            .transport = "usb",
            .displayName = "Canon LiDE",
            .units = {flatbedUnit, feederUnit}};
  m.unitInfo.type = feederUnit;
  m.unitInfo.supported.add(50, 600, 50);
  m.unitInfo.preferred.add(300);
  m.unitInfo.duplex = true;
  m.unitInfo.physical = {215.9, 355.6};
  m.progress = {.page = 3, .lines = 1200, .total = -1};
  m.texts = {.cancelled = "stopped", .invalid = "out of turn"};
  m.error = Error{"Document feeder jammed", Code::jammed};
  return m;
}

TEST(Protocol, MessagesComeBackAsTheyWereSent) {
  Message sent = full();
  auto got = decode(encode(sent));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, sent.kind);
  EXPECT_EQ(got->device, sent.device);
  EXPECT_TRUE(got->probe);
  EXPECT_EQ(got->job.dpi, 600);
  EXPECT_EQ(got->job.depth, 16);
  ASSERT_TRUE(got->job.area);
  EXPECT_EQ(got->job.area->height, 297);
  EXPECT_EQ(got->info.name, sent.info.name);
  EXPECT_EQ(got->info.vendor, sent.info.vendor);
  EXPECT_EQ(got->info.model, sent.info.model);
  EXPECT_EQ(got->info.type, sent.info.type);
  EXPECT_EQ(got->info.uuid, sent.info.uuid);
  EXPECT_EQ(got->info.transport, "usb");
  EXPECT_EQ(got->info.displayName, "Canon LiDE");
  EXPECT_EQ(got->info.units, sent.info.units);
  EXPECT_TRUE(got->unitInfo.supported.contains(550));
  EXPECT_FALSE(got->unitInfo.supported.contains(575));
  EXPECT_EQ(got->unitInfo.preferred.smallest(), 300);
  EXPECT_EQ(got->unitInfo.physical.height, 355.6);
  EXPECT_TRUE(got->job.progress);
  EXPECT_EQ(got->progress.page, 3);
  EXPECT_EQ(got->progress.lines, 1200);
  EXPECT_EQ(got->progress.total, -1);
  EXPECT_EQ(got->texts.cancelled, "stopped");
  EXPECT_EQ(got->texts.invalid, "out of turn");
  ASSERT_TRUE(got->error);
  EXPECT_EQ(got->error->description, "Document feeder jammed");
  EXPECT_EQ(got->error->code, Code::jammed);
  // Absent values stay absent.
  auto bare = decode(encode(Message{.kind = Kind::completed}));
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->error);
  auto uncoded =
      decode(encode(Message{.kind = Kind::completed, .error = Error{"Invalid argument"}}));
  ASSERT_TRUE(uncoded && uncoded->error);
  EXPECT_EQ(uncoded->error->description, "Invalid argument");
  EXPECT_FALSE(uncoded->error->code);
  auto last = decode(encode(Message{.kind = Kind::completed, .error = Error{"", lastCode}}));
  ASSERT_TRUE(last && last->error);
  EXPECT_EQ(last->error->code, lastCode);
  EXPECT_FALSE(bare->job.dpi);
  EXPECT_FALSE(bare->info.uuid);
  EXPECT_FALSE(bare->info.displayName);
}

TEST(Protocol, WhatIsNoMessageIsRefused) {
  auto bytes = encode(full());
  // Every cut-off packet, and one with a byte too many.
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    SCOPED_TRACE(size);
    EXPECT_FALSE(decode({bytes.data(), size}));
  }
  bytes.push_back(0);
  EXPECT_FALSE(decode(bytes));
  bytes.pop_back();
  // A kind that does not exist, and a text longer than the packet.
  auto badKind = bytes;
  badKind[0] = 0x7f;
  EXPECT_FALSE(decode(badKind));
  auto longText = bytes;
  std::int64_t huge = std::int64_t{1} << 40;
  std::memcpy(longText.data() + 8, &huge, sizeof huge);
  EXPECT_FALSE(decode(longText));
  // An error code that does not exist: the code is the last number of the message.
  for (std::int64_t code : {static_cast<std::int64_t>(lastCode) + 1, std::int64_t{-2}}) {
    SCOPED_TRACE(code);
    auto badCode = bytes;
    std::memcpy(badCode.data() + badCode.size() - sizeof code, &code, sizeof code);
    EXPECT_FALSE(decode(badCode));
  }
}

TEST(Protocol, ADescriptorTravelsWithItsMessage) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  ASSERT_TRUE(send(pair[0], {.kind = Kind::file, .device = "fault:f"}, pipeFds[1]));
  ASSERT_TRUE(send(pair[0], {.kind = Kind::needFile}));
  auto first = receive(pair[1]);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->message.kind, Kind::file);
  EXPECT_EQ(first->message.device, "fault:f");
  ASSERT_TRUE(first->fd.valid());
  ASSERT_EQ(write(first->fd.get(), "x", 1), 1);
  char c = 0;
  ASSERT_EQ(read(pipeFds[0], &c, 1), 1);
  EXPECT_EQ(c, 'x');
  auto second = receive(pair[1]);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->message.kind, Kind::needFile);
  EXPECT_FALSE(second->fd.valid());
  // The other end gone: the stream ends.
  close(pair[0]);
  EXPECT_FALSE(receive(pair[1]));
  close(pair[1]);
  close(pipeFds[0]);
  close(pipeFds[1]);
}

// A message comes with one descriptor at most: a packet with more is no message, and none of
// its descriptors stays open in the receiver (each used to be left open, unowned).
TEST(Protocol, APacketWithTwoDescriptorsIsRefusedAndClosesThem) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
  Descriptor sender(pair[0]), receiver(pair[1]);
  // The write ends of two pipes travel; once the receiver closes them, the pipes end (a read
  // that does not wait gives 0 bytes, not EAGAIN).
  int first[2], second[2];
  ASSERT_EQ(pipe2(first, O_NONBLOCK), 0);
  ASSERT_EQ(pipe2(second, O_NONBLOCK), 0);
  Descriptor firstRead(first[0]), secondRead(second[0]);
  int both[2] = {first[1], second[1]};
  auto bytes = encode({.kind = Kind::scanned, .device = "fault:f"});
  iovec part{bytes.data(), bytes.size()};
  msghdr header{};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof both)] = {};
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(&header);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof both);
  std::memcpy(CMSG_DATA(c), both, sizeof both);
  ASSERT_EQ(sendmsg(sender.get(), &header, 0), static_cast<ssize_t>(bytes.size()));
  close(first[1]);
  close(second[1]);

  Silence why = Silence::ended;
  EXPECT_FALSE(receive(receiver.get(), &why));
  EXPECT_EQ(why, Silence::malformed);
  char byte = 0;
  EXPECT_EQ(read(firstRead.get(), &byte, 1), 0);
  EXPECT_EQ(read(secondRead.get(), &byte, 1), 0);
}

}  // namespace
}  // namespace qev::wire
