#pragma once

// The file system, as the commands need it. Every operation works on path texts as given
// (relative to the working directory or absolute) and reports a failure as the operating
// system's description; nothing is thrown.

#include <optional>
#include <span>
#include <string>

#include "platform/error.h"

namespace qev {

// Creates the folder and any missing parents; a folder that exists already is success.
std::optional<Error> makeFolder(const std::string& path);

// Writes `bytes` to `path`, creating the file or replacing one of that name. On failure no
// file of that name is left behind.
std::optional<Error> writeFile(const std::string& path, std::span<const unsigned char> bytes);

// Writes `bytes` to a file that this call creates at `path`; fails, touching nothing, when
// anything exists there already (for instance a file that another run is still writing). On
// failure no file of that name is left behind by this call.
std::optional<Error> writeNewFile(const std::string& path, std::span<const unsigned char> bytes);

// `path` followed by "." and this process's id: a name that no other running process forms
// by the same rule, for a file of this run's own beside others of the same name.
std::string ownName(const std::string& path);

// Renames `from` to `to`, never replacing anything that exists at `to`: then it fails with
// EEXIST and touches neither file.
std::optional<Error> move(const std::string& from, const std::string& to);

}  // namespace qev
