#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
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
constexpr int watched[] = {SIGINT, SIGTERM};

// The write end of the pipe, for the handler. Set before the handlers are installed and
// cleared after they are removed.
volatile int wakeFd = -1;
// Set by the handler: from then on the signals keep their default action.
volatile sig_atomic_t stopped = 0;

void onSignal(int) {
  int saved = errno;
  stopped = 1;
  char b = stopByte;
  // write is async-signal-safe; a full pipe already holds a wake-up, so a lost byte is fine.
  [[maybe_unused]] ssize_t n = ::write(wakeFd, &b, 1);
  errno = saved;
}

struct sigaction handled() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // Once handled, a signal takes its default action again: a second Ctrl-C ends the run.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  return action;
}

// Puts the handler back where a library has replaced it. Some scanner backends reset
// SIGTERM to its default action whenever they start a thread for a page, which would make
// a caller's SIGTERM end the run without a word.
void keepHandled() {
  for (int signal : watched) {
    struct sigaction now {};
    if (::sigaction(signal, nullptr, &now) != 0 || now.sa_handler == onSignal) continue;
    if (stopped) return;
    struct sigaction action = handled();
    ::sigaction(signal, &action, nullptr);
  }
}

// How often the watch looks whether its handlers are still in place.
constexpr int checkEveryMs = 10;

}  // namespace

void ignoreBrokenPipe() {
  // Ignored, and blocked as well in this thread and every thread started after it: scanner
  // backends switch SIGPIPE between its default and ignored while they start threads, and a
  // write to a reader that went away must never end the run in such a moment.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

struct StopSignals::Watch {
  int fds[2] = {-1, -1};
  struct sigaction old[2]{};
  std::thread thread;
};

StopSignals::StopSignals(RunLoop& loop, std::function<void()> onStop)
    : watch(std::make_unique<Watch>()) {
  if (::pipe2(watch->fds, O_CLOEXEC) != 0) return;  // no pipe: the signals keep their default
  wakeFd = watch->fds[1];
  stopped = 0;
  struct sigaction action = handled();
  for (int i = 0; i < 2; ++i) ::sigaction(watched[i], &action, &watch->old[i]);
  watch->thread = std::thread([&loop, onStop = std::move(onStop), fd = watch->fds[0]] {
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      int ready = ::poll(&p, 1, checkEveryMs);
      if (ready == 0) keepHandled();
      if (ready <= 0) continue;
      char b;
      ssize_t n = ::read(fd, &b, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1 || b == quitByte) return;
      loop.post(onStop);
    }
  });
}

StopSignals::~StopSignals() {
  if (!watch->thread.joinable()) return;
  char b = quitByte;
  while (::write(watch->fds[1], &b, 1) < 0 && errno == EINTR) {
  }
  watch->thread.join();
  for (int i = 0; i < 2; ++i) ::sigaction(watched[i], &watch->old[i], nullptr);
  wakeFd = -1;
  ::close(watch->fds[0]);
  ::close(watch->fds[1]);
}

}  // namespace qev
