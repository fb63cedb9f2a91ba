// `list` through the real binary: whatever it finds, it waits as long as asked and ends
// with `done`.

#include <gtest/gtest.h>

#include "tests/run.h"

namespace {

using namespace std::chrono_literals;

TEST(List, EndsWithDoneAfterTheWholeWait) {
  struct {
    const char* wait;
    std::chrono::milliseconds atLeast;
  } cases[] = {{"0.3", 300ms}, {"0", 0ms}, {"-1", 0ms}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wait);
    auto run = qevtest::qev({"list", "--wait", c.wait});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back(), (nlohmann::json{{"event", "done"}}));
    for (std::size_t i = 0; i + 1 < run.events.size(); ++i) {
      EXPECT_EQ(run.events[i]["event"], "device");
    }
    EXPECT_GE(run.times.back(), c.atLeast);
  }
}

}  // namespace
