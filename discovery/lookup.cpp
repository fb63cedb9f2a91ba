#include "discovery/lookup.h"

#include "cli/event.h"
#include "cli/text.h"
#include "discovery/record.h"

namespace qev {

std::shared_ptr<Device> lookup(RunLoop& loop, Browser& browser, const std::string& id,
                               const LookupTimes& times) {
  browser.start();
  const auto deadline = RunLoop::Clock::now() + times.limit;
  while (RunLoop::Clock::now() < deadline) {
    loop.runUntil(RunLoop::Clock::now() + times.slice);
    browser.failIfBroken();
    for (const auto& scanner : browser.found) {
      if (sameText(identifier(*scanner), id)) return scanner;
    }
  }
  fail(Code::notConnected, "The scanner is not connected.");
}

}  // namespace qev
