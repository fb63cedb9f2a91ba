#include "tests/faults.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

namespace qevtest {

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> pagesIn(const std::string& folder) {
  static const std::regex page("QEV_[0-9]{8}_[0-9]{6}_[0-9]{4,}\\.jpg");
  std::vector<std::string> pages;
  for (auto& name : namesIn(folder)) {
    if (std::regex_match(name, page)) pages.push_back(name);
  }
  return pages;
}

bool wholeJpeg(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  return bytes.size() > 4 && bytes.compare(0, 2, "\xff\xd8") == 0 &&
         bytes.compare(bytes.size() - 2, 2, "\xff\xd9") == 0;
}

bool mayMount() {
  if (::geteuid() != 0) return false;
  return std::system("unshare -m true >/dev/null 2>&1") == 0;
}

Options onSmallDisk(const std::string& mountPoint, const std::string& keep, long bytes) {
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

}  // namespace qevtest
