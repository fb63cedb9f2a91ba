#include "cli/names.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/files.h"

namespace qev {
namespace {

TEST(PageName, PadsToFourDigitsAndNeverCuts) {
  stamp = "20250103_140509";
  struct {
    std::int64_t n;
    std::string name;
  } cases[] = {
      {1, "QEV_20250103_140509_0001.jpg"},
      {7, "QEV_20250103_140509_0007.jpg"},
      {9999, "QEV_20250103_140509_9999.jpg"},
      {10000, "QEV_20250103_140509_10000.jpg"},
      {INT64_MAX, "QEV_20250103_140509_9223372036854775807.jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(pageName(c.n), c.name);
  }
}

TEST(Join, PutsExactlyOneSeparator) {
  struct {
    std::string_view folder;
    std::string path;
  } cases[] = {
      {"/tmp/out", "/tmp/out/p.jpg"},
      {"/tmp/out/", "/tmp/out/p.jpg"},
      {"/tmp/out//", "/tmp/out/p.jpg"},
      {"/", "/p.jpg"},
      {"//", "/p.jpg"},
      {"", "p.jpg"},
      {"out", "out/p.jpg"},
      {"~/scans", "~/scans/p.jpg"},
      {"./a/../b", "./a/../b/p.jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.folder));
    EXPECT_EQ(join(c.folder, "p.jpg"), c.path);
  }
}

class Zone {
 public:
  explicit Zone(const char* zone) {
    const char* old = std::getenv("TZ");
    if (old != nullptr) saved = old;
    had = old != nullptr;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~Zone() {
    if (had) {
      setenv("TZ", saved.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string saved;
  bool had = false;
};

TEST(Stamp, IsLocalWallClockTime) {
  const std::time_t instant = 1735913109;  // 2025-01-03 14:05:09 UTC
  struct {
    const char* zone;
    std::string stamp;
  } cases[] = {
      {"UTC0", "20250103_140509"},
      {"JST-9", "20250103_230509"},
      {"EST5EDT,M3.2.0,M11.1.0", "20250103_090509"},
      {"NZST-12NZDT,M9.5.0,M4.1.0/3", "20250104_030509"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    Zone zone(c.zone);
    EXPECT_EQ(makeStamp(instant), c.stamp);
  }
}

}  // namespace
}  // namespace qev
