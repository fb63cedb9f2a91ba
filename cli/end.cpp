#include "cli/end.h"

#include <cstdlib>

namespace qev {

namespace {
Ender ender = nullptr;
}

void end(int status) {
  if (ender != nullptr) ender(status);
  std::_Exit(status);
}

void setEnd(Ender e) { ender = e; }

}  // namespace qev
