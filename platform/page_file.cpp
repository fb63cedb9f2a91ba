#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace qev {

std::string join(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  std::string path(folder);
  if (path != "/") path += '/';
  path += name;
  return path;
}

std::optional<PageFile> PageFile::create(const Folder& folder,
                                         const std::function<std::string(int attempt)>& name,
                                         Outcome& outcome, int attempts) {
  // A descriptor of its own: the file is removed through it, however long it lives.
  Descriptor own(::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0));
  if (!own.valid()) {
    outcome = systemError(errno);
    return std::nullopt;
  }
  return make(std::move(own), folder.path(), name, outcome, attempts);
}

std::optional<PageFile> PageFile::create(const std::function<std::string(int attempt)>& path,
                                         Outcome& outcome, int attempts) {
  return make(Descriptor(), "", path, outcome, attempts);
}

std::optional<PageFile> PageFile::make(Descriptor folder, const std::string& folderPath,
                                       const std::function<std::string(int attempt)>& name,
                                       Outcome& outcome, int attempts) {
  const int at = folder.valid() ? folder.get() : AT_FDCWD;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    std::string entry = name(attempt);
    // O_EXCL: a name that is taken, also by a symbolic link, fails instead of being opened.
    Descriptor file(
        ::openat(at, entry.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.valid()) {
      outcome = {};
      std::string shown = join(folderPath, entry);
      return PageFile(std::move(file), std::move(folder), std::move(entry), std::move(shown));
    }
    if (errno != EEXIST) {
      outcome = systemError(errno);
      return std::nullopt;
    }
  }
  outcome = systemError(EEXIST);
  return std::nullopt;
}

PageFile::PageFile(Descriptor file, Descriptor folder, std::string name, std::string shown)
    : file(std::move(file)),
      folder(std::move(folder)),
      name(std::move(name)),
      shown(std::move(shown)) {}

PageFile::PageFile(PageFile&& other) noexcept
    : file(std::move(other.file)),
      folder(std::move(other.folder)),
      name(std::move(other.name)),
      shown(std::move(other.shown)),
      kept(other.kept) {
  other.kept = true;
}

PageFile& PageFile::operator=(PageFile&& other) noexcept {
  if (this != &other) {
    drop();
    file = std::move(other.file);
    folder = std::move(other.folder);
    name = std::move(other.name);
    shown = std::move(other.shown);
    kept = other.kept;
    other.kept = true;
  }
  return *this;
}

PageFile::~PageFile() { drop(); }

int PageFile::at() const { return folder.valid() ? folder.get() : AT_FDCWD; }

void PageFile::drop() {
  file.reset();
  if (!kept) ::unlinkat(at(), name.c_str(), 0);
  kept = true;
  folder.reset();
}

}  // namespace qev
