#pragma once

// The file system, as the commands need it. Every operation works on path texts as given
// (relative to the working directory or absolute) and reports a failure as the operating
// system's description in an Outcome; nothing is thrown.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace qev {

// `folder` and `name` joined with exactly one '/': "" gives `name`, "/" gives "/name",
// trailing '/'s of the folder are not doubled; the folder text is otherwise kept as given.
std::string join(std::string_view folder, std::string_view name);

// Writes all of `bytes` to `fd`, going on after EINTR and short writes.
[[nodiscard]] Outcome writeAll(int fd, std::span<const unsigned char> bytes);

// A page file being written. It is created exclusively, under a name that no file had, so
// that it never replaces or shares another file; it is removed when it goes away, unless it
// was kept. Every page file of qev (simulated pages, the staging files of a scan, the pages
// the driver host encodes) is one of these.
class PageFile {
 public:
  // Creates the file under the first name `name(1)`, `name(2)`, … that is not taken, trying
  // at most `attempts` names. None, with the reason in `outcome`, when that fails.
  static std::optional<PageFile> create(const std::function<std::string(int attempt)>& name,
                                        Outcome& outcome, int attempts = 100000);
  // Takes over the open file `fd` at `path`.
  PageFile(int fd, std::string path) : descriptor(fd), name(std::move(path)) {}
  PageFile(PageFile&& other) noexcept;
  PageFile& operator=(PageFile&& other) noexcept;
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  ~PageFile();

  int fd() const { return descriptor; }
  const std::string& path() const { return name; }
  Outcome write(std::span<const unsigned char> bytes) { return writeAll(descriptor, bytes); }
  // Closes the file now, reporting what close says (a delayed write error shows up here).
  Outcome close();
  // The file stays when this goes away.
  void keep() { kept = true; }

 private:
  void drop();

  int descriptor = -1;
  std::string name;
  bool kept = false;
};

// Creates the folder and any missing parents; a folder that exists already is success.
Outcome makeFolder(const std::string& path);

// Writes `bytes` to `path`, creating the file or replacing one of that name. On failure no
// file of that name is left behind.
Outcome writeFile(const std::string& path, std::span<const unsigned char> bytes);

// Writes `bytes` to a file that did not exist before: `path` when that name is free, else the
// first free "stem.N.ending" beside it (N from 2), so that no other file is ever replaced or
// shared. On failure no file of the name written is left behind.
struct [[nodiscard]] Written {
  std::string path;  // the file written (or tried last)
  Outcome outcome;
};
Written writeNew(const std::string& path, std::span<const unsigned char> bytes);

// Renames `from` to `to`, never replacing anything that exists at `to`: then it fails with
// EEXIST and touches neither file.
Outcome move(const std::string& from, const std::string& to);

}  // namespace qev
