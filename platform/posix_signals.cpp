#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "common/descriptor.h"
#include "platform/run_loop.h"
#include "platform/signals.h"

namespace qev {

namespace {

constexpr char quitByte = 0;  // the watch is going away
constexpr int watched[] = {SIGINT, SIGTERM};

// The write end of the pipe, for the handler. Set before the handlers are installed and
// cleared after they are removed.
std::atomic<int> wakeFd{-1};

void onSignal(int signal) {
  int saved = errno;
  // The signal's number tells the watch which one came; write is async-signal-safe, and a
  // full pipe already holds a wake-up.
  char b = static_cast<char>(signal);
  [[maybe_unused]] ssize_t n = ::write(wakeFd.load(), &b, 1);
  errno = saved;
}

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

namespace {

void mask(int how) {
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal : watched) sigaddset(&stops, signal);
  ::pthread_sigmask(how, &stops, nullptr);
}

}  // namespace

void holdStopSignals() { mask(SIG_BLOCK); }
void releaseStopSignals() { mask(SIG_UNBLOCK); }

struct StopSignals::Watch {
  // The pipe from the handler to the thread.
  Descriptor reader, writer;
  struct sigaction old[2]{};
  std::thread thread;
};

StopSignals::StopSignals(RunLoop& loop, std::function<void()> onStop)
    : watch(std::make_unique<Watch>()) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;  // no pipe: the signals keep their default
  watch->reader = Descriptor(fds[0]);
  watch->writer = Descriptor(fds[1]);
  wakeFd = watch->writer.get();
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 2; ++i) ::sigaction(watched[i], &action, &watch->old[i]);
  watch->thread = std::thread([&loop, onStop = std::move(onStop), fd = watch->reader.get()] {
    bool stopping = false;
    for (;;) {
      char b;
      ssize_t n = ::read(fd, &b, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1 || b == quitByte) return;
      if (stopping) {
        // A second signal that came before the defaults were back: it ends the run now.
        ::signal(b, SIG_DFL);
        ::raise(b);
        continue;
      }
      stopping = true;
      // From here on the signals take their default action: a second Ctrl-C ends the run.
      for (int signal : watched) ::signal(signal, SIG_DFL);
      loop.post(onStop);
    }
  });
  // A signal that came while they were held is handled now.
  releaseStopSignals();
}

StopSignals::~StopSignals() {
  if (!watch->thread.joinable()) return;
  char b = quitByte;
  while (::write(watch->writer.get(), &b, 1) < 0 && errno == EINTR) {
  }
  watch->thread.join();
  for (int i = 0; i < 2; ++i) ::sigaction(watched[i], &watch->old[i], nullptr);
  wakeFd = -1;
  // The pipe is closed with the watch, once no handler can write to it.
}

}  // namespace qev
