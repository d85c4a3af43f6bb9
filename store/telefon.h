// The telephone number and the last number of a card record as digit texts.
//
// A number is stored as two signed 32-bit parts and a digit count that includes leading zeros.
// The telephone number's low part holds its last nine digits and the high part the digits before
// them; the last number is split by the telephony server, and this code only rebuilds it.
#ifndef LINDAVOX_STORE_TELEFON_H
#define LINDAVOX_STORE_TELEFON_H

#include <cstddef>
#include <string>
#include <string_view>

#include "store/prepaid.h"

namespace store {

// The telephone number as the card editor shows it: "%d%09d" of both parts from ten digits on,
// "%d" of the low part from one to nine, empty for none; then zeros in front up to
// `telefonDigits` characters, but never beyond `capacity` - 1 characters and never when the
// text is already that long.
std::string TelefonText(const PrepaidCard& card, size_t capacity = std::string::npos);

// Puts a telephone text into the card as the card editor saves it: its last nine characters as
// the low part, the characters before them as the high part, its length as the digit count
// (each part read as a decimal number up to its first non-digit).
void SetTelefon(PrepaidCard* card, const std::string& text);

// True when `text` is a telephone number that SetTelefon stores without loss: digits only, at
// most 255 of them, and the digits before the last nine forming a number of 32 bits.
bool TelefonFits(std::string_view text);

// The last number as the balance query shows it: "%d%d" of both parts from ten digits on, "%d"
// of the low part from one to nine, empty for none; zeros in front up to `lastDigits`
// characters (a longer text stays as it is).
std::string LastNumberText(const PrepaidCard& card);

// The same two texts written at `out`, which has room for kNumberTextRoom characters; each
// returns the end of what it wrote. For listings of many cards.
inline constexpr size_t kNumberTextRoom = 256;
char* WriteTelefonText(const PrepaidCard& card, char* out);
char* WriteLastNumberText(const PrepaidCard& card, char* out);

// True when a number's parts and digit count agree: no negative part, nothing stored for a
// count of 0, and the text the parts give (before leading zeros are added) no longer than the
// count; for the telephone number also a low part of at most nine digits.
bool TelefonDigitsFit(const PrepaidCard& card);
bool LastDigitsFit(const PrepaidCard& card);

}  // namespace store

#endif
