#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "session/request.h"

namespace qev {

// The commands. None of them returns: each ends the process itself.
struct Commands {
  std::function<void(const std::string& out, std::int64_t pages)> simulate;
  std::function<void(double wait)> list;
  std::function<void(const ScanRequest& request)> scan;
  std::function<void(const std::string& device)> show;
};

// The `--wait` of `list` in seconds: 4 when absent, unparsable or not finite.
double waitSeconds();

// Reads the command word and the options of `args()`, reports usage errors through `fail`,
// and hands the parsed values to the command.
void dispatch(const Commands& commands);

}  // namespace qev
