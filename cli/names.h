#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace qev {

// The run stamp: local wall-clock time at start as "yyyyMMdd_HHmmss", shared by every page
// of a run. Set once by the entry function before anything else.
extern std::string stamp;

// The stamp for `when` in the local time zone (TZ is honoured).
std::string makeStamp(std::time_t when);

// "QEV_" + stamp + "_" + n with at least four digits + ".jpg".
std::string pageName(std::int64_t n);

}  // namespace qev
