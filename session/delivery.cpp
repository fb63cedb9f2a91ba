#include "session/delivery.h"

#include "cli/names.h"
#include "platform/files.h"

namespace qev {

std::string deliver(const Folder& staging, const std::string& path, const Folder& out,
                    std::int64_t n) {
  const std::string name = path.substr(path.rfind('/') + 1);
  const std::string target = pageName(n);
  return move(staging, name, out, target).ok() ? out.at(target) : path;
}

}  // namespace qev
