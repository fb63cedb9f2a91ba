#pragma once

// A fresh, empty folder for one test, under the build folder (build/…/tmp), removed with
// everything in it when the object goes away.

#include <string>

namespace qevtest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return dir; }
  // The path of `name` inside the folder.
  std::string operator/(const std::string& name) const { return dir + "/" + name; }

 private:
  std::string dir;
};

}  // namespace qevtest
