// Backends that break their frontend: they crash, exit, hang inside a call, print on the
// standard streams or reset signal actions. qev runs them in its driver host, so a caller
// still gets event lines only, one final line, status 0 or 1, a stop within 3 seconds of
// SIGINT or SIGTERM, and no incomplete page left behind.

#include <gtest/gtest.h>

#include <algorithm>

#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;

// A feeder of small pages, with the lines of `habit` added.
std::string feeder(const std::string& name, const std::string& habit) {
  return "[device]\nname = " + name + "\ntype = sheetfed scanner\nsize = 40 30\npages = 3\n" +
         habit + "\n";
}

const std::string good = feeder("good", "");

nlohmann::json driverStopped(const std::string& how) {
  return {
      {"event", "error"},
      {"code", "driver_stopped"},
      {"message", "The scan stopped: The scanner's driver stopped unexpectedly (" + how + ")."}};
}

const nlohmann::json canceled = {{"event", "error"},
                                 {"code", "cancelled"},
                                 {"message", "The scan stopped: Operation was canceled"}};

// Checks what every run promises, whatever its backend did: the last line is the only
// `done` or `error`, the status matches it, nothing reaches standard error, and the staging
// folder holds no file.
void checkPromises(const qevtest::Run& run, const std::string& out) {
  ASSERT_FALSE(run.events.empty()) << run.out;
  for (std::size_t i = 0; i + 1 < run.events.size(); ++i) {
    EXPECT_NE(run.events[i]["event"], "done");
    EXPECT_NE(run.events[i]["event"], "error");
  }
  const auto& last = run.events.back()["event"];
  EXPECT_TRUE(last == "done" || last == "error") << run.out;
  EXPECT_EQ(run.status, last == "done" ? 0 : 1);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(qevtest::names(out + "/.qev-incoming").empty());
  for (const auto& page : qevtest::pagesIn(out)) EXPECT_TRUE(qevtest::wholeJpeg(out + "/" + page));
}

// When a case sends SIGTERM: never, once the backend has hung (its record says so), or once
// a page has arrived.
enum class Stop { none, onHang, afterAPage };

TEST(Hostile, ABackendThatBreaksGetsOneErrorAndLeavesOnlyWholePages) {
  struct Case {
    const char* name;
    std::string conf;  // the last device records what it is asked
    std::string device;
    Stop stop;
    int pages;             // page events expected; -1: any
    nlohmann::json error;  // the final `error`; null: `done`
  } cases[] = {
      {"segmentation fault mid-page", feeder("f", "crash = 2 segv"), "fault:f", Stop::none, 1,
       driverStopped("Segmentation fault")},
      {"abort mid-page", feeder("f", "crash = 2 abort"), "fault:f", Stop::none, 1,
       driverStopped("Aborted")},
      {"exit mid-page", feeder("f", "crash = 2 exit"), "fault:f", Stop::none, 1,
       driverStopped("exit status 3")},
      {"crash while opening", feeder("f", "crash = open segv"), "fault:f", Stop::none, 0,
       driverStopped("Segmentation fault")},
      {"hang in a read, then SIGTERM", feeder("f", "hang = read 2"), "fault:f", Stop::onHang, 1,
       canceled},
      {"hang in a start, then SIGTERM", feeder("f", "hang = start 1"), "fault:f", Stop::onHang, 0,
       canceled},
      {"hang while opening, then SIGTERM", feeder("f", "hang = open"), "fault:f", Stop::onHang, 0,
       canceled},
      {"hang while listing, then SIGTERM", feeder("f", "hang = devices"), "fault:f", Stop::onHang,
       0, canceled},
      {"another scanner hangs while opening", good + feeder("h", "hang = open"), "fault:good",
       Stop::none, 3, nullptr},
      {"prints on both streams", feeder("f", "print = {\"event\":\"done\"} noise"), "fault:f",
       Stop::none, 3, nullptr},
      {"resets signal actions, then SIGTERM",
       feeder("f", "signals = reset\ndelay = 100\npages = 50"), "fault:f", Stop::afterAPage, -1,
       canceled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir dir;
    std::string out = dir / "out", record = dir / "record";
    qevtest::FaultConfig config(c.conf + "record = " + record + "\n");
    auto options = config.options();
    if (c.stop == Stop::onHang) {
      options.signalWhen = [&](const qevtest::Run&) { return qevtest::recorded(record, "hang"); };
    } else if (c.stop == Stop::afterAPage) {
      options.signalWhen = [](const qevtest::Run& sofar) { return qevtest::pagesSoFar(sofar) > 0; };
    }
    auto run = qevtest::qev({"scan", "--device", c.device, "--out", out}, options);
    checkPromises(run, out);
    auto pages = std::count_if(run.events.begin(), run.events.end(),
                               [](const auto& e) { return e["event"] == "page"; });
    if (c.pages >= 0) {
      EXPECT_EQ(pages, c.pages);
    }
    EXPECT_EQ(static_cast<long>(qevtest::pagesIn(out).size()), pages);
    if (c.error.is_null()) {
      EXPECT_EQ(run.events.back(), (nlohmann::json{{"event", "done"}, {"pages", c.pages}}));
    } else {
      EXPECT_EQ(run.events.back(), c.error);
    }
    if (c.stop != Stop::none) {
      EXPECT_GT(run.signalled.count(), 0);
      EXPECT_LT(run.ended - run.signalled, 3s) << "the stop took too long";
    }
  }
}

TEST(Hostile, ListingEndsOnTimeBesideAScannerThatHangs) {
  struct Case {
    const char* name;
    std::string conf;
    std::vector<std::string> ids;
  } cases[] = {
      {"one hangs while opened", good + feeder("h", "hang = open"), {"fault:good", "fault:h"}},
      {"the backend hangs while listing", feeder("h", "hang = devices"), {}},
      {"one crashes while opened",
       feeder("c", "crash = open segv") + good,
       {"fault:c", "fault:good"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::FaultConfig config(c.conf);
    auto run = qevtest::qev({"list", "--wait", "1.5"}, config.options());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_LT(run.ended, 4s);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back(), (nlohmann::json{{"event", "done"}}));
    std::vector<std::string> ids;
    for (const auto& e : run.events) {
      if (e["event"] == "device") ids.push_back(e["id"]);
    }
    EXPECT_EQ(ids, c.ids);
  }
}

TEST(Hostile, ABackendsDiagnosticsReachStandardErrorOnlyWhenAskedFor) {
  qevtest::FaultConfig config(feeder("f", "print = chatter"));
  qevtest::TempDir out;
  auto options = config.options();
  auto quiet = qevtest::qev({"scan", "--device", "fault:f", "--out", out.path()}, options);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  qevtest::TempDir again;
  options.env["SANE_DEBUG_FAULT"] = "1";
  auto asked = qevtest::qev({"scan", "--device", "fault:f", "--out", again.path()}, options);
  EXPECT_EQ(asked.status, 0);
  EXPECT_NE(asked.err.find("chatter"), std::string::npos);
  // Standard output stays the event stream's alone.
  EXPECT_EQ(asked.out.find("chatter"), std::string::npos);
}

}  // namespace
