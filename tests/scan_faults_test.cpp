// What callers and the machine do to `scan`, through the real binary against real SANE: a
// stop signal, a reader that goes away, a full disk, a kill at any moment, two runs in one
// second, hostile paths and output folders that cannot take pages. What scanners do wrong is
// in scanner_faults_test.cpp.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "testing/files.h"
#include "testing/run.h"
#include "testing/sane_setup.h"
#include "testing/temp_dir.h"
#include "tests/faults.h"

namespace {

using namespace std::chrono_literals;
using qevtest::SaneConfig;
using qevtest::TempDir;
namespace fs = std::filesystem;

// Every page that an event names is a whole JPEG, and nothing incomplete is left, in the
// folder or in its staging folder.
void expectEveryPageWhole(const qevtest::Run& run, const std::string& out) {
  for (const auto& event : run.events) {
    if (event["event"] != "page") continue;
    std::string file = event["file"];
    EXPECT_TRUE(qevtest::wholeJpeg(file)) << file;
  }
  for (const auto& name : qevtest::pagesIn(out)) {
    EXPECT_TRUE(qevtest::wholeJpeg(out + "/" + name)) << name;
  }
  EXPECT_EQ(qevtest::names(out + "/.qev-incoming"), std::vector<std::string>{});
}

// The test scanner's feeder, slowed to about a second a page, so that a run can be
// interrupted in the middle of its batch.
std::map<std::string, std::string> slowPages() {
  return {{"read-delay", "true"}, {"read-delay-duration", "50000"}};
}

TEST(ScanFaults, AStopSignalCancelsTheScanAtOnceAndKeepsItsPages) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    SaneConfig config(slowPages());
    TempDir dir;
    auto options = config.options(60s);
    // Stopped in the middle of the second page: the first has arrived and the second's first
    // band is written.
    options.signal = signal;
    options.signalWhen = [&](const qevtest::Run& sofar) {
      return qevtest::pagesSoFar(sofar) == 1 && qevtest::pageInFlight(dir.path());
    };
    auto run =
        qevtest::qev({"scan", "--device", "test:0", "--out", dir.path(), "--dpi", "100"}, options);
    ASSERT_GT(run.signalled.count(), 0) << run.out;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    ASSERT_GE(run.events.size(), 3u) << run.out;
    EXPECT_EQ(run.events.back(),
              (nlohmann::json{{"event", "error"},
                              {"code", "cancelled"},
                              {"message", "The scan stopped: Operation was canceled"}}));
    // The batch had eight pages and a part, some eight seconds, still to go.
    EXPECT_LT(run.times.back() - run.signalled, 3s);
    EXPECT_EQ(qevtest::pagesIn(dir.path()).size(), run.events.size() - 2);
    expectEveryPageWhole(run, dir.path());
  }
}

TEST(ScanFaults, AReaderThatGoesAwayAfterTheFirstLineLosesNoPage) {
  SaneConfig config;
  TempDir dir;
  auto options = config.options();
  options.readLines = 1;
  auto run =
      qevtest::qev({"scan", "--device", "test:0", "--out", dir.path(), "--dpi", "50"}, options);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(qevtest::pagesIn(dir.path()).size(), 10u);
  expectEveryPageWhole(run, dir.path());
}

TEST(ScanFaults, AFullDiskStopsTheScanAndLeavesNoIncompletePage) {
  if (!qevtest::mayMount()) GTEST_SKIP() << "needs root and mount namespaces";
  SaneConfig config;
  TempDir dir;
  // Pages of about 320 KB: room for two or three.
  auto options = qevtest::onSmallDisk(dir / "disk", dir / "kept", 1024 * 1024);
  options.env = config.env();
  auto run = qevtest::qev({"scan", "--device", "test:0", "--out", dir / "disk/out", "--dpi", "100"},
                          options);
  ASSERT_NE(run.status, 99) << "could not mount the small disk";
  ASSERT_NO_FATAL_FAILURE(
      qevtest::expectFailed(run, "disk_full", "The scan stopped: No space left on device"));
  std::string kept = dir / "kept/out";
  EXPECT_EQ(qevtest::pagesIn(kept).size(), run.events.size() - 2);
  for (const auto& name : qevtest::pagesIn(kept)) {
    EXPECT_TRUE(qevtest::wholeJpeg(kept + "/" + name)) << name;
  }
  EXPECT_EQ(qevtest::names(kept + "/.qev-incoming"), std::vector<std::string>{});
}

