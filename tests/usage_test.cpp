// Usage errors through the real binary: one error line, status 1, nothing on standard error.

#include <gtest/gtest.h>

#include "testing/run.h"

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
      {{"Show", "--device", "test:0"}, "Use list, scan or simulate."},
      {{"show"}, "Name a scanner with --device."},
      {{"show", "--out", "x", "--device"}, "Name a scanner with --device."},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    auto run = qevtest::qev(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_EQ(run.events[0],
              (nlohmann::json{{"event", "error"}, {"code", "usage"}, {"message", c.message}}));
  }
}

TEST(Usage, StrangeArgumentListsGetTheUsageErrorAndNothingElse) {
  std::vector<std::string> huge(4000, std::string(200, 'x'));
  struct Case {
    std::string name;
    std::vector<std::string> args;
  } cases[] = {
      {"binary bytes", {"\xFF\xFE\x01\x7F", "\xC0\xAF"}},
      {"command word with a bad byte", {"list\xFF"}},
      {"control characters", {"\n\t\r\x1B[31m"}},
      {"huge list", huge},
      {"option without value", {"--wait"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto run = qevtest::qev(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.events.size(), 1u);
    EXPECT_EQ(run.events[0]["message"], "Use list, scan or simulate.");
  }
}

}  // namespace
