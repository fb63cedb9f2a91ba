#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/args.h"
#include "testing/capture.h"

namespace qev {
namespace {

// Runs dispatch on an argument list and records which command it reached, with what.
struct Dispatched {
  std::string command;  // "simulate", "list", "scan", "show" or "" when it ended first
  std::string out;
  std::int64_t pages = 0;
  double wait = 0;
  ScanRequest scan;
  std::string device;  // of `show`
  qevtest::Capture capture;
  std::vector<nlohmann::json>& events = capture.events;
  std::optional<int> status;

  explicit Dispatched(std::vector<std::string_view> args) {
    setArgs(args);
    Commands commands{
        .simulate =
            [this](const std::string& o, std::int64_t p) {
              command = "simulate";
              out = o;
              pages = p;
            },
        .list =
            [this](double w) {
              command = "list";
              wait = w;
            },
        .scan =
            [this](const ScanRequest& r) {
              command = "scan";
              scan = r;
            },
        .show =
            [this](const std::string& d) {
              command = "show";
              device = d;
            },
    };
    status = qevtest::Capture::endOf([&] { dispatch(commands); });
  }
};

TEST(Dispatch, SimulateReadsOutAndPages) {
  struct {
    std::vector<std::string_view> args;
    std::int64_t pages;
  } cases[] = {
      {{"qev", "simulate", "--out", "o"}, 4},
      {{"qev", "simulate", "--out", "o", "--pages", "abc"}, 4},
      {{"qev", "simulate", "--out", "o", "--pages", "+7"}, 7},
      {{"qev", "simulate", "--out", "o", "--pages", "0"}, 0},
      {{"qev", "simulate", "--out", "o", "--pages", "-3"}, -3},
      {{"qev", "simulate", "--out", "o", "--pages", "9223372036854775808"}, 4},
      {{"qev", "simulate", "--pages", "2", "--out", "o", "--pages", "9"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Dispatched o(c.args);
    EXPECT_EQ(o.command, "simulate");
    EXPECT_EQ(o.out, "o");
    EXPECT_EQ(o.pages, c.pages);
  }
}

TEST(Dispatch, ListReadsOnlyItsWait) {
  struct {
    std::vector<std::string_view> args;
    double wait;
  } cases[] = {
      {{"qev", "list"}, 4.0},
      {{"qev", "list", "--wait", "0.5"}, 0.5},
      {{"qev", "list", "--wait", "1,5"}, 4.0},
      {{"qev", "list", "--wait", "1 "}, 4.0},
      {{"qev", "list", "--wait", "-1"}, -1.0},
      {{"qev", "list", "--wait", "0"}, 0.0},
      {{"qev", "list", "--wait", "nan"}, 4.0},
      {{"qev", "list", "--wait", "inf"}, 4.0},
      {{"qev", "list", "--wait", "-inf"}, 4.0},
      {{"qev", "list", "--wait", "1e999"}, 4.0},
      {{"qev", "list", "--wait", "1e300"}, 1e300},
      {{"qev", "list", "--device", "x", "--out", "y"}, 4.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Dispatched o(c.args);
    EXPECT_EQ(o.command, "list");
    EXPECT_EQ(o.wait, c.wait);
  }
}

TEST(Dispatch, ScanReadsItsOptionsWithDefaults) {
  struct {
    std::vector<std::string_view> args;
    std::string source;
    bool duplex;
    std::int64_t dpi;
    bool progress = false;
  } cases[] = {
      {{"qev", "scan", "--device", "d", "--out", "o"}, "feeder", false, 300},
      {{"qev", "scan", "--device", "d", "--out", "o", "--progress"}, "feeder", false, 300, true},
      {{"qev", "scan", "--progress", "--device", "d", "--out", "o", "--dpi", "75"},
       "feeder",
       false,
       75,
       true},
      {{"qev", "scan", "--device", "d", "--out", "o", "--source", "--progress"},
       "--progress",
       false,
       300,
       true},
      {{"qev", "scan", "--device", "d", "--out", "o", "--source", "flatbed", "--dpi", "600"},
       "flatbed",
       false,
       600},
      {{"qev", "scan", "--device", "d", "--out", "o", "--source", "--dpi", "600"},
       "--dpi",
       false,
       600},
      {{"qev", "scan", "--device", "d", "--out", "o", "--dpi", " 600"}, "feeder", false, 300},
      {{"qev", "scan", "--device", "d", "--out", "o", "--dpi", "600dpi"}, "feeder", false, 300},
      {{"qev", "scan", "--device", "d", "--out", "o", "--dpi", "6e2"}, "feeder", false, 300},
      {{"qev", "scan", "--device", "d", "--out", "o", "--dpi", "-5"}, "feeder", false, -5},
      {{"qev", "scan", "--device", "d", "--out", "o", "--dpi", "600", "--dpi", "150"},
       "feeder",
       false,
       600},
      {{"qev", "scan", "--device", "d", "--out", "o", "--duplex", "no"}, "feeder", true, 300},
      {{"qev", "scan", "--device", "d", "--out", "o", "--source", "--duplex"},
       "--duplex",
       true,
       300},
      {{"qev", "scan", "--device", "d", "--out", "o", "--source", ""}, "", false, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Dispatched o(c.args);
    ASSERT_EQ(o.command, "scan");
    EXPECT_EQ(o.scan.device, "d");
    EXPECT_EQ(o.scan.out, "o");
    EXPECT_EQ(o.scan.source, c.source);
    EXPECT_EQ(o.scan.duplex, c.duplex);
    EXPECT_EQ(o.scan.dpi, c.dpi);
    EXPECT_EQ(o.scan.progress, c.progress);
  }
}

TEST(Dispatch, ShowReadsOnlyItsDevice) {
  struct {
    std::vector<std::string_view> args;
    std::string device;
  } cases[] = {
      {{"qev", "show", "--device", "test:0"}, "test:0"},
      {{"qev", "show", "--device", ""}, ""},
      {{"qev", "show", "--out", "o", "--device", "--dpi", "--progress"}, "--dpi"},
      {{"qev", "show", "--device", "a", "--device", "b"}, "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Dispatched o(c.args);
    ASSERT_EQ(o.command, "show");
    EXPECT_EQ(o.device, c.device);
  }
}

TEST(Dispatch, ValueThatLooksLikeAnOptionIsAValue) {
  Dispatched o({"qev", "scan", "--device", "--out", "--out", "o"});
  ASSERT_EQ(o.command, "scan");
  EXPECT_EQ(o.scan.device, "--out");
  EXPECT_EQ(o.scan.out, "--out");
}

TEST(Dispatch, UsageErrorsEndWithOneErrorAndStatusOne) {
  struct {
    std::vector<std::string_view> args;
    std::string message;
  } cases[] = {
      {{}, "Use list, scan or simulate."},
      {{"qev"}, "Use list, scan or simulate."},
      {{"qev", "List"}, "Use list, scan or simulate."},
      {{"qev", "simulate", "--out"}, "Name a folder with --out."},
      {{"qev", "scan", "--out", "o"}, "Name a scanner and a folder."},
      {{"qev", "scan", "--device", "d", "--out"}, "Name a scanner and a folder."},
      {{"qev", "show"}, "Name a scanner with --device."},
      {{"qev", "show", "--device"}, "Name a scanner with --device."},
      {{"qev", "Show", "--device", "d"}, "Use list, scan or simulate."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Dispatched o(c.args);
    EXPECT_EQ(o.command, "");
    EXPECT_EQ(o.status, 1);
    ASSERT_EQ(o.events.size(), 1u);
    EXPECT_EQ(o.events[0],
              (nlohmann::json{{"event", "error"}, {"code", "usage"}, {"message", c.message}}));
  }
}

TEST(Dispatch, EmptyOutFolderIsAccepted) {
  Dispatched o({"qev", "simulate", "--out", ""});
  EXPECT_EQ(o.command, "simulate");
  EXPECT_EQ(o.out, "");
}

}  // namespace
}  // namespace qev
