#include "common/resolutions.h"

#include <algorithm>

namespace qev {

void Resolutions::add(std::int64_t min, std::int64_t max, std::int64_t step) {
  if (max < min) return;
  if (step <= 0) step = 1;
  // The largest member, so that `max` is always in the range.
  max = min + (max - min) / step * step;
  ranges.push_back({min, max, step});
}

bool Resolutions::contains(std::int64_t value) const {
  return std::any_of(ranges.begin(), ranges.end(), [&](const Range& r) {
    return value >= r.min && value <= r.max && (value - r.min) % r.step == 0;
  });
}

std::optional<std::int64_t> Resolutions::atLeast(std::int64_t value) const {
  std::optional<std::int64_t> best;
  for (const Range& r : ranges) {
    if (r.max < value) continue;
    std::int64_t first = r.min;
    if (value > r.min) {
      std::int64_t steps = (value - r.min + r.step - 1) / r.step;
      first = r.min + steps * r.step;
    }
    if (!best || first < *best) best = first;
  }
  return best;
}

std::optional<std::int64_t> Resolutions::smallest() const {
  std::optional<std::int64_t> best;
  for (const Range& r : ranges) {
    if (!best || r.min < *best) best = r.min;
  }
  return best;
}

std::optional<std::int64_t> Resolutions::largest() const {
  std::optional<std::int64_t> best;
  for (const Range& r : ranges) {
    if (!best || r.max > *best) best = r.max;
  }
  return best;
}

}  // namespace qev
