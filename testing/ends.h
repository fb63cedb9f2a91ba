#pragma once

// The descriptors that tests of the driver host's link and routing play qev with: the two
// ends of a socket pair as qev and its host have them, and a pipe that stands in for a page
// file. Only tests include this header.

#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "common/descriptor.h"
#include "gtest/gtest.h"

namespace qevtest {

// The two ends of a socket pair as qev and its host have it.
struct Ends {
  qev::Descriptor host, qev;
};

inline Ends makeEnds() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
  return {qev::Descriptor(fds[0]), qev::Descriptor(fds[1])};
}

// A pipe whose write end travels to the link as a page file would; what is written into the
// file the link hands out arrives at `read`.
struct Pipe {
  qev::Descriptor read, write;
};

inline Pipe makePipe() {
  int fds[2] = {-1, -1};
  EXPECT_EQ(::pipe(fds), 0);
  return {qev::Descriptor(fds[0]), qev::Descriptor(fds[1])};
}

// Everything written to the pipe until its last write end closes.
inline std::string drain(const qev::Descriptor& read) {
  std::string text;
  char buffer[64];
  for (ssize_t n; (n = ::read(read.get(), buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace qevtest
