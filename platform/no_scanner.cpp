#include "platform/run_loop.h"
#include "platform/scanner.h"

namespace qev {

namespace {

// Stands in for the scanner service until a real one is built: it finds no scanners.
class NoScanners : public DeviceBrowser {
 public:
  void setDelegate(BrowserDelegate*) override {}
  void setBrowsedDeviceTypes(unsigned) override {}
  void start() override {}
};

}  // namespace

std::unique_ptr<DeviceBrowser> newDeviceBrowser(RunLoop&) { return std::make_unique<NoScanners>(); }

}  // namespace qev
