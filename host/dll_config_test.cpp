#include "host/dll_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "testing/temp_dir.h"

namespace qev {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(DllConfig, FoldersAreSanesOwn) {
  struct Case {
    const char* name;
    std::optional<std::string> value;
    Strings folders;
  } cases[] = {
      {"not set", std::nullopt, {".", "/etc/sane.d"}},
      {"one folder", "/a", {"/a"}},
      {"two folders", "/a:/b", {"/a", "/b"}},
      {"a trailing colon adds the system folders", "/a:", {"/a", ".", "/etc/sane.d"}},
      {"empty", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(configFolders(c.value), c.folders);
  }
}

TEST(DllConfig, AFolderOfOurOwnComesFirstAndTheRestStays) {
  for (const auto& value : {std::optional<std::string>(), std::optional<std::string>("/a:/b"),
                            std::optional<std::string>("/a:")}) {
    SCOPED_TRACE(value.value_or("not set"));
    Strings wanted = configFolders(value);
    wanted.insert(wanted.begin(), "/mine");
    EXPECT_EQ(configFolders(configBefore("/mine", value)), wanted);
  }
}

// The order is the one libsane 1.2's dll asks its backends for devices in (seen with
// SANE_DEBUG_DLL=4 scanimage -L): the reverse of the lines, dll.d's before dll.conf's, a
// backend named twice where it was named last.
TEST(DllConfig, BackendsComeInSanesOrder) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;  // path in the first folder or "2/…" in the second
    Strings backends;
  } cases[] = {
      {"one per line, in reverse", {{"dll.conf", "net\ntest\n"}}, {"test", "net"}},
      {"comments, blanks, quotes and words after the name",
       {{"dll.conf", "# all\n\n  net # the network\n\t\"test\" extra\nfault#x\n#pnm\n"}},
       {"fault", "test", "net"}},
      {"named twice: where it was named last",
       {{"dll.conf", "pnm\ntest\nnet\ntest\n"}},
       {"test", "net", "pnm"}},
      {"dll.d before dll.conf",
       {{"dll.d/x", "epson2\n"}, {"dll.conf", "test\n"}},
       {"test", "epson2"}},
      {"dll.d without its hidden and backup files",
       {{"dll.d/.hidden", "pnm\n"},
        {"dll.d/x~", "genesys\n"},
        {"dll.d/y#", "plustek\n"},
        {"dll.d/z", "hp5590\n"}},
       {"hp5590"}},
      {"only the first dll.conf found",
       {{"2/dll.conf", "net\n"}, {"dll.conf", "test\n"}},
       {"test"}},
      {"a later folder's dll.conf where the first has none", {{"2/dll.conf", "net\n"}}, {"net"}},
      {"only the first dll.d found",
       {{"dll.d/a", "test\n"}, {"2/dll.d/b", "net\n"}, {"2/dll.conf", "pnm\n"}},
       {"pnm", "test"}},
      {"nothing", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qevtest::TempDir one, two;
    for (const auto& [path, text] : c.files) {
      bool second = path.rfind("2/", 0) == 0;
      fs::path file = second ? fs::path(two.path()) / path.substr(2) : fs::path(one.path()) / path;
      fs::create_directories(file.parent_path());
      std::ofstream(file) << text;
    }
    EXPECT_EQ(dllBackends({one.path(), two.path()}), c.backends);
  }
}

// The folder a listing puts first has SANE's dll load its one backend, whatever the user's
// folders name, and goes away without a trace.
TEST(DllConfig, AFolderForOneBackendHidesEveryOther) {
  qevtest::TempDir user;
  fs::create_directory(fs::path(user.path()) / "dll.d");
  std::ofstream(fs::path(user.path()) / "dll.d" / "hplip") << "hpaio\n";
  std::ofstream(fs::path(user.path()) / "dll.conf") << "net\ntest\n";
  std::string folder;
  {
    OneBackend one("test");
    folder = one.folder();
    ASSERT_FALSE(folder.empty());
    for (const auto& value :
         {std::optional<std::string>(user.path()), std::optional<std::string>(user.path() + ":")}) {
      SCOPED_TRACE(*value);
      EXPECT_EQ(dllBackends(configFolders(configBefore(folder, value))), Strings{"test"});
    }
    one.remove();
    EXPECT_FALSE(fs::exists(folder));
  }
  EXPECT_FALSE(fs::exists(folder));
}

}  // namespace
}  // namespace qev
