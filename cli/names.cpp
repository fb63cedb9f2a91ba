#include "cli/names.h"

#include <cstdio>

namespace qev {

std::string stamp;

std::string makeStamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string pageName(std::int64_t n) {
  char number[32];
  std::snprintf(number, sizeof number, "%04lld", static_cast<long long>(n));
  return "QEV_" + stamp + "_" + number + ".jpg";
}

}  // namespace qev
