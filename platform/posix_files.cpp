#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

Outcome writeFile(const std::string& path, std::span<const unsigned char> bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return systemError(errno);
  PageFile file(fd, path);
  return fill(file, bytes);
}

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

namespace {

Outcome moveAt(int source, const char* from, int target, const char* to) {
  if (::renameat2(source, from, target, to, RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS) return systemError(errno);
  // The file system does not know RENAME_NOREPLACE: a hard link fails when `to` exists.
  if (::linkat(source, from, target, to, 0) != 0) return systemError(errno);
  ::unlinkat(source, from, 0);
  return {};
}

}  // namespace

Outcome move(const std::string& from, const std::string& to) {
  return moveAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
}

Outcome move(const Folder& source, const std::string& from, const Folder& target,
             const std::string& to) {
  return moveAt(source.fd(), from.c_str(), target.fd(), to.c_str());
}

}  // namespace qev
