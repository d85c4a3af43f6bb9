#include "util/decimal.h"

#include <gtest/gtest.h>

TEST(DecimalTest, ReadsLikeAtolWithoutOverflow) {
  EXPECT_EQ(util::ParseDecimal32(""), 0);
  EXPECT_EQ(util::ParseDecimal32(nullptr), 0);
  EXPECT_EQ(util::ParseDecimal32("  \t+42x7"), 42);
  EXPECT_EQ(util::ParseDecimal32("-17"), -17);
  EXPECT_EQ(util::ParseDecimal32("- 17"), 0);
  EXPECT_EQ(util::ParseDecimal32("0012"), 12);
  EXPECT_EQ(util::ParseDecimal32("2147483647"), INT32_MAX);
  EXPECT_EQ(util::ParseDecimal32("2147483648"), INT32_MAX);
  EXPECT_EQ(util::ParseDecimal32("99999999999999999999999"), INT32_MAX);
  EXPECT_EQ(util::ParseDecimal32("-2147483648"), INT32_MIN);
  EXPECT_EQ(util::ParseDecimal32("-99999999999"), INT32_MIN);
}
