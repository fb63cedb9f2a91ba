// `list` through the real binary: whatever it finds, it waits as long as asked and ends
// with `done`.

#include <gtest/gtest.h>

#include "testing/run.h"
#include "testing/sane_setup.h"

namespace {

using namespace std::chrono_literals;

TEST(List, EndsWithDoneAfterTheWholeWait) {
  struct {
    const char* wait;
    std::chrono::milliseconds atLeast;
  } cases[] = {{"0.3", 300ms}, {"0", 0ms}, {"-1", 0ms}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wait);
    // SANE's test backend alone: the machine's own configuration may probe for long.
    qevtest::SaneConfig config;
    auto run = qevtest::qev({"list", "--wait", c.wait}, config.options());
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

TEST(List, ReportsTheTestScannersInOrder) {
  qevtest::SaneConfig config;
  auto run = qevtest::qev({"list", "--wait", "1"}, config.options());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  auto record = [](const char* id) {
    return nlohmann::json{
        {"event", "device"},      {"id", id},       {"name", "Noname frontend-tester"},
        {"transport", "virtual"}, {"feeder", true}, {"flatbed", true}};
  };
  ASSERT_EQ(run.events.size(), 3u) << run.out;
  EXPECT_EQ(run.events[0], record("test:0"));
  EXPECT_EQ(run.events[1], record("test:1"));
  EXPECT_EQ(run.events[2], (nlohmann::json{{"event", "done"}}));
}

TEST(List, NoBackendsNoDevices) {
  qevtest::SaneConfig config({}, {});
  auto run = qevtest::qev({"list", "--wait", "0.3"}, config.options());
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.events.size(), 1u) << run.out;
  EXPECT_EQ(run.events[0], (nlohmann::json{{"event", "done"}}));
}

}  // namespace
