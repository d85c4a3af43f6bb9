#include "store/card_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testsupport/card_files.h"

namespace store {
namespace {

// Every field holds a value of its own (negative ones among them, a digit count above 127,
// flag bits beside the lock bit, two different reserved bytes), so a field read from the wrong
// offset, with the wrong width, byte order or sign, or not at all, shows up as a difference.
TEST(CardRecordTest, EveryFieldSitsAtItsOffsetInLittleEndianOrder) {
  PrepaidCard card{};
  card.cardNumber = -123456789;
  card.balance = 1000000;
  card.reserved[0] = 0xA5;
  card.reserved[1] = 0x5A;
  card.telefonDigits = 13;
  card.lastDigits = 200;
  card.lastHigh = -4930;
  card.lastLow = 123456789;
  card.flags = 0x80000401u;
  card.telefonHigh = 4930;
  card.telefonLow = -301234567;

  const unsigned char expected[kRecordSize] = {
      0xEB, 0x32, 0xA4, 0xF8,  //  0 cardNumber  -123456789
      0x40, 0x42, 0x0F, 0x00,  //  4 balance     1000000
      0xA5, 0x5A,              //  8 reserved
      0x0D,                    // 10 telefonDigits 13
      0xC8,                    // 11 lastDigits    200
      0xBE, 0xEC, 0xFF, 0xFF,  // 12 lastHigh    -4930
      0x15, 0xCD, 0x5B, 0x07,  // 16 lastLow     123456789
      0x01, 0x04, 0x00, 0x80,  // 20 flags       0x80000401
      0x42, 0x13, 0x00, 0x00,  // 24 telefonHigh 4930
      0x79, 0x86, 0x0B, 0xEE,  // 28 telefonLow  -301234567
  };
  const std::string expectedBytes(reinterpret_cast<const char*>(expected), sizeof expected);

  // The test support's independent encoder agrees with the table above, so the other store
  // tests that build files with it build them in the real format.
  EXPECT_EQ(testsupport::CardBytes(card), expectedBytes);

  unsigned char encoded[kRecordSize];
  std::memset(encoded, 0xEE, sizeof encoded);
  EncodeCard(card, encoded);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(encoded), sizeof encoded), expectedBytes);

  // Decoding into a card full of garbage must overwrite every field.
  PrepaidCard decoded;
  std::memset(&decoded, 0xEE, sizeof decoded);
  DecodeCard(expected, &decoded);
  EXPECT_EQ(decoded.cardNumber, -123456789);
  EXPECT_EQ(decoded.balance, 1000000);
  EXPECT_EQ(decoded.reserved[0], 0xA5);
  EXPECT_EQ(decoded.reserved[1], 0x5A);
  EXPECT_EQ(decoded.telefonDigits, 13);
  EXPECT_EQ(decoded.lastDigits, 200);
  EXPECT_EQ(decoded.lastHigh, -4930);
  EXPECT_EQ(decoded.lastLow, 123456789);
  EXPECT_EQ(decoded.flags, 0x80000401u);
  EXPECT_EQ(decoded.telefonHigh, 4930);
  EXPECT_EQ(decoded.telefonLow, -301234567);

  // Round trip of a second card with the extreme values of each width.
  PrepaidCard extreme{};
  extreme.cardNumber = INT32_MIN;
  extreme.balance = INT32_MAX;
  extreme.reserved[0] = 0xFF;
  extreme.reserved[1] = 0x01;
  extreme.telefonDigits = 255;
  extreme.lastDigits = 1;
  extreme.lastHigh = -1;
  extreme.lastLow = INT32_MIN;
  extreme.flags = 0xFFFFFFFFu;
  extreme.telefonHigh = INT32_MAX;
  extreme.telefonLow = -1;
  unsigned char bytes[kRecordSize];
  EncodeCard(extreme, bytes);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), sizeof bytes),
            testsupport::CardBytes(extreme));
  PrepaidCard back;
  std::memset(&back, 0, sizeof back);
  DecodeCard(bytes, &back);
  EXPECT_TRUE(testsupport::SameCard(back, extreme));
}

}  // namespace
}  // namespace store
