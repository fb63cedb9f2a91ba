#include "session/resolution.h"

#include <gtest/gtest.h>

#include <vector>

namespace qev {
namespace {

Resolutions of(const std::vector<std::int64_t>& values) {
  Resolutions set;
  for (auto v : values) set.add(v);
  return set;
}

TEST(ChooseResolution, TakesTheRequestTheNextAboveTheHighestThePreferredOr300) {
  const Resolutions common = of({100, 200, 300, 600});
  Resolutions range;
  range.add(50, 1200, 50);
  Resolutions offStep;  // 75 150 225 300: its end is not on a step
  offStep.add(75, 310, 75);
  struct {
    const char* name;
    std::int64_t dpi;
    Resolutions supported, preferred;
    std::int64_t expected;
  } cases[] = {
      {"supported", 300, common, of({150}), 300},
      {"next above", 250, common, {}, 300},
      {"zero takes the smallest", 0, common, {}, 100},
      {"negative takes the smallest", -600, common, {}, 100},
      {"above a list: its highest, not the smallest preferred", 1200, common, of({150}), 600},
      {"above a list, nothing preferred", 601, common, {}, 600},
      {"above a range: its highest", 5000, range, of({75}), 1200},
      {"above a range that ends off its step: its last step", 400, offStep, {}, 300},
      {"nothing supported: preferred even if not supported", 600, {}, of({75}), 75},
      {"nothing at all", 600, {}, {}, 300},
      {"stepped range: on a step", 450, range, {}, 450},
      {"stepped range: between steps", 451, range, {}, 500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(chooseResolution(c.dpi, c.supported, c.preferred), c.expected);
  }
}

}  // namespace
}  // namespace qev
