#pragma once

// Files as tests look at them.

#include <string>
#include <vector>

namespace qevtest {

// The whole content of the file at `path`; empty when it cannot be read.
std::string readFile(const std::string& path);

// The names in `folder`, sorted; none when it cannot be read.
std::vector<std::string> names(const std::string& folder);

}  // namespace qevtest
