// Prepares a demo data directory with a realistic card store and lists its cards:
//   make_demo DIR
// DIR gets PREPAID.DAT (a few dozen cards: ordinary, empty, locked, a negative balance,
// telephone numbers of 0 to 12 digits with leading zeros, last numbers), PREPAID.BIN with real
// code tables for 6-digit card numbers and 4 check digits, with a check word for every card
// number up to the highest card's (so `lindavox-prepaid check` finds all well), and
// LINDAVOX.INI. Existing files of those names are replaced; nothing else in DIR is touched.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "store/prepaid.h"
#include "testsupport/card_files.h"
#include "testsupport/ini_text.h"
#include "testsupport/temp_dir.h"

using testsupport::CardBuilder;

namespace {

constexpr int kCardDigits = 6;
constexpr int kCheckDigits = 4;

std::vector<PrepaidCard> DemoCards() {
  std::vector<PrepaidCard> cards = {
      CardBuilder(1).Balance(500).Telefon("0301234567").Last("004930123456").Build(),
      CardBuilder(2).Balance(1200).Telefon("").Build(),
      CardBuilder(3).Balance(0).Telefon("12345").Last("110").Build(),
      CardBuilder(4).Balance(75).Telefon("004989123456").Last("0891234567").Build(),
      CardBuilder(5).Balance(-20).Telefon("0711987654").Build(),
      CardBuilder(6).Balance(300).Telefon("00042").Locked().Build(),
      CardBuilder(7).Balance(0).Locked().Build(),
      CardBuilder(8).Balance(1000000000).Telefon("0049301234").Last("0049301234").Build(),
      CardBuilder(42).Balance(42).Telefon("0000000000").Last("00000").Build(),
      CardBuilder(100).Balance(250).Telefon("0221555123").Last("0221555999").Build(),
      CardBuilder(123456).Balance(99999).Telefon("0123456789").Last("000123").Build(),
      CardBuilder(999).Balance(10).Telefon("09876").Reserved(7, 1).Build(),
  };
  // A run of ordinary cards with assorted telephone numbers.
  static const char* kTelefons[] = {"",      "01234",      "0301112233",   "004930999888",
                                    "98765", "0401234567", "000012345678", "0000000001"};
  for (int i = 0; i < 28; ++i) {
    CardBuilder card(1000 + i * 7);
    card.Balance(i % 5 == 0 ? 0 : 20 * i + 5).Telefon(kTelefons[i % 8]);
    if (i % 3 == 0) card.Last(i % 2 ? "0306543210" : "0049891234567");
    if (i % 9 == 4) card.Locked();
    cards.push_back(card.Build());
  }
  return cards;
}

void ListCards(const std::string& dir) {
  PrepaidConfig config{};
  const int32_t configRead = Prepaid_ReadConfig(dir.c_str(), &config);
  std::printf("Demo card store: %s\n", dir.c_str());
  std::printf("PREPAID.BIN read: %s, card digits %u, check digits %u\n\n",
              configRead ? "yes" : "no", config.cardDigits, config.checkDigits);
  std::printf("%6s  %11s  %-6s  %-14s  %-14s\n", "card", "balance", "state", "telephone",
              "last number");
  for (const PrepaidCard& card : testsupport::ReadCardFile(dir + "PREPAID.DAT")) {
    const bool locked = card.flags & PREPAID_CARD_LOCKED;
    std::printf(
        "%6d  %11d  %-6s  %-14s  %-14s\n", card.cardNumber, card.balance,
        locked ? "locked" : (card.balance == 0 ? "empty" : "ok"),
        testsupport::NumberText(card.telefonHigh, card.telefonLow, card.telefonDigits).c_str(),
        testsupport::NumberText(card.lastHigh, card.lastLow, card.lastDigits).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  if (dir.empty() || dir.back() != '/') dir += '/';
  ::mkdir(dir.c_str(), 0755);
  const std::vector<PrepaidCard> cards = DemoCards();
  testsupport::WriteCardFile(dir + "PREPAID.DAT", cards);
  const int32_t highest = std::max_element(cards.begin(), cards.end(), [](auto& a, auto& b) {
                            return a.cardNumber < b.cardNumber;
                          })->cardNumber;
  testsupport::WriteBinFile(
      dir + "PREPAID.BIN",
      testsupport::MakeCodeTables(kCardDigits, kCheckDigits, highest + 1, 20261207));
  testsupport::WriteFile(
      dir + "LINDAVOX.INI",
      testsupport::IniText(
          {{"Common", {{"PrepaidMode", "Link"}, {"PrepaidEnd", "Hangup"}, {"Language", ""}}}}));
  ListCards(dir);
  return 0;
}
