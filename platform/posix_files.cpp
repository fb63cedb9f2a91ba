#include <sys/stat.h>

#include <cerrno>

#include "platform/files.h"

namespace qev {

Outcome makeFolder(const std::string& path) {
  if (path.empty()) return systemError(ENOENT);
  // Each prefix that ends before a '/' is a parent; then the folder itself.
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return systemError(errno);
    if (slash == std::string::npos) break;
  }
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return systemError(errno);
  if (!S_ISDIR(info.st_mode)) return systemError(ENOTDIR);
  return {};
}

namespace {

// Writes all of `bytes` into `file` and closes it; the file is kept only when that worked.
Outcome fill(PageFile& file, std::span<const unsigned char> bytes) {
  Outcome outcome = file.write(bytes);
  if (outcome.ok()) outcome = file.close();
  if (outcome.ok()) file.keep();
  return outcome;
}

}  // namespace

Written writeNew(const std::string& path, std::span<const unsigned char> bytes) {
  // Where the name is taken (another run's file), try "name.2.part", "name.3.part", … beside
  // it, keeping the ending.
  auto dot = path.rfind('.');
  auto slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  Written written{.path = path};
  auto name = [&](int attempt) {
    written.path = attempt == 1
                       ? path
                       : path.substr(0, dot) + "." + std::to_string(attempt) + path.substr(dot);
    return written.path;
  };
  auto file = PageFile::create(name, written.outcome, 1000);
  if (file) written.outcome = fill(*file, bytes);
  return written;
}

}  // namespace qev
