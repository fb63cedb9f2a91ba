#include <ctime>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/dispatch.h"
#include "cli/end.h"
#include "cli/event.h"
#include "cli/names.h"
#include "discovery/list.h"
#include "platform/page.h"
#include "platform/run_loop.h"
#include "platform/scanner.h"
#include "platform/signals.h"
#include "platform/sleep.h"
#include "session/run.h"
#include "session/show.h"
#include "simulator/simulate.h"

namespace qev {
namespace {

// The real commands, built on the platform's services and the one main run loop.
Commands realCommands(RunLoop& loop) {
  return {
      .simulate =
          [](const std::string& out, std::int64_t pages) {
            releaseStopSignals();  // a signal ends a simulation as it ends any program
            auto painter = newPainter();
            simulate(out, pages, *painter, sleepFor);
          },
      .list =
          [&loop](double wait) {
            releaseStopSignals();  // and a listing
            list(loop, newDeviceBrowser(loop, true), wait);
          },
      .scan =
          [&loop](const ScanRequest& request) {
            runScan(loop, newDeviceBrowser(loop, false, request.device), request);
          },
      .show =
          [&loop](const std::string& device) {
            runShow(loop, newDeviceBrowser(loop, false), device);
          },
  };
}

}  // namespace
}  // namespace qev

int main(int argc, char** argv) {
  // A stop signal at any moment of a scan cancels it: one that comes before the scan is
  // ready to cancel waits until it is.
  qev::holdStopSignals();
  // A reader that goes away must not kill the run: the pages still land in the folder.
  qev::ignoreBrokenPipe();
  qev::stamp = qev::makeStamp(std::time(nullptr));
  // The driver host ends with qev, by itself rather than by the kernel's kill.
  qev::setCloser(qev::endScannerService);

  std::vector<std::string_view> given(argv, argv + argc);
  qev::setArgs(given);

  qev::RunLoop loop;
  qev::dispatch(qev::realCommands(loop));
  return 0;
}
