#include "common/resolutions.h"

#include <gtest/gtest.h>

#include <string>

namespace qev {
namespace {

TEST(Resolutions, SteppedRangesAnswerEveryQuery) {
  Resolutions set;
  set.add(600);
  set.add(75, 300, 75);      // 75 150 225 300
  set.add(1000, 1210, 100);  // 1000 1100 1200: the range ends on its last step
  set.add(50, 40);           // empty: ignored
  set.add(2000, 2002, 0);    // every integer

  struct {
    std::int64_t value;
    bool contains;
    std::optional<std::int64_t> atLeast;
  } cases[] = {
      {-5, false, 75},    {0, false, 75},      {75, true, 75},
      {76, false, 150},   {225, true, 225},    {300, true, 300},
      {301, false, 600},  {600, true, 600},    {601, false, 1000},
      {1100, true, 1100}, {1201, false, 2000}, {1210, false, 2000},
      {2001, true, 2001}, {2002, true, 2002},  {2003, false, std::nullopt},
      {45, false, 75},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(set.contains(c.value), c.contains);
    EXPECT_EQ(set.atLeast(c.value), c.atLeast);
  }
  EXPECT_FALSE(set.empty());
  EXPECT_EQ(set.smallest(), 75);
  EXPECT_EQ(set.largest(), 2002);
}

TEST(Resolutions, EmptySetHasNoMembers) {
  Resolutions set;
  set.add(10, 5);
  EXPECT_TRUE(set.empty());
  EXPECT_FALSE(set.contains(10));
  EXPECT_EQ(set.atLeast(0), std::nullopt);
  EXPECT_EQ(set.smallest(), std::nullopt);
  EXPECT_EQ(set.largest(), std::nullopt);
}

}  // namespace
}  // namespace qev
