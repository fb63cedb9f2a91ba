#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"

namespace qev {

std::optional<Folder> Folder::open(const std::string& path, Outcome& outcome) {
  // O_PATH: a folder the user may write but not list is still one to put pages in.
  Descriptor fd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) {
    outcome = systemError(errno);
    return std::nullopt;
  }
  outcome = {};
  return Folder(std::move(fd), path);
}

std::optional<Folder> Folder::own(const Folder& parent, const std::string& name, Outcome& outcome) {
  auto refuse = [&](Error error) {
    outcome = std::move(error);
    return std::nullopt;
  };
  if (::mkdirat(parent.fd(), name.c_str(), 0700) != 0 && errno != EEXIST) {
    return refuse(systemError(errno));
  }
  // Whatever the name holds now is opened as itself, a symbolic link included, and judged by
  // what the descriptor shows: nothing can change between the check and the use.
  Descriptor fd(::openat(parent.fd(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return refuse(systemError(errno));
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return refuse(systemError(errno));
  if (S_ISLNK(info.st_mode)) return refuse(Error{name + " is a symbolic link"});
  if (!S_ISDIR(info.st_mode)) return refuse(Error{name + " is not a folder"});
  if (info.st_uid != ::geteuid()) return refuse(Error{name + " belongs to another user"});
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return refuse(Error{name + " can be written by other users"});
  }
  outcome = {};
  return Folder(std::move(fd), parent.at(name));
}

namespace {

constexpr unsigned char probeByte = 0;

Outcome writeProbe(int fd) { return writeAll(fd, {&probeByte, 1}); }

}  // namespace

Outcome checkWritable(const Folder& folder, bool unnamed) {
  if (unnamed) {
    Descriptor file(::openat(folder.fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (file.valid()) return writeProbe(file.get());
    // Kernels and file systems without unnamed files say so with these; anything else is
    // the answer.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return systemError(errno);
  }
  Outcome outcome;
  auto file = PageFile::create(
      folder, [](int attempt) { return ".qev-probe-" + std::to_string(attempt); }, outcome, 1000);
  if (!file) return outcome;
  return writeProbe(file->fd());  // and the file is removed
}

namespace {

// Renames by names within folders (AT_FDCWD: the working directory), never replacing a file.
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
