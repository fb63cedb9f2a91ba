#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "common/error.h"
#include "platform/run_loop.h"
#include "platform/scanner.h"

namespace qev {

// Collects every scanner that the platform's device browser reports, in order of arrival.
// Each report of a scanner also ends the current timed run of the loop, so that a
// caller waiting for one can look at once.
class Browser : public BrowserDelegate {
 public:
  // Takes the platform browser, becomes its delegate and sets it to look for scanners.
  // Browsing begins with `start`.
  Browser(std::unique_ptr<DeviceBrowser> browser, RunLoop& loop);
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  void start();

  // A device that is a scanner joins `found`; any other device is ignored.
  void didAdd(const std::shared_ptr<Device>& device) override;
  // A scanner that goes away stays in `found`.
  void didRemove(const std::shared_ptr<Device>& device) override;
  // Kept in `failure`; it ends the current timed run of the loop, as an arrival does.
  void didFail(const Error& error) override;

  // Every scanner reported so far; only ever appended to.
  std::vector<std::shared_ptr<Device>> found;
  // Why the service cannot look for scanners, once it has said so.
  std::optional<Error> failure;
  // Ends the run with "The scanner's driver did not start: …" once the service has failed.
  void failIfBroken() const;
  const std::unique_ptr<DeviceBrowser> browser;

 private:
  RunLoop& loop;
};

}  // namespace qev
