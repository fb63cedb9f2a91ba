#include "session/run.h"

#include "discovery/browser.h"
#include "session/scan.h"

namespace qev {

void runScan(RunLoop& loop, std::unique_ptr<DeviceBrowser> service, const ScanRequest& request,
             const LookupTimes& times) {
  // Both live, the browser still browsing, until the process ends inside the loop.
  Browser browser(std::move(service), loop);
  Scan scan(lookup(loop, browser, request.device, times), request.out, request.source,
            request.duplex, request.dpi);
  scan.begin();
  loop.run();
}

}  // namespace qev
