#include "session/run.h"

#include "discovery/browser.h"
#include "platform/signals.h"
#include "session/scan.h"

namespace qev {

void runScan(RunLoop& loop, std::unique_ptr<DeviceBrowser> service, const ScanRequest& request,
             const LookupTimes& times) {
  // Both live, the browser still browsing, until the process ends inside the loop.
  Browser browser(std::move(service), loop);
  Scan scan(lookup(loop, browser, request.device, times), request.out, request.source,
            request.duplex, request.dpi);
  // Ctrl-C or a caller's SIGTERM stops the scan: the scanner cancels, closes and completes
  // with its cancellation error, which ends the run like any failed scan.
  StopSignals stop(loop, [&scan] { scan.device->requestCancel(); });
  scan.begin();
  loop.run();
}

}  // namespace qev
