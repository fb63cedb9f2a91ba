#include "simulator/simulate.h"

#include <algorithm>

#include "cli/end.h"
#include "cli/event.h"
#include "cli/names.h"
#include "platform/files.h"

namespace qev {

std::int64_t pageCount(std::int64_t pages) { return std::clamp<std::int64_t>(pages, 1, maxPages); }

PageDrawing testPage(std::int64_t n) {
  return {.width = 744,
          .height = 1039,
          .background = {.hue = static_cast<double>(n % 12) / 12,
                         .saturation = 0.35,
                         .brightness = 0.9},
          .text = "Test page " + std::to_string(n),
          .textX = 60,
          .textY = 500,
          .fontSize = 64,
          .quality = 0.85};
}

void simulate(const std::string& out, std::int64_t pages, Painter& painter, const Pause& pause) {
  // A folder that cannot be made is not reported here: writing the first page then fails
  // with the real cause.
  (void)makeFolder(out);
  const std::int64_t count = pageCount(pages);
  for (std::int64_t n = 1; n <= count; ++n) {
    auto jpeg = painter.paint(testPage(n));
    if (!jpeg) fail(Code::drawFailed, "Could not draw a test page.");

    const std::string path = join(out, pageName(n));
    // The partial file is always a new one: a leftover of another run of the same second is
    // never replaced, nor written to by two runs at once.
    const auto [partial, written] = writeNew(path + ".part", *jpeg);
    if (!written.ok()) fail(Code::writeFailed, "Could not write a test page: ", written.error());
    // A file of the final name (another run's page of the same second) is never replaced:
    // the page then stays under its partial name, and the event says so.
    const bool moved = move(partial, path).ok();
    emit({{"event", "page"}, {"file", moved ? path : partial}, {"n", n}});
    pause(pageGap);
  }
  emit({{"event", "done"}, {"pages", count}});
  end(0);
}

}  // namespace qev
