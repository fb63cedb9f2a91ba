// The file operations against a real temporary folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/files.h"
#include "testing/files.h"
#include "testing/temp_dir.h"

namespace qev {
namespace {

namespace fs = std::filesystem;
using qevtest::readFile;

class Files : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return dir / name; }

  static void put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  static std::span<const unsigned char> bytes(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
  }

  qevtest::TempDir dir;
};

TEST_F(Files, MakeFolderCreatesMissingParentsAndAcceptsAnExistingFolder) {
  for (const std::string& path : {at("a/b/c"), at("a/b/c"), at("a/b/c/"), at("x//y")}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(makeFolder(path).ok());
    EXPECT_TRUE(fs::is_directory(path));
  }
}

TEST_F(Files, MakeFolderFailsThroughAPlainFile) {
  put(at("plain"), "x");
  for (const std::string& path : {at("plain"), at("plain/sub")}) {
    SCOPED_TRACE(path);
    auto made = makeFolder(path);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().description, "Not a directory");
  }
}

TEST_F(Files, WriteFileCreatesAndReplaces) {
  EXPECT_TRUE(writeFile(at("f"), bytes("first, longer")).ok());
  EXPECT_EQ(readFile(at("f")), "first, longer");
  EXPECT_TRUE(writeFile(at("f"), bytes("second")).ok());
  EXPECT_EQ(readFile(at("f")), "second");
}

TEST_F(Files, WriteFileFailureLeavesNoFile) {
  put(at("plain"), "x");
  ASSERT_EQ(symlink("/dev/full", at("full").c_str()), 0);
  struct {
    std::string path;
    std::string description;
  } cases[] = {
      {at("missing/f"), "No such file or directory"},
      {at("plain/f"), "Not a directory"},
      // Opens, then every write fails as on a full disk.
      {at("full"), "No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto written = writeFile(c.path, bytes("page"));
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().description, c.description);
    EXPECT_FALSE(fs::exists(fs::symlink_status(c.path)));
  }
  EXPECT_EQ(readFile(at("plain")), "x");
}

TEST_F(Files, WriteNewNeverReplacesAnotherRunsPartialFile) {
  put(at("p.jpg.part"), "another run's page");
  put(at("p.jpg.2.part"), "a third run's page");
  auto written = writeNew(at("p.jpg.part"), bytes("this run's page"));
  ASSERT_TRUE(written.outcome.ok());
  EXPECT_EQ(written.path, at("p.jpg.3.part"));
  EXPECT_EQ(readFile(at("p.jpg.part")), "another run's page");
  EXPECT_EQ(readFile(at("p.jpg.2.part")), "a third run's page");
  EXPECT_EQ(readFile(written.path), "this run's page");

  auto fresh = writeNew(at("q.jpg.part"), bytes("page"));
  ASSERT_TRUE(fresh.outcome.ok());
  EXPECT_EQ(fresh.path, at("q.jpg.part"));

  auto failed = writeNew(at("missing/q.jpg.part"), bytes("page"));
  ASSERT_FALSE(failed.outcome.ok());
  EXPECT_EQ(failed.outcome.error().description, "No such file or directory");
}

TEST_F(Files, MoveRenames) {
  put(at("from"), "page");
  EXPECT_TRUE(move(at("from"), at("to")).ok());
  EXPECT_FALSE(fs::exists(at("from")));
  EXPECT_EQ(readFile(at("to")), "page");
}

TEST_F(Files, MoveNeverReplacesAnExistingFileAndKeepsBoth) {
  put(at("new.part"), "new page");
  put(at("old.jpg"), "old page");
  auto moved = move(at("new.part"), at("old.jpg"));
  ASSERT_FALSE(moved.ok());
  EXPECT_EQ(moved.error().description, "File exists");
  EXPECT_EQ(readFile(at("old.jpg")), "old page");
  EXPECT_EQ(readFile(at("new.part")), "new page");
}

TEST_F(Files, MoveOfAMissingFileFails) {
  auto moved = move(at("missing"), at("to"));
  ASSERT_FALSE(moved.ok());
  EXPECT_EQ(moved.error().description, "No such file or directory");
  EXPECT_FALSE(fs::exists(at("to")));
}

// Every page file of qev is one of these: a name that is taken is skipped, never shared, and
// a file that is not kept leaves nothing behind, also when it is handed on.
TEST_F(Files, APageFileTakesAFreeNameAndIsRemovedUnlessKept) {
  put(at("p-1.jpg"), "theirs");
  auto name = [&](int attempt) { return at("p-" + std::to_string(attempt) + ".jpg"); };
  Outcome outcome;
  {
    auto dropped = PageFile::create(name, outcome);
    ASSERT_TRUE(dropped) << outcome.error().description;
    EXPECT_EQ(dropped->path(), at("p-2.jpg"));
    EXPECT_TRUE(dropped->write(bytes("half a page")).ok());
    PageFile moved = std::move(*dropped);  // handed on: one owner removes it
  }
  EXPECT_FALSE(fs::exists(at("p-2.jpg")));
  {
    auto kept = PageFile::create(name, outcome);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->write(bytes("a page")).ok());
    EXPECT_TRUE(kept->close().ok());
    kept->keep();
  }
  EXPECT_EQ(readFile(at("p-2.jpg")), "a page");
  EXPECT_EQ(readFile(at("p-1.jpg")), "theirs");
  // No free name among those allowed, and a folder that is not there.
  EXPECT_FALSE(PageFile::create(name, outcome, 2));
  EXPECT_EQ(outcome.error().description, "File exists");
  EXPECT_FALSE(PageFile::create([&](int) { return at("missing/p.jpg"); }, outcome));
  EXPECT_EQ(outcome.error().description, "No such file or directory");
}

}  // namespace
}  // namespace qev