// Killed at random moments of a feeder batch, a run never leaves a cut-off file under a page
// name, and its staging folder holds at most one page cut off while it was written. Beside it
// may wait the next page's file, asked for while that page's last bands were written, and
// still empty: the scanner is not started for it before the page before is whole.
// (scripts/kill-batch does this many times.)
TEST(ScanFaults, AKillAtAnyMomentOfABatchLeavesNoCutOffPage) {
  SaneConfig config;
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 3; ++attempt) {
    TempDir dir;
    auto options = config.options();
    options.killAfter = std::chrono::milliseconds(std::uniform_int_distribution(20, 1000)(random));
    SCOPED_TRACE("killed after " + std::to_string(options.killAfter.count()) + " ms");
    auto run = qevtest::qev({"scan", "--device", "test:0", "--out", dir.path()}, options);
    EXPECT_EQ(run.err, "");
    for (const auto& name : qevtest::pagesIn(dir.path())) {
      EXPECT_TRUE(qevtest::wholeJpeg(dir / name)) << name;
    }
    EXPECT_LE(qevtest::partlyWrittenIn(dir / ".qev-incoming"), 1);
    EXPECT_LE(qevtest::incompleteIn(dir / ".qev-incoming"), 2);
  }
}

// Two scans into one folder in the same second share their page file names. Neither may
// replace the other's page, and every event names a file of its own that holds the page.
TEST(ScanFaults, TwoRunsInOneSecondKeepEveryPage) {
  SaneConfig config;
  TempDir dir;
  std::vector<qevtest::Run> runs(2);
  {
    std::vector<std::thread> threads;
    for (auto& run : runs) {
      threads.emplace_back([&] {
        run = qevtest::qev({"scan", "--device", "test:0", "--out", dir.path(), "--dpi", "50"},
                           config.options());
      });
    }
    for (auto& t : threads) t.join();
  }
  std::set<std::string> named;
  for (const auto& run : runs) {
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.events.size(), 12u) << run.out;
    for (std::size_t i = 1; i <= 10; ++i) {
      std::string file = run.events[i]["file"];
      EXPECT_TRUE(named.insert(file).second) << "named twice: " << file;
      EXPECT_TRUE(qevtest::wholeJpeg(file)) << file;
    }
  }
  EXPECT_EQ(named.size(), 20u);
}

// Folder names a caller may pass: each scan either puts its page where the event says or
// ends with the one error that tells why.
TEST(ScanFaults, HostilePathsLandWhereTheEventSaysOrFailWithTheCause) {
  SaneConfig config;
  TempDir dir;
  qevtest::plantHostileFolders(dir);
  qevtest::HostilePath cases[] = {
      {"spaces and quotes", dir / " it's \"quoted\" ", "", ""},
      {"newline", dir / "new\nline", "", ""},
      {"leading dash", "-leading-dash", "", ""},
      {"not UTF-8", dir / "bad-\xff-bytes", "", dir / "bad-\uFFFD-bytes"},
      {"symbolic link to a folder", dir / "link", "", ""},
      {"a name too long", dir / std::string(300, 'n'),
       "The output folder cannot be used: File name too long", ""},
      {"a plain file", dir / "plain", "The output folder cannot be used: Not a directory", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = config.options();
    options.cwd = dir.path();
    auto run = qevtest::qev(
        {"scan", "--device", "test:0", "--source", "flatbed", "--dpi", "50", "--out", c.out},
        options);
    EXPECT_EQ(run.err, "");
    ASSERT_GE(run.events.size(), 1u) << run.out;
    if (c.message.empty()) {
      EXPECT_EQ(run.status, 0);
      ASSERT_EQ(run.events.size(), 3u);
      std::string file = run.events[1]["file"];
      std::string shown = c.shown.empty() ? c.out : c.shown;
      EXPECT_EQ(file.substr(0, file.rfind('/')), shown);
      EXPECT_TRUE(qevtest::wholeJpeg(file.starts_with("/") ? file : dir / file)) << file;
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.events.back()["message"], c.message);
    }
  }
  qevtest::expectHostileFoldersKept(dir);
}

