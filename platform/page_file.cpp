#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace qev {

Outcome writeAll(int fd, std::span<const unsigned char> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return systemError(errno);
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return {};
}

std::optional<PageFile> PageFile::create(const std::function<std::string(int attempt)>& name,
                                         Outcome& outcome, int attempts) {
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    std::string path = name(attempt);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      outcome = {};
      return PageFile(fd, std::move(path));
    }
    if (errno != EEXIST) {
      outcome = systemError(errno);
      return std::nullopt;
    }
  }
  outcome = systemError(EEXIST);
  return std::nullopt;
}

PageFile::PageFile(PageFile&& other) noexcept
    : descriptor(other.descriptor), name(std::move(other.name)), kept(other.kept) {
  other.descriptor = -1;
  other.kept = true;
}

PageFile& PageFile::operator=(PageFile&& other) noexcept {
  if (this != &other) {
    drop();
    descriptor = other.descriptor;
    name = std::move(other.name);
    kept = other.kept;
    other.descriptor = -1;
    other.kept = true;
  }
  return *this;
}

PageFile::~PageFile() { drop(); }

void PageFile::drop() {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
  if (!kept) ::unlink(name.c_str());
  kept = true;
}

Outcome PageFile::close() {
  int result = ::close(descriptor);
  descriptor = -1;
  if (result != 0) return systemError(errno);
  return {};
}

}  // namespace qev
