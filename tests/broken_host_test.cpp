// A driver host that breaks its rules, played by a stand-in (tests/standin/host.cpp) beside a
// copy of qev: qev takes from it only what it asked for, never moves or removes a file it did
// not make, removes every page file that was not reported whole, and ends the run with one
// line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "testing/files.h"
#include "testing/jpeg.h"
#include "testing/run.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

namespace fs = std::filesystem;
using qevtest::TempDir;

// "The scan stopped: " for a host that was stopped for `why`.
std::string broken(const std::string& why) {
  return "The scan stopped: The scanner's driver stopped unexpectedly (" + why + ").";
}

TEST(BrokenHost, QevTakesOnlyWhatItAskedFor) {
  struct Case {
    const char* fault;
    int status;
    const char* message;  // of the last line: an error, or none for `done`
    int pages;
  } cases[] = {
      {"", 0, nullptr, 1},
      {"garbage-page", 1, "an incomplete page", 0},
      {"empty-page", 1, "an incomplete page", 0},
      {"scanned-twice", 1, "a message out of turn", 1},
      {"opened-twice", 1, "a message out of turn", 0},
      {"completed-unasked", 1, "a message out of turn", 0},
      {"ready-twice", 1, "a message out of turn", 0},
      {"descriptor", 1, "a descriptor it was not asked for", 0},
      {"truncated", 1, "a malformed message", 0},
      {"foreign-path", 1, "a malformed message", 0},
      {"flood", 1, "too many messages", 0},
      // Pages are reported in order: the first file, never written, is the one reported.
      {"needfile-twice", 1, "an incomplete page", 0},
      // A third file while two are unreported.
      {"needfile-thrice", 1, "a message out of turn", 0},
      {"completed-while-pending", 0, nullptr, 0},
      {"lost-while-pending", 1, "", 0},
  };
  TempDir bin;
  fs::copy_file(QEV_BINARY, bin / "qev");
  fs::create_symlink(QEV_STANDIN_HOST, bin / "qev-host");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    TempDir dir;
    std::string out = dir / "out";
    // A file the host would like qev to take as a page.
    std::string scratch = dir / "scratch.jpg";
    std::ofstream(scratch) << "mine";

    qevtest::Options options;
    options.binary = bin / "qev";
    options.timeout = std::chrono::seconds(30);
    options.env = {{"QEV_STANDIN", c.fault}, {"QEV_STANDIN_PATH", scratch}};
    auto run = qevtest::qev({"scan", "--device", "stand:in", "--out", out, "--source", "flatbed"},
                            options);

    EXPECT_EQ(run.status, c.status) << run.out;
    ASSERT_FALSE(run.events.empty());
    const auto& last = run.events.back();
    if (c.message == nullptr) {
      EXPECT_EQ(last["event"], "done") << run.out;
    } else if (*c.message == '\0') {
      EXPECT_EQ(last["code"], "disconnected") << run.out;
      EXPECT_EQ(last["message"], "The scanner was disconnected.") << run.out;
    } else {
      EXPECT_EQ(last["code"], "driver_stopped") << run.out;
      EXPECT_EQ(last["message"], broken(c.message)) << run.out;
    }
    std::vector<std::string> reported;
    for (const auto& e : run.events) {
      if (e["event"] != "page") continue;
      std::string file = e["file"];
      EXPECT_TRUE(qevtest::wholeJpeg(file)) << file;
      reported.push_back(fs::path(file).filename());
    }
    EXPECT_EQ(static_cast<int>(reported.size()), c.pages);
    // Nothing but the pages reported, and nothing incomplete in the staging folder.
    auto left = qevtest::names(out);
    std::erase(left, ".qev-incoming");
    EXPECT_EQ(left, reported);
    EXPECT_EQ(qevtest::names(out + "/.qev-incoming"), std::vector<std::string>{});
    EXPECT_EQ(qevtest::readFile(scratch), "mine");
  }
}

