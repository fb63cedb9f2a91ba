#include "platform/run_loop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace qev {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, DeliversInTheOrderPosted) {
  RunLoop loop;
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) loop.post([&, i] { seen.push_back(i); });
  // A callback may post: the new one goes behind those already waiting.
  loop.post([&] { loop.post([&] { seen.push_back(6); }); });
  loop.post([&] { seen.push_back(5); });
  EXPECT_FALSE(loop.runUntil(RunLoop::Clock::now() + 50ms));
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(RunLoop, DeliversPostsFromOtherThreadsOnItsOwnThread) {
  RunLoop loop;
  constexpr int threads = 4, each = 200;
  std::vector<std::vector<int>> seen(threads);
  int wrongThread = 0;
  const auto self = std::this_thread::get_id();
  int delivered = 0;
  {
    std::vector<std::jthread> posters;
    posters.reserve(threads);
    for (int t = 0; t < threads; ++t) {
      posters.emplace_back([&, t] {
        for (int i = 0; i < each; ++i) {
          loop.post([&, t, i] {
            if (std::this_thread::get_id() != self) ++wrongThread;
            seen[t].push_back(i);
            if (++delivered == threads * each) loop.endWait();
          });
        }
      });
    }
    EXPECT_TRUE(loop.runUntil(RunLoop::Clock::now() + 10s));
  }
  EXPECT_EQ(wrongThread, 0);
  for (int t = 0; t < threads; ++t) {
    SCOPED_TRACE(t);
    ASSERT_EQ(seen[t].size(), std::size_t{each});
    for (int i = 0; i < each; ++i) EXPECT_EQ(seen[t][i], i);
  }
}

TEST(RunLoop, WakesForAPostWhileWaiting) {
  RunLoop loop;
  bool ran = false;
  std::jthread late([&] {
    std::this_thread::sleep_for(30ms);
    loop.post([&] {
      ran = true;
      loop.endWait();
    });
  });
  // A far deadline, even the largest the clock holds, must not be taken for a past one.
  EXPECT_TRUE(loop.runUntil(RunLoop::Clock::time_point::max()));
  EXPECT_TRUE(ran);
}

TEST(RunLoop, PastDeadlineReturnsAtOnceAndDeliversNothing) {
  RunLoop loop;
  int ran = 0;
  loop.post([&] { ++ran; });
  EXPECT_FALSE(loop.runUntil(RunLoop::Clock::now() - 1s));
  EXPECT_FALSE(loop.runUntil(RunLoop::Clock::time_point::min()));
  EXPECT_EQ(ran, 0);
  // The callback still waits for the next run.
  loop.post([&] { loop.endWait(); });
  EXPECT_TRUE(loop.runUntil(RunLoop::Clock::now() + 10s));
  EXPECT_EQ(ran, 1);
}

TEST(RunLoop, ReturnsAtItsDeadlineWhenNothingComes) {
  RunLoop loop;
  auto start = RunLoop::Clock::now();
  EXPECT_FALSE(loop.runUntil(start + 50ms));
  EXPECT_GE(RunLoop::Clock::now() - start, 50ms);
}

TEST(RunLoop, EndWaitEndsTheRunAfterTheCurrentCallback) {
  RunLoop loop;
  std::vector<int> seen;
  loop.post([&] {
    seen.push_back(1);
    loop.endWait();
    seen.push_back(2);
  });
  loop.post([&] { seen.push_back(3); });
  EXPECT_TRUE(loop.runUntil(RunLoop::Clock::now() + 10s));
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  // The end is spent: the next run delivers the rest and waits for its deadline.
  EXPECT_FALSE(loop.runUntil(RunLoop::Clock::now() + 20ms));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace qev
