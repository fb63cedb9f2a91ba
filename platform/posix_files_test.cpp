// The file operations against a real temporary folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "testing/files.h"
#include "testing/temp_dir.h"

namespace qev {
namespace {

namespace fs = std::filesystem;
using qevtest::names;
using qevtest::readFile;

constexpr uid_t nobody = 65534;

class Files : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return dir / name; }

  static void put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  static std::span<const unsigned char> bytes(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
  }

  Folder open(const std::string& path) const {
    Outcome opened;
    auto folder = Folder::open(path, opened);
    EXPECT_TRUE(folder) << opened.error().description;
    return std::move(folder.value());
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

// Moves by paths and by names in open folders follow one rule.
using Mover = std::function<Outcome(const std::string& from, const std::string& to)>;

std::vector<std::pair<const char*, Mover>> movers(const std::string& dir) {
  auto byPath = [dir](const std::string& from, const std::string& to) {
    return move(dir + "/" + from, dir + "/" + to);
  };
  auto inFolders = [dir](const std::string& from, const std::string& to) {
    Outcome opened;
    auto folder = Folder::open(dir, opened).value();
    return move(folder, from, folder, to);
  };
  return {{"paths", byPath}, {"folders", inFolders}};
}

TEST_F(Files, MoveRenames) {
  for (const auto& [how, mover] : movers(dir.path())) {
    SCOPED_TRACE(how);
    put(at("from"), "page");
    EXPECT_TRUE(mover("from", "to").ok());
    EXPECT_FALSE(fs::exists(at("from")));
    EXPECT_EQ(readFile(at("to")), "page");
    fs::remove(at("to"));
  }
}

TEST_F(Files, MoveNeverReplacesAnExistingFileAndKeepsBoth) {
  for (const auto& [how, mover] : movers(dir.path())) {
    SCOPED_TRACE(how);
    put(at("new.part"), "new page");
    put(at("old.jpg"), "old page");
    auto moved = mover("new.part", "old.jpg");
    ASSERT_FALSE(moved.ok());
    EXPECT_EQ(moved.error().description, "File exists");
    EXPECT_EQ(readFile(at("old.jpg")), "old page");
    EXPECT_EQ(readFile(at("new.part")), "new page");
  }
}

TEST_F(Files, MoveOfAMissingFileFails) {
  for (const auto& [how, mover] : movers(dir.path())) {
    SCOPED_TRACE(how);
    auto moved = mover("missing", "to");
    ASSERT_FALSE(moved.ok());
    EXPECT_EQ(moved.error().description, "No such file or directory");
    EXPECT_FALSE(fs::exists(at("to")));
  }
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

// qev's staging folder must be its own: made 0700 where missing, else taken only when it is
// a real folder of this user that no one else may write.
TEST_F(Files, AnOwnFolderIsMadePrivateOrTakenOnlyWhenItIsTheUsers) {
  const bool root = ::geteuid() == 0;
  struct {
    const char* name;
    std::function<void(const std::string& path)> setup;
    std::string refused;  // the reason; empty: taken
    bool needsRoot = false;
  } cases[] = {
      {"missing: made", [](const std::string&) {}, ""},
      {"a folder of the user", [](const std::string& p) { fs::create_directory(p); }, ""},
      {"a folder only the user may write, others read",
       [](const std::string& p) {
         fs::create_directory(p);
         fs::permissions(p, fs::perms(0755));
       },
       ""},
      {"a symbolic link to a folder",
       [this](const std::string& p) { fs::create_directory_symlink(at("elsewhere"), p); },
       "incoming is a symbolic link"},
      {"a symbolic link to nowhere",
       [this](const std::string& p) { fs::create_directory_symlink(at("nowhere"), p); },
       "incoming is a symbolic link"},
      {"a plain file", [](const std::string& p) { put(p, "x"); }, "incoming is not a folder"},
      {"another user's folder",
       [](const std::string& p) {
         fs::create_directory(p);
         fs::permissions(p, fs::perms(0700));
         ASSERT_EQ(::chown(p.c_str(), nobody, nobody), 0);
       },
       "incoming belongs to another user", true},
      {"a folder its group may write",
       [](const std::string& p) {
         fs::create_directory(p);
         fs::permissions(p, fs::perms(0770));
       },
       "incoming can be written by other users"},
      {"a folder anyone may write, sticky",
       [](const std::string& p) {
         fs::create_directory(p);
         fs::permissions(p, fs::perms(01777));
       },
       "incoming can be written by other users"},
  };
  fs::create_directory(at("elsewhere"));
  Folder parent = open(dir.path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && !root) continue;  // only root can give a folder away
    const std::string path = at("incoming");
    c.setup(path);
    Outcome outcome;
    auto own = Folder::own(parent, "incoming", outcome);
    if (c.refused.empty()) {
      ASSERT_TRUE(own) << outcome.error().description;
      EXPECT_EQ(own->path(), path);
      struct stat info;
      ASSERT_EQ(::fstat(own->fd(), &info), 0);
      EXPECT_TRUE(S_ISDIR(info.st_mode));
      EXPECT_EQ(info.st_uid, ::geteuid());
    } else {
      ASSERT_FALSE(own);
      EXPECT_EQ(outcome.error().description, c.refused);
    }
    EXPECT_EQ(names(at("elsewhere")), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(at("nowhere")));
    fs::remove_all(path);
  }
  // A folder made here is private.
  Outcome outcome;
  ASSERT_TRUE(Folder::own(parent, "made", outcome));
  EXPECT_EQ(fs::status(at("made")).permissions(), fs::perms(0700));
}

// A name in the staging folder that someone planted as a symbolic link is skipped, not
// followed: the file it points to is neither made nor written.
TEST_F(Files, APageFileNeverFollowsALinkPlantedUnderItsName) {
  put(at("theirs"), "theirs");
  fs::create_symlink(at("theirs"), at("p-1.jpg"));
  fs::create_symlink(at("nowhere"), at("p-2.jpg"));
  Folder folder = open(dir.path());
  Outcome outcome;
  auto file = PageFile::create(
      folder, [](int attempt) { return "p-" + std::to_string(attempt) + ".jpg"; }, outcome);
  ASSERT_TRUE(file) << outcome.error().description;
  EXPECT_EQ(file->path(), at("p-3.jpg"));
  EXPECT_TRUE(file->write(bytes("page")).ok());
  EXPECT_EQ(readFile(at("theirs")), "theirs");
  EXPECT_FALSE(fs::exists(at("nowhere")));
}

// An open folder goes by its descriptor: a path renamed and replaced by a symbolic link after
// it was opened redirects no page, and a page file not kept is removed from where it is.
TEST_F(Files, AFolderSwappedAfterItWasOpenedRedirectsNothing) {
  fs::create_directories(at("out/incoming"));
  fs::create_directory(at("elsewhere"));
  Folder out = open(at("out"));
  Folder incoming = open(at("out/incoming"));
  fs::rename(at("out/incoming"), at("out/moved"));
  fs::create_directory_symlink(at("elsewhere"), at("out/incoming"));

  Outcome outcome;
  auto name = [](int) { return std::string("page.jpg"); };
  {
    auto dropped = PageFile::create(incoming, name, outcome, 1);
    ASSERT_TRUE(dropped) << outcome.error().description;
  }
  EXPECT_EQ(names(at("out/moved")), std::vector<std::string>{});
  auto file = PageFile::create(incoming, name, outcome, 1);
  ASSERT_TRUE(file) << outcome.error().description;
  EXPECT_EQ(file->path(), at("out/incoming/page.jpg"));  // the text it was opened by
  EXPECT_TRUE(file->write(bytes("page")).ok());
  file->keep();
  EXPECT_EQ(readFile(at("out/moved/page.jpg")), "page");
  EXPECT_TRUE(move(incoming, "page.jpg", out, "QEV.jpg").ok());
  EXPECT_EQ(readFile(at("out/QEV.jpg")), "page");
  EXPECT_EQ(names(at("elsewhere")), std::vector<std::string>{});
}

TEST_F(Files, AWritableFolderPassesTheCheckAndKeepsNothing) {
  Folder folder = open(dir.path());
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed file" : "named file");
    EXPECT_TRUE(checkWritable(folder, unnamed).ok());
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{});
  }
  // A folder that is gone fails the check, unnamed or named (the kernel's reasons differ).
  fs::create_directory(at("gone"));
  Folder gone = open(at("gone"));
  fs::remove(at("gone"));
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed file" : "named file");
    EXPECT_FALSE(checkWritable(gone, unnamed).ok());
  }
}

}  // namespace
}  // namespace qev
