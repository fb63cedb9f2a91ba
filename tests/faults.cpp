#include "tests/faults.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "testing/files.h"
#include "testing/sane_setup.h"

namespace qevtest {

std::vector<std::string> pagesIn(const std::string& folder) {
  static const std::regex page("QEV_[0-9]{8}_[0-9]{6}_[0-9]{4,}\\.jpg");
  std::vector<std::string> pages;
  for (auto& name : names(folder)) {
    if (std::regex_match(name, page)) pages.push_back(name);
  }
  return pages;
}

bool wholeJpeg(const std::string& path) {
  std::string bytes = readFile(path);
  return bytes.size() > 4 && bytes.compare(0, 2, "\xff\xd8") == 0 &&
         bytes.compare(bytes.size() - 2, 2, "\xff\xd9") == 0;
}

int incompleteIn(const std::string& folder) {
  int count = 0;
  for (const auto& name : names(folder)) count += !wholeJpeg(folder + "/" + name);
  return count;
}

int partlyWrittenIn(const std::string& folder) {
  int count = 0;
  for (const auto& name : names(folder)) {
    std::string path = folder + "/" + name;
    count += !wholeJpeg(path) && !readFile(path).empty();
  }
  return count;
}

std::size_t pagesSoFar(const Run& sofar) {
  return std::count_if(sofar.lines.begin(), sofar.lines.end(), [](const std::string& line) {
    auto event = nlohmann::json::parse(line, nullptr, false);
    return event.is_object() && event.value("event", "") == "page";
  });
}

bool pageInFlight(const std::string& out) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(out + "/.qev-incoming", error)) {
    if (entry.is_regular_file(error) && entry.file_size(error) > 0 && !error) return true;
  }
  return false;
}

bool recorded(const std::string& path, const std::string& line) {
  std::istringstream lines(readFile(path));
  for (std::string l; std::getline(lines, l);) {
    if (l == line) return true;
  }
  return false;
}

bool mayMount() {
  if (::geteuid() != 0) return false;
  return std::system("unshare -m true >/dev/null 2>&1") == 0;
}

Options onSmallDisk(const std::string& mountPoint, const std::string& keep, long bytes) {
  std::filesystem::create_directories(mountPoint);
  std::filesystem::create_directories(keep);
  Options options;
  options.through = {"unshare",
                     "-m",
                     "sh",
                     "-c",
                     "mount -t tmpfs -o size=" + std::to_string(bytes) +
                         " qev-full \"$1\" || exit 99\n"
                         "disk=$1; keep=$2; shift 2\n"
                         "\"$@\"; status=$?\n"
                         "cp -a \"$disk/.\" \"$keep/\"\n"
                         "exit $status",
                     "sh",
                     mountPoint,
                     keep};
  return options;
}

Tmpfs::Tmpfs(const std::string& point, const std::string& options, bool readOnly) : point(point) {
  std::filesystem::create_directories(point);
  done =
      ::mount("qev-test", point.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) == 0;
}

Tmpfs::~Tmpfs() {
  if (done) ::umount2(point.c_str(), MNT_DETACH);
}

void expectFailed(const Run& run, const std::string& code, const std::string& message) {
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.back(),
            (nlohmann::json{{"event", "error"}, {"code", code}, {"message", message}}));
}

void plantHostileFolders(const TempDir& dir) {
  std::filesystem::create_directories(dir / "target");
  std::filesystem::create_directory_symlink(dir / "target", dir / "link");
  std::ofstream(dir / "plain") << "not a folder";
}

void expectHostileFoldersKept(const TempDir& dir) {
  EXPECT_EQ(pagesIn(dir / "target").size(), 1u);
  EXPECT_EQ(readFile(dir / "plain"), "not a folder");
}

}  // namespace qevtest
