#include "testing/temp_dir.h"

#include <stdlib.h>

#include <filesystem>

namespace qevtest {

TempDir::TempDir() {
  std::string base = std::string(QEV_BUILD_DIR) + "/tmp";
  std::filesystem::create_directories(base);
  std::string pattern = base + "/qev-XXXXXX";
  dir = mkdtemp(pattern.data());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace qevtest
