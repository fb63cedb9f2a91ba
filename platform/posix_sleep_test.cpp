#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "platform/sleep.h"

namespace qev {
namespace {

TEST(SleepFor, SleepsTheWholeLengthWhenASignalInterruptsIt) {
  // A handler without SA_RESTART, so that the signal does interrupt the sleep.
  struct sigaction action {};
  struct sigaction before {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &before), 0);

  const pthread_t sleeper = pthread_self();
  auto start = std::chrono::steady_clock::now();
  std::thread interrupter([sleeper] {
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      pthread_kill(sleeper, SIGUSR1);
    }
  });
  sleepFor(std::chrono::milliseconds(300));
  auto slept = std::chrono::steady_clock::now() - start;
  interrupter.join();
  sigaction(SIGUSR1, &before, nullptr);
  EXPECT_GE(slept, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace qev
