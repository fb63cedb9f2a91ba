#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/run_loop.h"
#include "platform/signals.h"

namespace qev {

namespace {

constexpr char stopByte = 1;  // a signal arrived
constexpr char quitByte = 0;  // the watch is going away

// The write end of the pipe, for the handler. Set before the handlers are installed and
// cleared after they are removed.
volatile int wakeFd = -1;

void onSignal(int) {
  int saved = errno;
  char b = stopByte;
  // write is async-signal-safe; a full pipe already holds a wake-up, so a lost byte is fine.
  [[maybe_unused]] ssize_t n = ::write(wakeFd, &b, 1);
  errno = saved;
}

}  // namespace

struct StopSignals::Watch {
  int fds[2] = {-1, -1};
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
  std::thread thread;
};

StopSignals::StopSignals(RunLoop& loop, std::function<void()> onStop)
    : watch(std::make_unique<Watch>()) {
  if (::pipe2(watch->fds, O_CLOEXEC) != 0) return;  // no pipe: the signals keep their default
  wakeFd = watch->fds[1];
  watch->thread = std::thread([&loop, onStop = std::move(onStop), fd = watch->fds[0]] {
    for (;;) {
      char b;
      ssize_t n = ::read(fd, &b, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1 || b == quitByte) return;
      loop.post(onStop);
    }
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // Once handled, a signal takes its default action again: a second Ctrl-C ends the run.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, &watch->oldInt);
  sigaction(SIGTERM, &action, &watch->oldTerm);
}

StopSignals::~StopSignals() {
  if (!watch->thread.joinable()) return;
  sigaction(SIGINT, &watch->oldInt, nullptr);
  sigaction(SIGTERM, &watch->oldTerm, nullptr);
  char b = quitByte;
  while (::write(watch->fds[1], &b, 1) < 0 && errno == EINTR) {
  }
  watch->thread.join();
  wakeFd = -1;
  ::close(watch->fds[0]);
  ::close(watch->fds[1]);
}

}  // namespace qev
