#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace qev {

// A set of resolutions in dots per inch, as a union of stepped ranges (a single value is a
// range of one). Scanners may allow every integer in a wide range, so the set is never
// spelled out value by value.
class Resolutions {
 public:
  // Adds min, min + step, … up to max. A step of 0 or less means every integer.
  void add(std::int64_t min, std::int64_t max, std::int64_t step = 1);
  void add(std::int64_t value) { add(value, value); }

  bool empty() const { return ranges.empty(); }
  bool contains(std::int64_t value) const;
  // The smallest member that is at least `value`.
  std::optional<std::int64_t> atLeast(std::int64_t value) const;
  std::optional<std::int64_t> smallest() const;
  std::optional<std::int64_t> largest() const;

  struct Range {
    std::int64_t min, max, step;
  };
  // The ranges as added, for passing the set on.
  const std::vector<Range>& parts() const { return ranges; }

 private:
  std::vector<Range> ranges;
};

}  // namespace qev
