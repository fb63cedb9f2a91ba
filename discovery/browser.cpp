#include "discovery/browser.h"

#include "cli/event.h"

namespace qev {

Browser::Browser(std::unique_ptr<DeviceBrowser> browser, RunLoop& loop)
    : browser(std::move(browser)), loop(loop) {
  this->browser->setDelegate(this);
  this->browser->setBrowsedDeviceTypes(browsedDeviceTypes);
}

void Browser::start() { browser->start(); }

void Browser::didAdd(const std::shared_ptr<Device>& device) {
  if (!device->isScanner()) return;
  found.push_back(device);
  loop.endWait();
}

void Browser::didRemove(const std::shared_ptr<Device>&) {}

void Browser::didFail(const Error& error) {
  if (!failure) failure = error;
  loop.endWait();
}

void Browser::failIfBroken() const {
  if (failure) fail(Code::driverMissing, "The scanner's driver did not start: ", *failure);
}

}  // namespace qev
