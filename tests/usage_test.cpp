// Usage errors through the real binary: one error line, status 1, nothing on standard error.

#include <gtest/gtest.h>

#include "tests/run.h"

namespace {

TEST(Usage, EveryUsageErrorIsOneErrorLineAndStatusOne) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{}, "Use list, scan or simulate."},
      {{"List"}, "Use list, scan or simulate."},
      {{"SCAN"}, "Use list, scan or simulate."},
      {{""}, "Use list, scan or simulate."},
      {{"--out", "x", "simulate"}, "Use list, scan or simulate."},
      {{"simulate"}, "Name a folder with --out."},
      {{"simulate", "--pages", "3", "--out"}, "Name a folder with --out."},
      {{"scan"}, "Name a scanner and a folder."},
      {{"scan", "--device", "test:0"}, "Name a scanner and a folder."},
      {{"scan", "--out", "x"}, "Name a scanner and a folder."},
      {{"scan", "--device", "test:0", "--out"}, "Name a scanner and a folder."},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    auto run = qevtest::qev(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_EQ(run.events[0], (nlohmann::json{{"event", "error"}, {"message", c.message}}));
  }
}

}  // namespace
