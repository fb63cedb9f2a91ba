#pragma once

// The file system, as the commands need it. Every operation works on path texts as given
// (relative to the working directory or absolute) and reports a failure as the operating
// system's description in an Outcome; nothing is thrown.

#include <span>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace qev {

// `folder` and `name` joined with exactly one '/': "" gives `name`, "/" gives "/name",
// trailing '/'s of the folder are not doubled; the folder text is otherwise kept as given.
std::string join(std::string_view folder, std::string_view name);

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
