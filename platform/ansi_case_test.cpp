#include "platform/ansi_case.h"

#include <gtest/gtest.h>

TEST(AnsiCaseTest, LettersPairWithTheirCapitals) {
  for (int c = 0; c < 256; ++c) {
    unsigned char upper = platform::AnsiUpper(static_cast<unsigned char>(c));
    // Every capital goes back to the letter it came from.
    if (upper != c) {
      EXPECT_EQ(platform::AnsiLower(upper), c) << c;
    }
  }
  EXPECT_EQ(platform::AnsiUpper(0xE4), 0xC4);  // ä
  EXPECT_EQ(platform::AnsiUpper(0xFF), 0x9F);  // ÿ
  EXPECT_EQ(platform::AnsiUpper(0x9A), 0x8A);  // š
  for (int unchanged : {0xDF, 0xF7, 0xD7, 0xB5, 0x83, int{'1'}, int{'-'}}) {
    EXPECT_EQ(platform::AnsiUpper(unchanged), unchanged);
    EXPECT_EQ(platform::AnsiLower(unchanged), unchanged);
  }
  EXPECT_TRUE(platform::AnsiEqualIgnoreCase("Gr\xfc\xdf", "GR\xdc\xdf"));
  EXPECT_FALSE(platform::AnsiEqualIgnoreCase("ab", "abc"));
  EXPECT_FALSE(platform::AnsiEqualIgnoreCase("\xf7", "\xd7"));
}
