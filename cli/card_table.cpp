#include "cli/card_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <string>
#include <string_view>

#include "store/number_text.h"
#include "store/telefon.h"

namespace cli {
namespace {

constexpr size_t kBalanceWidth = 11;  // "-2147483648"
constexpr size_t kNumberWidth = 20;   // telephone and last numbers of usual length
constexpr size_t kLockedWidth = 6;
constexpr size_t kRecordWidth = 10;
constexpr size_t kGaps = size_t{5} * 2;   // two blanks between each two of the six columns
constexpr size_t kWidestCardNumber = 10;  // 32 bits

// The block is handed to the stream once it holds this much; a row never needs more than the
// room beyond it (two numbers of up to 255 digits, the rest well under 256 characters).
constexpr size_t kFlushAt = size_t{1} << 18;
constexpr size_t kRowRoom = 2 * store::kNumberTextRoom + 256;

bool Locked(const PrepaidCard& card) { return (card.flags & PREPAID_CARD_LOCKED) != 0; }

bool Highlight() {
  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return !(noColor && *noColor) && !(term && std::string(term) == "dumb");
}

char* Put(std::string_view text, char* out) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Blanks up to `width` after the `length` characters that end at `end`.
char* PadRight(char* end, size_t length, size_t width) {
  if (length >= width) return end;
  std::memset(end, ' ', width - length);
  return end + (width - length);
}

// Writes a column right-aligned in `width`: `write` puts the text at the place it is given and
// returns its end.
template <typename Write>
char* RightAligned(size_t width, char* out, const Write& write) {
  char* const end = write(out);
  const auto length = static_cast<size_t>(end - out);
  if (length >= width) return end;
  std::memmove(out + (width - length), out, length);
  std::memset(out, ' ', width - length);
  return out + width;
}

}  // namespace

CardTable::CardTable(std::ostream& out, Format format, uint16_t cardDigits, bool terminal)
    : out_(out),
      format_(format),
      cardDigits_(std::min<size_t>(cardDigits, kWidestCardNumber)),
      block_(new char[kFlushAt + kRowRoom]) {
  cardWidth_ = std::max<size_t>(Session::CardNumberText(0, cardDigits).size(), 4);
  switch (format_) {
    case Format::kTable: {
      const bool bold = terminal && Highlight();
      const auto width = [](size_t w) { return std::setw(static_cast<int>(w)); };
      if (bold) out_ << "\x1b[1m";
      out_ << std::right << width(cardWidth_) << "card"
           << "  " << width(kBalanceWidth) << "balance"
           << "  " << std::left << width(kNumberWidth) << "telephone"
           << "  " << width(kNumberWidth) << "last number"
           << "  " << width(kLockedWidth) << "locked"
           << "  " << std::right << width(kRecordWidth) << "record";
      if (bold) out_ << "\x1b[0m";
      out_ << '\n';
      const size_t rule =
          cardWidth_ + kBalanceWidth + 2 * kNumberWidth + kLockedWidth + kRecordWidth + kGaps;
      if (terminal) out_ << std::string(rule, '-') << '\n';
      break;
    }
    case Format::kCsv:
      out_ << "card,balance,telephone,last_number,locked,record\n";
      break;
    case Format::kJson:
      out_ << '[';
      break;
  }
}

CardTable::~CardTable() {
  Flush();
  if (format_ == Format::kJson) out_ << (written_ > 0 ? "\n]\n" : "]\n");
  out_.flush();
}

void CardTable::Write(const PrepaidCard& card, int64_t index) {
  char* const row = block_.get() + used_;
  char* end = row;
  switch (format_) {
    case Format::kTable:
      end = TableRow(card, index, row);
      break;
    case Format::kCsv:
      end = CsvRow(card, index, row);
      break;
    case Format::kJson:
      end = JsonRow(card, index, row);
      break;
  }
  used_ += static_cast<size_t>(end - row);
  ++written_;
  if (used_ >= kFlushAt) Flush();
}

void CardTable::Flush() {
  out_.write(block_.get(), static_cast<std::streamsize>(used_));
  used_ = 0;
}

char* CardTable::TableRow(const PrepaidCard& card, int64_t index, char* out) const {
  out = RightAligned(cardWidth_, out, [&](char* at) {
    return store::WriteZeroPadded(card.cardNumber, cardDigits_, at);
  });
  out = Put("  ", out);
  out = RightAligned(kBalanceWidth, out,
                     [&](char* at) { return store::WriteDecimal(card.balance, at); });
  out = Put("  ", out);
  char* const telefon = out;
  out = store::WriteTelefonText(card, out);
  out = PadRight(out, static_cast<size_t>(out - telefon), kNumberWidth);
  out = Put("  ", out);
  char* const last = out;
  out = store::WriteLastNumberText(card, out);
  out = PadRight(out, static_cast<size_t>(out - last), kNumberWidth);
  out = Put(Locked(card) ? "  yes     " : "  no      ", out);
  out = RightAligned(kRecordWidth, out, [&](char* at) { return store::WriteDecimal(index, at); });
  *out++ = '\n';
  return out;
}

char* CardTable::CsvRow(const PrepaidCard& card, int64_t index, char* out) const {
  out = store::WriteZeroPadded(card.cardNumber, cardDigits_, out);
  *out++ = ',';
  out = store::WriteDecimal(card.balance, out);
  *out++ = ',';
  out = store::WriteTelefonText(card, out);
  *out++ = ',';
  out = store::WriteLastNumberText(card, out);
  out = Put(Locked(card) ? ",yes," : ",no,", out);
  out = store::WriteDecimal(index, out);
  *out++ = '\n';
  return out;
}

// The texts hold only digits and a minus sign: nothing to escape.
char* CardTable::JsonRow(const PrepaidCard& card, int64_t index, char* out) const {
  out = Put(written_ > 0 ? ",\n{\"card\":\"" : "\n{\"card\":\"", out);
  out = store::WriteZeroPadded(card.cardNumber, cardDigits_, out);
  out = Put("\",\"balance\":", out);
  out = store::WriteDecimal(card.balance, out);
  out = Put(",\"telephone\":\"", out);
  out = store::WriteTelefonText(card, out);
  out = Put("\",\"last_number\":\"", out);
  out = store::WriteLastNumberText(card, out);
  out =
      Put(Locked(card) ? "\",\"locked\":true,\"record\":" : "\",\"locked\":false,\"record\":", out);
  out = store::WriteDecimal(index, out);
  *out++ = '}';
  return out;
}

}  // namespace cli
