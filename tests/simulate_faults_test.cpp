// What callers and the machine do to `simulate`, through the real binary: a reader that goes
// away, a full disk, a kill at any moment, two runs in one second, hostile paths.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;
using qevtest::TempDir;

// Every page file in `folder` is a whole JPEG, and no partial file is left.
void expectOnlyWholePages(const std::string& folder) {
  for (const auto& name : qevtest::names(folder)) {
    SCOPED_TRACE(name);
    EXPECT_EQ(name.find(".part"), std::string::npos);
  }
  for (const auto& name : qevtest::pagesIn(folder)) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(qevtest::wholeJpeg(folder + "/" + name));
  }
}

TEST(SimulateFaults, AReaderThatGoesAwayAfterTheFirstLineLosesNoPage) {
  TempDir dir;
  qevtest::Options options;
  options.readLines = 1;
  auto run = qevtest::qev({"simulate", "--out", dir / "out", "--pages", "3"}, options);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(qevtest::pagesIn(dir / "out").size(), 3u);
  expectOnlyWholePages(dir / "out");
}

TEST(SimulateFaults, AFullDiskEndsTheRunAndLeavesNoPartialPage) {
  if (!qevtest::mayMount()) GTEST_SKIP() << "needs root and mount namespaces";
  TempDir dir;
  // Room for a page or two of about 30 KB, not for five.
  auto run = qevtest::qev({"simulate", "--out", dir / "disk/out", "--pages", "5"},
                          qevtest::onSmallDisk(dir / "disk", dir / "kept", 64 * 1024));
  ASSERT_NE(run.status, 99) << "could not mount the small disk";
  ASSERT_NO_FATAL_FAILURE(qevtest::expectFailed(
      run, "disk_full", "Could not write a test page: No space left on device"));
  // Each page reported before the error is whole, where its event says.
  for (std::size_t i = 0; i + 1 < run.events.size(); ++i) {
    std::string file = run.events[i]["file"];
    std::string kept = dir / ("kept/out/" + std::filesystem::path(file).filename().string());
    EXPECT_TRUE(qevtest::wholeJpeg(kept)) << kept;
  }
  EXPECT_EQ(qevtest::pagesIn(dir / "kept/out").size(), run.events.size() - 1);
  expectOnlyWholePages(dir / "kept/out");
}

// Killed at random moments, a run never leaves a cut-off file under a page name, nor more
// than the one partial file of the page it was writing.
TEST(SimulateFaults, AKillAtAnyMomentLeavesNoCutOffPage) {
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 4; ++attempt) {
    TempDir dir;
    qevtest::Options options;
    options.killAfter = std::chrono::milliseconds(std::uniform_int_distribution(5, 900)(random));
    SCOPED_TRACE("killed after " + std::to_string(options.killAfter.count()) + " ms");
    auto run = qevtest::qev({"simulate", "--out", dir / "out", "--pages", "4"}, options);
    EXPECT_EQ(run.err, "");
    for (const auto& name : qevtest::pagesIn(dir / "out")) {
      EXPECT_TRUE(qevtest::wholeJpeg(dir / ("out/" + name))) << name;
    }
    int partial = 0;
    for (const auto& name : qevtest::names(dir / "out")) partial += name.ends_with(".part");
    EXPECT_LE(partial, 1);
  }
}

// Two runs into one folder in the same second share their page file names. Neither may
// replace the other's page, and every event names a file of its own that holds the page.
TEST(SimulateFaults, TwoRunsInOneSecondKeepEveryPage) {
  TempDir dir;
  std::vector<qevtest::Run> runs(2);
  {
    std::vector<std::thread> threads;
    for (auto& run : runs) {
      threads.emplace_back([&] {
        run = qevtest::qev({"simulate", "--out", dir / "out", "--pages", "3"});
      });
    }
    for (auto& t : threads) t.join();
  }
  std::set<std::string> named;
  for (const auto& run : runs) {
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.events.size(), 4u);
    for (int i = 0; i < 3; ++i) {
      std::string file = run.events[i]["file"];
      EXPECT_TRUE(named.insert(file).second) << "named twice: " << file;
      EXPECT_TRUE(qevtest::wholeJpeg(file)) << file;
    }
  }
  EXPECT_EQ(qevtest::names(dir / "out").size(), 6u);
}

// Folder names a caller may pass: each run either puts its page where the event says or
// ends with the one error that tells why.
TEST(SimulateFaults, HostilePathsLandWhereTheEventSaysOrFailWithTheCause) {
  TempDir dir;
  qevtest::plantHostileFolders(dir);
  std::string deep = dir.path();
  while (deep.size() < 5000) deep += "/" + std::string(200, 'd');
  qevtest::HostilePath cases[] = {
      {"spaces", dir / "with  some spaces ", "", ""},
      {"quotes", dir / "it's \"quoted\"", "", ""},
      {"backslashes and slashes", dir / "back\\slash//twice/", "", dir / "back\\slash//twice"},
      {"newline and tab", dir / "new\nline\tand tab", "", ""},
      {"leading dash", "-leading-dash", "", ""},
      {"leading dashes", "--out", "", ""},
      {"not UTF-8", dir / "bad-\xff\xfe-bytes", "", dir / "bad-\uFFFD\uFFFD-bytes"},
      {"symbolic link to a folder", dir / "link", "", ""},
      {"a name too long", dir / std::string(300, 'n'),
       "Could not write a test page: File name too long", ""},
      {"a path too long", deep, "Could not write a test page: File name too long", ""},
      {"a plain file", dir / "plain", "Could not write a test page: Not a directory", ""},
      {"below a plain file", dir / "plain/below", "Could not write a test page: Not a directory",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::Options options;
    options.cwd = dir.path();
    auto run = qevtest::qev({"simulate", "--pages", "1", "--out", c.out}, options);
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.events.empty());
    if (c.message.empty()) {
      EXPECT_EQ(run.status, 0);
      ASSERT_EQ(run.events.size(), 2u);
      std::string file = run.events[0]["file"];
      // The folder as given (made valid UTF-8), one '/', then the page name.
      std::string shown = c.shown.empty() ? c.out : c.shown;
      EXPECT_EQ(file.substr(0, file.rfind('/')), shown);
      EXPECT_TRUE(file.substr(file.rfind('/') + 1).starts_with("QEV_"));
      EXPECT_TRUE(qevtest::wholeJpeg(file.starts_with("/") ? file : dir / file)) << file;
    } else {
      EXPECT_EQ(run.status, 1);
      ASSERT_EQ(run.events.size(), 1u);
      EXPECT_EQ(run.events[0]["message"], c.message);
    }
  }
  qevtest::expectHostileFoldersKept(dir);
}

}  // namespace