// The host inherited every descriptor its caller left open (a caller's file at fd 7 was
// open in qev-host, for any backend to write to).
TEST(BrokenHost, TheHostStartsWithOnlyItsOwnDescriptors) {
  TempDir bin, dir;
  fs::copy_file(QEV_BINARY, bin / "qev");
  fs::create_symlink(QEV_STANDIN_HOST, bin / "qev-host");
  // Left open, without close-on-exec, as a careless caller does: qev inherits it.
  int fd = ::open((dir / "callers-file").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  qevtest::Options options;
  options.binary = bin / "qev";
  options.env = {{"QEV_STANDIN", "descriptors"}};
  auto run = qevtest::qev(
      {"scan", "--device", "stand:in", "--out", dir / "out", "--source", "flatbed"}, options);
  ::close(fd);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.events.back()["event"], "done") << run.out;
}

// A scan's progress reports are taken only when the scan asked for them, for a page whose file
// the host was given and has not reported whole; any other is a message out of turn.
TEST(BrokenHost, ProgressIsTakenOnlyForThePageBeingRead) {
  struct Case {
    const char* fault;
    bool asked;                       // --progress
    const char* message;              // of the error; none for `done`
    std::vector<std::int64_t> shown;  // the percents of page 1 that qev shows
  } cases[] = {
      {"progress", true, nullptr, {0, 50, 100}},
      {"progress", false, nullptr, {}},
      {"progress-unasked", false, "a message out of turn", {}},
      {"progress-before-file", true, "a message out of turn", {}},
      {"progress-ahead", true, "a message out of turn", {0, 50, 100}},
      {"progress-after-page", true, "a message out of turn", {0, 50, 100}},
  };
  TempDir bin;
  fs::copy_file(QEV_BINARY, bin / "qev");
  fs::create_symlink(QEV_STANDIN_HOST, bin / "qev-host");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + (c.asked ? " asked" : ""));
    TempDir dir;
    qevtest::Options options;
    options.binary = bin / "qev";
    options.timeout = std::chrono::seconds(30);
    options.env = {{"QEV_STANDIN", c.fault}};
    std::vector<std::string> args = {"scan",      "--device", "stand:in", "--out",
                                     dir / "out", "--source", "flatbed"};
    if (c.asked) args.push_back("--progress");
    auto run = qevtest::qev(args, options);
    ASSERT_FALSE(run.events.empty());
    if (c.message == nullptr) {
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(run.events.back()["event"], "done") << run.out;
    } else {
      EXPECT_EQ(run.status, 1) << run.out;
      EXPECT_EQ(run.events.back()["message"], broken(c.message)) << run.out;
    }
    std::vector<std::int64_t> shown;
    for (const auto& e : run.events) {
      if (e["event"] != "progress") continue;
      EXPECT_EQ(e["n"], 1);
      shown.push_back(e.value("percent", std::int64_t{-1}));
    }
    EXPECT_EQ(shown, c.shown) << run.out;
  }
}

// A host that dies while `show` opens the scanner or selects a unit ends the run with the
// driver's error, said of the step it died in.
TEST(BrokenHost, AHostThatDiesDuringShowEndsItWithTheDriversError) {
  struct Case {
    const char* fault;
    const char* message;
  } cases[] = {
      {"dies-opening",
       "The scanner did not open: The scanner's driver stopped unexpectedly (Killed)."},
      {"dies-selecting",
       "The scanner did not take the settings: The scanner's driver stopped unexpectedly "
       "(Aborted)."},
  };
  TempDir bin;
  fs::copy_file(QEV_BINARY, bin / "qev");
  fs::create_symlink(QEV_STANDIN_HOST, bin / "qev-host");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    qevtest::Options options;
    options.binary = bin / "qev";
    options.timeout = std::chrono::seconds(30);
    options.env = {{"QEV_STANDIN", c.fault}};
    auto run = qevtest::qev({"show", "--device", "stand:in"}, options);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.events.size(), 1u) << run.out;
    EXPECT_EQ(
        run.events[0],
        (nlohmann::json{{"event", "error"}, {"code", "driver_stopped"}, {"message", c.message}}));
  }
}

}  // namespace
