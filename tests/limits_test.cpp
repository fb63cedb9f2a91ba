// Every run ends: a backend that never returns from opening, from the start of a page or from
// a read kept `qev scan` running until a signal ended it. Now each step has a limit, which
// the tests shorten through QEV_TEST_LIMITS_MS; at the limit the run ends with one error,
// the pages reported before stay and no incomplete page is left.

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/files.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

TEST(Limits, ABackendThatNeverReturnsEndsTheRunAtItsLimit) {
  struct Case {
    const char* name;
    const char* hang;
    std::vector<std::string> events;  // the kinds of event lines, the error last
  } cases[] = {
      {"while opening", "open", {"error"}},
      {"at the start of the first page", "start", {"opened", "error"}},
      {"in a read of the first page", "read", {"opened", "error"}},
      {"at the start of the second page", "start 2", {"opened", "page", "error"}},
      {"in a read of the second page", "read 2", {"opened", "page", "error"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::FaultConfig config(
        "[device]\nname = f\ntype = sheetfed scanner\nsize = 40 30\npages = 3\nhang = " +
        std::string(c.hang) + "\n");
    auto options = config.options(60s);
    options.env["QEV_TEST_LIMITS_MS"] = "2000";
    qevtest::TempDir dir;
    std::string out = dir / "out";
    auto run = qevtest::qev({"scan", "--device", "fault:f", "--out", out}, options);

    std::vector<std::string> kinds;
    for (const auto& e : run.events) kinds.push_back(e.value("event", ""));
    EXPECT_EQ(kinds, c.events) << run.out;
    ASSERT_NO_FATAL_FAILURE(qevtest::expectFailed(
        run, "not_answering", "The scan stopped: The scanner stopped answering."));
    // The pages reported stay, whole; nothing else is left.
    std::vector<std::string> reported;
    for (const auto& e : run.events) {
      if (e["event"] == "page") reported.push_back(std::filesystem::path(e["file"]).filename());
    }
    EXPECT_EQ(qevtest::pagesIn(out), reported);
    for (const auto& page : reported) EXPECT_TRUE(qevtest::wholeJpeg(out + "/" + page));
    EXPECT_TRUE(qevtest::names(out + "/.qev-incoming").empty());
  }
}

}  // namespace
