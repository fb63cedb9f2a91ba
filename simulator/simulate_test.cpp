// The simulator's logic with a painter that can fail at a chosen page and a pause that only
// records itself, against a real temporary folder.

#include "simulator/simulate.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/names.h"
#include "platform/files.h"
#include "testing/capture.h"
#include "testing/files.h"
#include "testing/temp_dir.h"

namespace qev {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using qevtest::names;
using qevtest::readFile;

// Paints "jpeg <text>" for every page, or nothing from page `failAt` on.
class FakePainter : public Painter {
 public:
  std::optional<std::vector<unsigned char>> paint(const PageDrawing& page) override {
    ++painted;
    if (failAt > 0 && painted >= failAt) return std::nullopt;
    std::string bytes = "jpeg " + page.text;
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
  }
  std::int64_t failAt = 0;
  std::int64_t painted = 0;
};

class Simulate : public ::testing::Test {
 protected:
  Simulate() { stamp = "20250103_140509"; }

  // Runs the simulator to its end; every pause shows in the log as {"pause": milliseconds}.
  int run(const std::string& out, std::int64_t pages) {
    Pause pause = [this](std::chrono::nanoseconds length) {
      log.push_back(
          {{"pause", std::chrono::duration_cast<std::chrono::milliseconds>(length).count()}});
      if (onPause) onPause();
    };
    auto status = qevtest::Capture::endOf([&] { simulate(out, pages, painter, pause); });
    if (!status) ADD_FAILURE() << "simulate returned";
    return status.value_or(-1);
  }

  std::string page(const std::string& out, int n) const { return join(out, pageName(n)); }
  static json pageEvent(const std::string& file, int n) {
    return {{"event", "page"}, {"file", file}, {"n", n}};
  }
  static json pause() { return {{"pause", 300}}; }

  qevtest::TempDir temp;
  const std::string dir = temp.path();
  FakePainter painter;
  qevtest::Capture capture;
  std::vector<json>& log = capture.events;  // the events, with the pauses between them
  std::function<void()> onPause;
};

TEST_F(Simulate, WritesEveryPageIntoANewFolderAndPausesAfterEach) {
  const std::string out = dir + "/a/b";
  EXPECT_EQ(run(out, 3), 0);
  EXPECT_EQ(log, (std::vector<json>{pageEvent(page(out, 1), 1),
                                    pause(),
                                    pageEvent(page(out, 2), 2),
                                    pause(),
                                    pageEvent(page(out, 3), 3),
                                    pause(),
                                    {{"event", "done"}, {"pages", 3}}}));
  EXPECT_EQ(names(out), (std::vector<std::string>{"QEV_20250103_140509_0001.jpg",
                                                  "QEV_20250103_140509_0002.jpg",
                                                  "QEV_20250103_140509_0003.jpg"}));
  EXPECT_EQ(readFile(page(out, 2)), "jpeg Test page 2");
}

TEST(PageCount, IsHeldToOneTo200) {
  struct {
    std::int64_t pages;
    std::int64_t count;
  } cases[] = {
      {INT64_MIN, 1}, {-3, 1},    {0, 1},      {1, 1},           {7, 7},
      {200, 200},     {201, 200}, {1000, 200}, {INT64_MAX, 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pages);
    EXPECT_EQ(pageCount(c.pages), c.count);
  }
}

TEST_F(Simulate, AThousandPagesGive200) {
  EXPECT_EQ(run(dir, 1000), 0);
  ASSERT_EQ(log.size(), 401u);
  EXPECT_EQ(log[398], pageEvent(page(dir, 200), 200));
  EXPECT_EQ(log.back(), (json{{"event", "done"}, {"pages", 200}}));
  EXPECT_EQ(names(dir).size(), 200u);
}

TEST_F(Simulate, ADrawingFailureKeepsTheEarlierPagesAndEndsWithoutDone) {
  painter.failAt = 3;
  EXPECT_EQ(run(dir, 5), 1);
  EXPECT_EQ(log, (std::vector<json>{pageEvent(page(dir, 1), 1),
                                    pause(),
                                    pageEvent(page(dir, 2), 2),
                                    pause(),
                                    {{"event", "error"},
                                     {"code", "draw_failed"},
                                     {"message", "Could not draw a test page."}}}));
  EXPECT_EQ(names(dir), (std::vector<std::string>{"QEV_20250103_140509_0001.jpg",
                                                  "QEV_20250103_140509_0002.jpg"}));
}

TEST_F(Simulate, PageMoveNeverReplacesAnExistingFile) {
  std::ofstream(page(dir, 2)) << "another run's page";
  EXPECT_EQ(run(dir, 3), 0);
  EXPECT_EQ(log, (std::vector<json>{pageEvent(page(dir, 1), 1),
                                    pause(),
                                    pageEvent(page(dir, 2) + ".part", 2),
                                    pause(),
                                    pageEvent(page(dir, 3), 3),
                                    pause(),
                                    {{"event", "done"}, {"pages", 3}}}));
  EXPECT_EQ(readFile(page(dir, 2)), "another run's page");
  EXPECT_EQ(readFile(page(dir, 2) + ".part"), "jpeg Test page 2");
}

TEST_F(Simulate, PartialFileNeverReplacesAnotherRunsPartialFile) {
  // Two earlier runs of the same second: one moved its page 1, the other could not.
  std::ofstream(page(dir, 1)) << "first run's page";
  std::ofstream(page(dir, 1) + ".part") << "second run's page";
  EXPECT_EQ(run(dir, 1), 0);
  EXPECT_EQ(log[0], pageEvent(dir + "/QEV_20250103_140509_0001.jpg.2.part", 1));
  EXPECT_EQ(readFile(page(dir, 1)), "first run's page");
  EXPECT_EQ(readFile(page(dir, 1) + ".part"), "second run's page");
  EXPECT_EQ(readFile(dir + "/QEV_20250103_140509_0001.jpg.2.part"), "jpeg Test page 1");
}

TEST_F(Simulate, AFolderThatCannotBeWrittenEndsTheRunWithTheCause) {
  std::ofstream(dir + "/plain") << "x";
  EXPECT_EQ(run(dir + "/plain/sub", 3), 1);
  EXPECT_EQ(log,
            (std::vector<json>{{{"event", "error"},
                                {"code", "write_failed"},
                                {"message", "Could not write a test page: Not a directory"}}}));
  EXPECT_EQ(names(dir), (std::vector<std::string>{"plain"}));
}

TEST_F(Simulate, AWriteFailureLaterKeepsTheEarlierPagesAndLeavesNoPartialFile) {
  // After page 1 no file may grow past one byte any more: page 2's write fails half-way.
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  onPause = [] {
    rlimit small{.rlim_cur = 1, .rlim_max = RLIM_INFINITY};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  };
  int status = run(dir, 3);
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(log, (std::vector<json>{pageEvent(page(dir, 1), 1),
                                    pause(),
                                    {{"event", "error"},
                                     {"code", "write_failed"},
                                     {"message", "Could not write a test page: File too large"}}}));
  EXPECT_EQ(names(dir), (std::vector<std::string>{"QEV_20250103_140509_0001.jpg"}));
}

}  // namespace
}  // namespace qev
