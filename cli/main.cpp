#include <csignal>
#include <ctime>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/dispatch.h"
#include "cli/end.h"
#include "cli/event.h"
#include "cli/names.h"
#include "platform/page.h"
#include "platform/sleep.h"
#include "simulator/simulate.h"

namespace qev {
namespace {

// The real commands, built on the platform's services.
Commands realCommands() {
  return {
      .simulate =
          [](const std::string& out, std::int64_t pages) {
            auto painter = newPainter();
            simulate(out, pages, *painter, sleepFor);
          },
      .list =
          [](double) {
            emit({{"event", "done"}});
            end(0);
          },
      .scan = [](const ScanRequest&) { fail("The scanner is not connected."); },
  };
}

}  // namespace
}  // namespace qev

int main(int argc, char** argv) {
  // A reader that goes away must not kill the run: the pages still land in the folder.
  std::signal(SIGPIPE, SIG_IGN);
  qev::stamp = qev::makeStamp(std::time(nullptr));

  std::vector<std::string_view> given(argv, argv + argc);
  qev::setArgs(given);

  qev::dispatch(qev::realCommands());
  return 0;
}
