#pragma once

// The file system, as the commands need it. Operations on path texts take them as given
// (relative to the working directory or absolute); a Folder is opened once, and what is done
// inside it goes by names within its descriptor, whatever later becomes of its path. A
// failure comes as the operating system's description (or a plain reason) in an Outcome;
// nothing is thrown.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/descriptor.h"
#include "common/error.h"

namespace qev {

// `folder` and `name` joined with exactly one '/': "" gives `name`, "/" gives "/name",
// trailing '/'s of the folder are not doubled; the folder text is otherwise kept as given.
std::string join(std::string_view folder, std::string_view name);

// An open folder. Files are created, moved and removed by their names in it, so that a path
// renamed or replaced by a symbolic link after it was opened cannot redirect them. Its path
// text is only what events and messages show.
class Folder {
 public:
  // Opens the folder at `path`, through symbolic links as any path a user gives. None, with
  // the reason in `outcome`, when that fails.
  static std::optional<Folder> open(const std::string& path, Outcome& outcome);
  // Opens the folder `name` in `parent` as one of qev's own: it is made, with mode 0700,
  // where it is missing; one that exists is taken only when it is a folder itself (not a
  // symbolic link), belongs to the user qev runs as and no other user may write it.
  // Otherwise none, with the reason in `outcome` (a plain one that names `name`).
  static std::optional<Folder> own(const Folder& parent, const std::string& name, Outcome& outcome);

  int fd() const { return descriptor.get(); }
  const std::string& path() const { return text; }
  // The path text of `name` in this folder.
  std::string at(std::string_view name) const { return join(text, name); }

 private:
  Folder(Descriptor descriptor, std::string text)
      : descriptor(std::move(descriptor)), text(std::move(text)) {}

  Descriptor descriptor;
  std::string text;
};

// Whether files can be made and written in `folder`: one byte is written to an unnamed
// file there (a named one, removed at once, where the file system has no unnamed files, or
// when `unnamed` is false). Fails as writing a page would: on a read-only file system, in a
// folder the user may not write, on a disk without free inodes or space.
[[nodiscard]] Outcome checkWritable(const Folder& folder, bool unnamed = true);

// A page file being written. It is created exclusively, under a name that no file had (a
// symbolic link of that name is not followed), so that it never replaces or shares another
// file; it is removed when it goes away, unless it was kept. It is opened for reading and
// writing. Every page file of qev (simulated pages, the staging files of a scan, the pages
// the driver host encodes) is one of these.
class PageFile {
 public:
  // Creates the file in `folder` under the first name `name(1)`, `name(2)`, … (names in the
  // folder) that is not taken, trying at most `attempts` names. None, with the reason in
  // `outcome`, when that fails. The file keeps a descriptor of the folder of its own, so it
  // may outlive the Folder object.
  static std::optional<PageFile> create(const Folder& folder,
                                        const std::function<std::string(int attempt)>& name,
                                        Outcome& outcome, int attempts = 100000);
  // The same with paths for names.
  static std::optional<PageFile> create(const std::function<std::string(int attempt)>& path,
                                        Outcome& outcome, int attempts = 100000);
  PageFile(PageFile&& other) noexcept;
  PageFile& operator=(PageFile&& other) noexcept;
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  ~PageFile();

  int fd() const { return file.get(); }
  // Its path text: the folder's path and its name joined.
  const std::string& path() const { return shown; }
  Outcome write(std::span<const unsigned char> bytes) { return writeAll(file.get(), bytes); }
  // Closes the file now, reporting what close says (a delayed write error shows up here).
  Outcome close() { return file.close(); }
  // The file stays when this goes away.
  void keep() { kept = true; }

 private:
  PageFile(Descriptor file, Descriptor folder, std::string name, std::string shown);
  static std::optional<PageFile> make(Descriptor folder, const std::string& folderPath,
                                      const std::function<std::string(int attempt)>& name,
                                      Outcome& outcome, int attempts);
  // The folder its name is in: its own descriptor of it, or the working directory.
  int at() const;
  void drop();

  Descriptor file;
  Descriptor folder;  // none: `name` is a path
  std::string name;
  std::string shown;
  bool kept = false;
};

// Creates the folder and any missing parents; a folder that exists already is success.
Outcome makeFolder(const std::string& path);

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
// The same for the file `from` in `source` and the name `to` in `target`.
Outcome move(const Folder& source, const std::string& from, const Folder& target,
             const std::string& to);

}  // namespace qev
