#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace qev {

// Moves the page file that the scanner delivered at `path` in `staging` into `out` as page
// `n`, never replacing a file that is already there. The file is found by its name (what
// follows the last '/' of `path`) in `staging`, not by the path. Returns where the page now
// lies: its path in `out`, or `path` itself when the move failed (the file then stays where
// the scanner left it).
std::string deliver(const Folder& staging, const std::string& path, const Folder& out,
                    std::int64_t n);

}  // namespace qev
