#include "cli/card_table.h"

#include <cstdlib>
#include <iomanip>
#include <string>

#include "store/telefon.h"

namespace cli {
namespace {

constexpr int kBalanceWidth = 11;  // "-2147483648"
constexpr int kNumberWidth = 20;   // telephone and last numbers of usual length
constexpr int kLockedWidth = 6;
constexpr int kRecordWidth = 10;

bool Locked(const PrepaidCard& card) { return (card.flags & PREPAID_CARD_LOCKED) != 0; }

bool Highlight() {
  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return !(noColor && *noColor) && !(term && std::string(term) == "dumb");
}

}  // namespace

CardTable::CardTable(std::ostream& out, Format format, uint16_t cardDigits, bool terminal)
    : out_(out), format_(format), cardDigits_(cardDigits) {
  cardWidth_ = static_cast<int>(
      std::max<size_t>(Session::CardNumberText(0, cardDigits).size(), std::string("card").size()));
  switch (format_) {
    case Format::kTable: {
      const bool bold = terminal && Highlight();
      if (bold) out_ << "\x1b[1m";
      out_ << std::right << std::setw(cardWidth_) << "card"
           << "  " << std::setw(kBalanceWidth) << "balance"
           << "  " << std::left << std::setw(kNumberWidth) << "telephone"
           << "  " << std::setw(kNumberWidth) << "last number"
           << "  " << std::setw(kLockedWidth) << "locked"
           << "  " << std::right << std::setw(kRecordWidth) << "record";
      if (bold) out_ << "\x1b[0m";
      out_ << '\n';
      const int width =
          cardWidth_ + kBalanceWidth + 2 * kNumberWidth + kLockedWidth + kRecordWidth + 5 * 2;
      if (terminal) out_ << std::string(static_cast<size_t>(width), '-') << '\n';
      break;
    }
    case Format::kCsv:
      out_ << "card,balance,telephone,last_number,locked,record\n";
      break;
    case Format::kJson:
      object_ = {{"card", ""},        {"balance", 0},    {"telephone", ""},
                 {"last_number", ""}, {"locked", false}, {"record", 0}};
      out_ << '[';
      break;
  }
}

CardTable::~CardTable() {
  if (format_ == Format::kJson) out_ << (written_ > 0 ? "\n]\n" : "]\n");
  out_.flush();
}

void CardTable::Write(const PrepaidCard& card, int64_t index) {
  const std::string number = Session::CardNumberText(card.cardNumber, cardDigits_);
  const std::string telefon = store::TelefonText(card);
  const std::string last = store::LastNumberText(card);
  switch (format_) {
    case Format::kTable:
      out_ << std::right << std::setw(cardWidth_) << number << "  " << std::setw(kBalanceWidth)
           << card.balance << "  " << std::left << std::setw(kNumberWidth) << telefon << "  "
           << std::setw(kNumberWidth) << last << "  " << std::setw(kLockedWidth)
           << (Locked(card) ? "yes" : "no") << "  " << std::right << std::setw(kRecordWidth)
           << index << '\n';
      break;
    case Format::kCsv:
      out_ << number << ',' << card.balance << ',' << telefon << ',' << last << ','
           << (Locked(card) ? "yes" : "no") << ',' << index << '\n';
      break;
    case Format::kJson:
      object_["card"] = number;
      object_["balance"] = card.balance;
      object_["telephone"] = telefon;
      object_["last_number"] = last;
      object_["locked"] = Locked(card);
      object_["record"] = index;
      out_ << (written_ > 0 ? ",\n" : "\n")
           << object_.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
      break;
  }
  ++written_;
}

}  // namespace cli
