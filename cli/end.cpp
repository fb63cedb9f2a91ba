#include "cli/end.h"

#include <cstdlib>

// Sanitizer builds look for leaks before the process ends: `_Exit` skips the check that
// LeakSanitizer would otherwise make at exit.
#if defined(__SANITIZE_ADDRESS__)
#define QEV_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEV_LEAK_CHECK 1
#endif
#endif
#ifdef QEV_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace qev {

namespace {

Ender ender = nullptr;

// The status to end with: a leak found in a sanitizer build turns any status into 23,
// LeakSanitizer's own, so that a test sees it. Objects that stay alive until the end are
// reachable and are no leaks.
int checked(int status) {
#ifdef QEV_LEAK_CHECK
  if (__lsan_do_recoverable_leak_check() != 0) return 23;
#endif
  return status;
}

}  // namespace

void end(int status) {
  if (ender != nullptr) ender(status);
  std::_Exit(checked(status));
}

void setEnd(Ender e) { ender = e; }

}  // namespace qev
