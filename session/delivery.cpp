#include "session/delivery.h"

#include "cli/names.h"
#include "platform/files.h"

namespace qev {

std::string deliver(const std::string& path, const std::string& out, std::int64_t n) {
  std::string target = join(out, pageName(n));
  return move(path, target).ok() ? target : path;
}

}  // namespace qev
