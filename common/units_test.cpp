#include "common/units.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qev {
namespace {

TEST(PageProgress, FigureIsAShareOfTheKnownHeightElseTheLines) {
  constexpr std::int64_t most = INT64_MAX;
  struct {
    PageProgress progress;
    bool known;
    std::int64_t figure;
  } cases[] = {
      {{1, 0, 2362}, true, 0},         {{1, 23, 2362}, true, 0},
      {{1, 24, 2362}, true, 1},        {{1, 2361, 2362}, true, 99},
      {{1, 2362, 2362}, true, 100},    {{1, 5000, 2362}, true, 100},
      {{1, most - 1, most}, true, 99}, {{1, most / 2, most}, true, 49},
      {{1, 7, -1}, false, 7},          {{1, 7, 0}, false, 7},
      {{1, most, -1}, false, most},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.progress.lines) + " of " + std::to_string(c.progress.total));
    EXPECT_EQ(c.progress.known(), c.known);
    EXPECT_EQ(c.progress.figure(), c.figure);
  }
}

}  // namespace
}  // namespace qev
