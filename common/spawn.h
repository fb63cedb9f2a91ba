#pragma once

// Starting one of our own programs (the driver host from qev, the lister from the host) with a
// socket to us and nothing else: both run SANE backends, which must see none of the caller's
// descriptors and none of its signal settings.

#include <sys/types.h>

#include <string>

namespace qev {

struct ChildSetup {
  int socket = -1;         // ours, which the child gets as descriptor `at`
  int at = 3;              // every descriptor of ours above it is closed in the child
  bool silent = false;     // standard input and output on /dev/null
  bool keepErrors = true;  // when silent, whether standard error stays ours
  bool ownGroup = false;   // a process group of its own
};

// Starts `program` with `argv` (ending with a null pointer). Every signal is unblocked in the
// child and the stop signals (SIGINT, SIGTERM, SIGPIPE, SIGCHLD) are at their defaults,
// whatever this process set for itself. The child's pid in `pid`; 0, or the error number.
int spawnChild(pid_t& pid, const std::string& program, char* const argv[], const ChildSetup& setup);

}  // namespace qev
