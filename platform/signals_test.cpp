#include "platform/signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/run_loop.h"

namespace qev {
namespace {

using namespace std::chrono_literals;

// These tests start from the default actions, as a program started in the foreground has
// them; one started in the background by a script has SIGINT ignored.
void fromDefaults() {
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
}

// The action in force for `signal`, without changing it.
void (*handlerOf(int signal))(int) {
  struct sigaction now {};
  sigaction(signal, nullptr, &now);
  return now.sa_handler;
}

TEST(StopSignals, EachSignalBecomesOneCallbackOnTheRunLoop) {
  fromDefaults();
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    RunLoop loop;
    int stops = 0;
    StopSignals stop(loop, [&] {
      ++stops;
      loop.endWait();
    });
    ASSERT_EQ(::raise(signal), 0);
    EXPECT_TRUE(loop.runUntil(RunLoop::Clock::now() + 5s));
    EXPECT_EQ(stops, 1);
    // Handled once, the signal has its default action back.
    EXPECT_EQ(handlerOf(signal), SIG_DFL);
  }
}

// A signal in the first moments of a run, before the scan could cancel anything, waited and
// then cancelled it; it used to end the run with no final line.
TEST(StopSignals, ASignalThatCameWhileHeldIsHandledOnceTheWatchIsInPlace) {
  fromDefaults();
  RunLoop loop;
  holdStopSignals();
  ASSERT_EQ(::raise(SIGTERM), 0);  // held: pending, not delivered
  int stops = 0;
  {
    StopSignals stop(loop, [&] {
      ++stops;
      loop.endWait();
    });
    EXPECT_TRUE(loop.runUntil(RunLoop::Clock::now() + 5s));
  }
  EXPECT_EQ(stops, 1);
}

TEST(StopSignals, NothingIsPostedWithoutASignal) {
  fromDefaults();
  RunLoop loop;
  int stops = 0;
  StopSignals stop(loop, [&] { ++stops; });
  EXPECT_FALSE(loop.runUntil(RunLoop::Clock::now() + 50ms));
  EXPECT_EQ(stops, 0);
}

TEST(StopSignals, EndingTheWatchRestoresTheFormerActions) {
  fromDefaults();
  RunLoop loop;
  ::signal(SIGTERM, SIG_IGN);
  {
    StopSignals stop(loop, [] {});
    EXPECT_NE(handlerOf(SIGTERM), SIG_IGN);
    EXPECT_NE(handlerOf(SIGINT), SIG_DFL);
  }
  EXPECT_EQ(handlerOf(SIGTERM), SIG_IGN);
  EXPECT_EQ(handlerOf(SIGINT), SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
}

// Scanner backends switch SIGPIPE to its default action while they start threads; a reader
// that went away then ended the run in the middle of a batch.
TEST(BrokenPipe, AWriteToAReaderThatWentAwayFailsWhateverTheAction) {
  ignoreBrokenPipe();
  std::thread([] {
    ::signal(SIGPIPE, SIG_DFL);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    EXPECT_EQ(::write(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(fds[1]);
    ::signal(SIGPIPE, SIG_IGN);
  }).join();
}

}  // namespace
}  // namespace qev
