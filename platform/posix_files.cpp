#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"

namespace qev {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int get() const { return fd; }
  // Closes now, reporting what close says (a delayed write error shows up here).
  int close() {
    int result = ::close(fd);
    fd = -1;
    return result;
  }

 private:
  int fd;
};

}  // namespace

std::optional<Error> makeFolder(const std::string& path) {
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
  return std::nullopt;
}

namespace {

// Writes `bytes` to the file that `open` with `flags` makes at `path`.
std::optional<Error> writeWith(int flags, const std::string& path,
                               std::span<const unsigned char> bytes) {
  Fd fd(::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  if (fd.get() < 0) return systemError(errno);
  auto fault = [&](int code) {
    ::unlink(path.c_str());
    return systemError(code);
  };
  while (!bytes.empty()) {
    ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fault(errno);
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  if (fd.close() != 0) return fault(errno);
  return std::nullopt;
}

}  // namespace

std::optional<Error> writeFile(const std::string& path, std::span<const unsigned char> bytes) {
  return writeWith(O_TRUNC, path, bytes);
}

std::optional<Error> writeNewFile(const std::string& path, std::span<const unsigned char> bytes) {
  return writeWith(O_EXCL, path, bytes);
}

std::string ownName(const std::string& path) { return path + "." + std::to_string(::getpid()); }

std::optional<Error> move(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return std::nullopt;
  }
  if (errno != EINVAL && errno != ENOSYS) return systemError(errno);
  // The file system does not know RENAME_NOREPLACE: a hard link fails when `to` exists.
  if (::link(from.c_str(), to.c_str()) != 0) return systemError(errno);
  ::unlink(from.c_str());
  return std::nullopt;
}

}  // namespace qev
