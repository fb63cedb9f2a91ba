#include "cli/text.h"

#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(SameText, ComparesCanonicalFormsWithCase) {
  struct {
    std::string_view a, b;
    bool same;
  } cases[] = {
      {"test:0", "test:0", true},       {"Caf\u00e9", "Cafe\u0301", true},
      {"\u212b", "\u00c5", true},  // ANGSTROM SIGN and A WITH RING ABOVE
      {"Scanner", "scanner", false},    {"Caf\u00e9", "CAF\u00c9", false},
      {"test:0", "test:0 ", false},     {"", "", true},
      {"a\xFF", "a\xEF\xBF\xBD", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " ~ " + std::string(c.b));
    EXPECT_EQ(sameText(c.a, c.b), c.same);
    EXPECT_EQ(sameText(c.b, c.a), c.same);
  }
}

}  // namespace
}  // namespace qev
