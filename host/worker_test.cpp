#include "host/worker.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testing/sane_setup.h"

namespace qev {
namespace {

using namespace std::chrono_literals;

// The worker starts and ends SANE; here SANE has no backend, and nothing asks it for any.
class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() {
    if (const char* before = ::getenv("SANE_CONFIG_DIR")) saved = before;
    ::setenv("SANE_CONFIG_DIR", config.path().c_str(), 1);
  }
  ~WorkerTest() override {
    if (saved) {
      ::setenv("SANE_CONFIG_DIR", saved->c_str(), 1);
    } else {
      ::unsetenv("SANE_CONFIG_DIR");
    }
  }

  qevtest::SaneConfig config{{}, {}};
  std::optional<std::string> saved;
};

// Waits until everything posted to `worker` before has run.
void drain(SaneWorker& worker) {
  std::promise<void> done;
  worker.post([&] { done.set_value(); });
  done.get_future().wait();
}

TEST_F(WorkerTest, RunsPostedTasksInOrderOnItsOwnThread) {
  std::vector<int> ran;
  std::set<std::thread::id> threads;
  SaneWorker worker;
  for (int i = 0; i < 100; ++i) {
    worker.post([&, i] {
      ran.push_back(i);
      threads.insert(std::this_thread::get_id());
    });
  }
  drain(worker);
  ASSERT_EQ(ran.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

TEST_F(WorkerTest, RunsPeriodicTasksBetweenPostedOnesUntilTheySayNo) {
  std::vector<std::string> log;
  std::promise<void> ended;
  {
    SaneWorker worker;
    int runs = 0;
    // Due again at once: only posted tasks come before it.
    worker.every(0ms, [&] {
      log.push_back("every");
      if (++runs == 1) {
        worker.post([&] { log.push_back("posted 1"); });
        worker.post([&] { log.push_back("posted 2"); });
      }
      if (runs < 3) return true;
      worker.post([&] {
        log.push_back("end");
        ended.set_value();
      });
      return false;
    });
    ended.get_future().wait();
  }
  EXPECT_EQ(log,
            (std::vector<std::string>{"every", "posted 1", "posted 2", "every", "every", "end"}));
}

TEST_F(WorkerTest, StopsAfterRunningEverythingQueuedAndDropsPeriodicTasks) {
  std::vector<int> ran;
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> periodic = held;
  {
    SaneWorker worker;
    std::promise<void> go;
    // The worker waits, so that the rest is still queued when it is told to stop.
    worker.post([ready = go.get_future().share()] { ready.wait(); });
    for (int i = 0; i < 10; ++i) worker.post([&, i] { ran.push_back(i); });
    worker.every(1h, [held = std::move(held)] { return true; });
    go.set_value();
  }
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_TRUE(periodic.expired());
}

}  // namespace
}  // namespace qev
