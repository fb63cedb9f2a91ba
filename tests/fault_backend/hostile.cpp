#include "hostile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace fault {
namespace {

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) return;  // a closed stream: the frontend gets nothing
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

void say(const Device& d) {
  if (!d.print) return;
  std::string line = *d.print + "\n";
  writeAll(1, line);
  writeAll(2, line);
}

void note(const Device& d, std::string_view line) {
  if (d.record.empty()) return;
  int fd = ::open(d.record.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  writeAll(fd, line);
  ::close(fd);
}

void resetSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGPIPE}) sigaction(signal, &action, nullptr);
}

void crash(Crash how) {
  if (how == Crash::segv) {
    // Both volatile: the compiler can neither see that the pointer is null nor drop the store.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
  }
  if (how == Crash::exit) std::exit(3);
  std::abort();
}

void hang() {
  for (;;) pause();
}

}  // namespace fault
