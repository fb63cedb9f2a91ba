#pragma once

#include <cstdint>
#include <string>

namespace qev {

// Moves the delivered page file at `path` into `out` as page `n`, never replacing a file
// that is already there. Returns where the page now lies: the new path, or `path` itself
// when the move failed (the file then stays where the scanner left it).
std::string deliver(const std::string& path, const std::string& out, std::int64_t n);

}  // namespace qev
