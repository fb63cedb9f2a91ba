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

TEST(ChooseResolution, TakesTheRequestTheNextAboveThePreferredOr300) {
  const Resolutions common = of({100, 200, 300, 600});
  Resolutions range;
  range.add(50, 1200, 50);
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
      {"above all: smallest preferred, even below", 1200, common, of({300, 150}), 150},
      {"above all, nothing preferred", 1200, common, {}, 300},
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
