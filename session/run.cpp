#include "session/run.h"

#include "cli/event.h"
#include "discovery/browser.h"
#include "platform/signals.h"
#include "session/scan.h"

namespace qev {

void runScan(RunLoop& loop, std::unique_ptr<DeviceBrowser> service, const ScanRequest& request,
             const LookupTimes& times) {
  // Both live, the browser still browsing, until the process ends inside the loop.
  Browser browser(std::move(service), loop);
  // Ctrl-C or a caller's SIGTERM stops the run at any moment: during the lookup at once, once
  // the session exists through the scanner, which cancels, closes and completes with its
  // cancellation error, ending the run like any failed scan.
  Scan* session = nullptr;
  StopSignals stop(loop, [&session, &browser] {
    if (session == nullptr) {
      fail(Code::cancelled, "The scan stopped: ", browser.browser->cancelledError());
    }
    session->device->requestCancel();
  });
  Scan scan(lookup(loop, browser, request.device, times), request.out, request.source,
            request.duplex, request.dpi, request.progress);
  session = &scan;
  scan.begin();
  loop.run();
}

}  // namespace qev
