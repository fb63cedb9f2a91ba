#include "cli/end.h"

#include <cstdio>
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
Closer closer = nullptr;

// The status to end with: a leak found in a sanitizer build, in qev or in a process it
// started, turns any status into 23, LeakSanitizer's own, so that a test sees it. Objects
// that stay alive until the end are reachable and are no leaks.
int checked(int status) {
  [[maybe_unused]] bool childrenClean = closer == nullptr || closer();
#ifdef QEV_LEAK_CHECK
  if (!childrenClean) {
    // The child's report is on its own standard error, which qev passes on only when a
    // SANE_DEBUG_* variable asks for the driver host's diagnostics.
    std::fputs(
        "qev: a process it started found a leak at its end; run with SANE_DEBUG_DLL=0 "
        "for its report\n",
        stderr);
    return 23;
  }
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

void setCloser(Closer c) { closer = c; }

}  // namespace qev