// Everything in `dir` but its folder `out`: each file's path and size.
std::vector<std::string> outside(const TempDir& dir) {
  std::vector<std::string> found;
  for (auto it = fs::recursive_directory_iterator(dir.path()); it != fs::end(it); ++it) {
    auto relative = fs::relative(it->path(), dir.path()).string();
    if (relative == "out") {
      it.disable_recursion_pending();
      continue;
    }
    std::error_code none;
    found.push_back(relative + " " +
                    std::to_string(it->is_regular_file() ? it->file_size(none) : 0));
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Fills the file system `folder` is on: with empty files until no inode is left, or with one
// file until no byte is left.
void fill(const std::string& folder, bool inodes) {
  if (inodes) {
    for (int n = 0; std::ofstream(folder + "/fill-" + std::to_string(n)).is_open(); ++n) {
    }
    return;
  }
  std::ofstream file(folder + "/fill");
  const std::string block(4096, 'x');
  while (file.write(block.data(), static_cast<std::streamsize>(block.size())) && file.flush()) {
  }
}

// An output folder that cannot take pages, whatever the reason, ends the run with one error
// that names it, before the scanner is opened (the fault backend's record shows no `open`)
// and before anything is written anywhere but in the output folder.
TEST(ScanFaults, AnUnusableOutputFolderIsOneErrorAndNoScannerOpens) {
  const bool root = ::geteuid() == 0;
  using Mount = std::optional<qevtest::Tmpfs>;
  struct Case {
    const char* name;
    // Lays out `dir`, whose folder `out` is the output folder, and says how qev is run;
    // false when that cannot be done here.
    std::function<bool(const TempDir& dir, Mount& mount, qevtest::Options& options)> setup;
    std::string cause;
    std::string code = "folder_unusable";
  } cases[] = {
      {"a symbolic link planted as the staging folder",
       [](const TempDir& d, Mount&, qevtest::Options&) {
         fs::create_directories(d / "out");
         fs::create_directory(d / "elsewhere");
         fs::create_directory_symlink(d / "elsewhere", d / "out/.qev-incoming");
         return true;
       },
       ".qev-incoming is a symbolic link"},
      {"a staging folder of another user",
       [root](const TempDir& d, Mount&, qevtest::Options&) {
         fs::create_directories(d / "out/.qev-incoming");
         fs::permissions(d / "out/.qev-incoming", fs::perms(0700));
         return root && ::chown((d / "out/.qev-incoming").c_str(), 65534, 65534) == 0;
       },
       ".qev-incoming belongs to another user"},
      {"a folder the user may not write",
       [root](const TempDir& d, Mount&, qevtest::Options& options) {
         fs::create_directory(d / "out");
         options.through = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
         return root;
       },
       "Permission denied"},
      {"a read-only file system",
       [](const TempDir& d, Mount& mount, qevtest::Options&) {
         return mount.emplace(d / "out", "size=1m", true).mounted();
       },
       "Read-only file system"},
      {"no inodes left, the staging folder made before",
       [](const TempDir& d, Mount& mount, qevtest::Options&) {
         if (!mount.emplace(d / "out", "size=1m,nr_inodes=16").mounted()) return false;
         fs::create_directory(d / "out/.qev-incoming");
         fs::permissions(d / "out/.qev-incoming", fs::perms(0700));
         fill(d / "out", true);
         return true;
       },
       "No space left on device", "disk_full"},
      {"no space left, the staging folder made before",
       [](const TempDir& d, Mount& mount, qevtest::Options&) {
         if (!mount.emplace(d / "out", "size=64k").mounted()) return false;
         fs::create_directory(d / "out/.qev-incoming");
         fs::permissions(d / "out/.qev-incoming", fs::perms(0700));
         fill(d / "out", false);
         return true;
       },
       "No space left on device", "disk_full"},
  };
  std::vector<std::string> skipped;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, logs;
    qevtest::FaultConfig config(
        "[device]\nname = feeder\ntype = sheetfed scanner\nsize = 40 30\nrecord = " +
        logs / "record" + "\n");
    // Any user may reach the folders and keep the record: qev may run as another.
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(config.path(), fs::perms(0755));
    fs::permissions(logs.path(), fs::perms(0777));
    Mount mount;  // after `dir`: unmounted before it is removed
    auto options = config.options();
    if (!c.setup(dir, mount, options)) {
      skipped.push_back(c.name);
      continue;
    }
    const auto before = outside(dir);
    auto run = qevtest::qev({"scan", "--device", "fault:feeder", "--out", dir / "out"}, options);
    ASSERT_NO_FATAL_FAILURE(
        qevtest::expectFailed(run, c.code, "The output folder cannot be used: " + c.cause));
    EXPECT_EQ(run.events.size(), 1u) << run.out;  // no `opened`
    std::vector<std::string> record;
    std::istringstream lines(qevtest::readFile(logs / "record"));
    for (std::string line; std::getline(lines, line);) record.push_back(line);
    EXPECT_NE(std::find(record.begin(), record.end(), "devices"), record.end());
    EXPECT_EQ(std::find(record.begin(), record.end(), "open"), record.end());
    EXPECT_EQ(outside(dir), before);
    EXPECT_EQ(qevtest::pagesIn(dir / "out"), std::vector<std::string>{});
  }
  if (!skipped.empty()) GTEST_SKIP() << "needs root and mounts: " << skipped.size() << " rows";
}

}  // namespace
