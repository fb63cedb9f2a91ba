#pragma once

#include <cstdint>
#include <string>

namespace qev {

// What a scan asks for, read from the command line.
struct ScanRequest {
  std::string device;
  std::string out;
  std::string source;
  bool duplex = false;
  std::int64_t dpi = 300;
  bool progress = false;  // report how far each page has come
};

}  // namespace qev
