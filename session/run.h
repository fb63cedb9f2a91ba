#pragma once

#include <memory>

#include "discovery/lookup.h"
#include "platform/run_loop.h"
#include "platform/scanner.h"
#include "session/request.h"

namespace qev {

// The `scan` road: looks for the requested scanner with `service`, builds the session on it,
// begins it and runs the loop without end; every end of the run comes from a callback.
[[noreturn]] void runScan(RunLoop& loop, std::unique_ptr<DeviceBrowser> service,
                          const ScanRequest& request, const LookupTimes& times = {});

}  // namespace qev
