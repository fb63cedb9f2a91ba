#include "testing/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qevtest {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> names(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    out.push_back(entry.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace qevtest
