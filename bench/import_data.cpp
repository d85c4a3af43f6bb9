#include "bench/import_data.h"

#include <cstdio>
#include <random>

#include "testsupport/card_files.h"
#include "testsupport/temp_dir.h"

namespace bench {

namespace {
constexpr int32_t kFirstCard = 10000000;
constexpr int32_t kFirstNewCard = 60000000;
}  // namespace

ImportData MakeImportData(int cards, int orders, unsigned seed) {
  std::mt19937 random(seed);
  ImportData data;
  data.cards.reserve(static_cast<size_t>(cards));
  char text[64];
  for (int i = 0; i < cards; ++i) {
    std::snprintf(text, sizeof text, "0301%07d", 1000000 + i);
    data.cards.push_back(testsupport::CardBuilder(kFirstCard + 7 * i)
                             .Balance(static_cast<int32_t>(random() % 1000))
                             .Telefon(text)
                             .Build());
  }
  auto existing = [&] { return kFirstCard + 7 * static_cast<int32_t>(random() % cards); };
  int32_t newCards = 0;
  for (int i = 0; i < orders; ++i) {
    if (i % 10000 == 0) {
      std::snprintf(text, sizeof text, "E%d\r\n", 2400000 + i / 10000);
      data.orders += text;
    }
    const unsigned kind = random() % 100;
    const int amount = 1 + static_cast<int>(random() % 500);
    if (kind < 55) {
      std::snprintf(text, sizeof text, "A,%d,%d\r\n", existing(), amount);
    } else if (kind < 75) {
      std::snprintf(text, sizeof text, "A,%d,%d\r\n", kFirstNewCard + newCards++, amount);
    } else {
      const char command = kind < 85 ? 'D' : (kind < 92 ? 'L' : 'U');
      std::snprintf(text, sizeof text, "%c,%d\r\n", command, existing());
    }
    data.orders += text;
  }
  return data;
}

void WriteImportData(const ImportData& data, const std::string& dir) {
  testsupport::WriteCardFile(dir + "PREPAID.DAT", data.cards);
  testsupport::WriteFile(dir + "PREPAID.INC", data.orders);
}

}  // namespace bench
