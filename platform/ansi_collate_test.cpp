#include "platform/ansi_collate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

// Each list is in ascending order; every pair is checked both ways.
TEST(AnsiCollateTest, OrdersAsTheWindowsWordSort) {
  const std::vector<std::vector<std::string>> orders = {
      {"a", "A", "b", "B"},  // case breaks ties only, lower first
      {"aa", "AB"},          // letters first, case later
      {"aaa", "AAA"},
      {"!", "#", "1", "9", "a"},  // symbols, digits, letters
      {" x", "1x", "ax"},
      {"a", "á", "ä", "b"},  // accents after letters, before case
      {"Ab", "äb", "Äb", "ac"},
      {"Apfel", "\xC4pfel", "Zebra"},  // Ä sorts with A, not after Z as a byte
      {"coop", "co-op", "cop"},        // the hyphen weighs almost nothing
      {"a", "a-", "ab"},
      {"its", "it's", "itself"},
      {"ss", "\xDF", "st"},  // ß as ss, told apart by its accent level
      {"ae", "\xE6", "af"},
      {"z", "\xFE"},  // thorn after z
      {"\xB2", "3"},  // superscript two sorts with the digit 2
  };
  for (const auto& order : orders) {
    for (size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(AnsiCollate(order[i], order[i]), 0) << order[i];
      for (size_t j = i + 1; j < order.size(); ++j) {
        EXPECT_EQ(AnsiCollate(order[i], order[j]), -1) << order[i] << " < " << order[j];
        EXPECT_EQ(AnsiCollate(order[j], order[i]), 1) << order[j] << " > " << order[i];
      }
    }
  }
}

}  // namespace
}  // namespace platform
