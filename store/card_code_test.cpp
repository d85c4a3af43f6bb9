#include <cstdio>
#include <string>
#include <vector>

#include "store/prepaid.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"

namespace {

class CardCodeTest : public testsupport::FileTest {
 protected:
  // Codes of 6 card digits and 4 check digits; check words for card numbers 0 to 299.
  void SetUp() override {
    FileTest::SetUp();
    tables_ = testsupport::MakeCodeTables(6, 4, 300, 7);
    tables_.checkOffset = 17;
    Write();
  }
  void Write() { testsupport::WriteBinFile(Path("PREPAID.BIN"), tables_); }

  // The code whose reordered digits are `digits`: digit j comes from code position
  // positionTable[j] - 1.
  std::string CodeFor(const std::string& digits) const {
    std::string code(digits.size(), '?');
    for (size_t j = 0; j < digits.size(); ++j) {
      const int position = tables_.positionTable[j] - 1;
      code[static_cast<size_t>(position)] = Symbol(position, digits[j] - '0');
    }
    return code;
  }
  // The valid code of `card`: six card digits, then word + offset as four digits.
  std::string ValidCode(int card) const {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d%04u", card,
                  tables_.checkWords.at(static_cast<size_t>(card)) + unsigned{tables_.checkOffset});
    return CodeFor(digits);
  }
  char Symbol(int position, int digit) const {
    return static_cast<char>(tables_.symbolTable[position][digit]);
  }
  // The caller's text once every symbol of `code` is decoded: digits in input order.
  std::string DecodedText(const std::string& code) const {
    std::string digits;
    for (size_t i = 0; i < code.size(); ++i) {
      for (int j = 0; j < 10; ++j) {
        if (Symbol(static_cast<int>(i), j) == code[i]) {
          digits += static_cast<char>('0' + j);
          break;
        }
      }
    }
    return digits;
  }

  // Decodes `code` with `cardDigits`; `*after` receives the caller's text afterwards.
  int32_t Decode(const std::string& code, std::string* after = nullptr, uint16_t cardDigits = 6) {
    PrepaidConfig config{1, 0, cardDigits, 99};
    std::vector<char> text(code.begin(), code.end());
    text.push_back('\0');
    const int32_t result = Prepaid_GetSerialNumber(Dir().c_str(), text.data(), &config);
    if (after) *after = text.data();
    return result;
  }

  testsupport::CodeTables tables_;
};

TEST_F(CardCodeTest, ValidCodesGiveTheirCardNumberAndLeaveTheDigitsInInputOrder) {
  for (int card : {0, 1, 42, 150, 299}) {
    SCOPED_TRACE(card);
    const std::string code = ValidCode(card);
    EXPECT_EQ(code, testsupport::EncodeCardCode(tables_, card));
    std::string after;
    EXPECT_EQ(Decode(code, &after), card);
    EXPECT_EQ(after, DecodedText(code));
  }
  // One check value off: refused, the text decoded all the same.
  const unsigned check = tables_.checkWords[42] + unsigned{tables_.checkOffset};
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06d%04u", 42, (check + 1) % 10000);
  std::string after;
  EXPECT_EQ(Decode(CodeFor(digits), &after), -1);
  EXPECT_EQ(after, DecodedText(CodeFor(digits)));
  // The check value is compared without 16-bit wrapping: word 65535 + offset 17 is 65552.
  tables_ = testsupport::MakeCodeTables(6, 5, 10, 9);
  tables_.checkWords[3] = 65535;
  tables_.checkOffset = 17;
  Write();
  EXPECT_EQ(Decode(CodeFor("00000365552")), 3);
  EXPECT_EQ(Decode(CodeFor("00000300016")), -1);
}

TEST_F(CardCodeTest, DuplicateSymbolsLeadingZerosAndCodesWithoutCheckDigits) {
  // Digit 5 of the reordered result is the card number's last digit; make its symbol for 5 the
  // same as its symbol for 2: the code then means card 2.
  const std::string code = ValidCode(5);
  tables_.checkWords[2] = tables_.checkWords[5];
  const int position = tables_.positionTable[5] - 1;
  tables_.symbolTable[position][2] = tables_.symbolTable[position][5];
  Write();
  EXPECT_EQ(Decode(code), 2);

  // Exactly cardDigits symbols: the check value is 0, valid only when word + offset is 0.
  tables_ = testsupport::MakeCodeTables(4, 0, 20, 3);
  tables_.checkOffset = 0;
  tables_.checkWords[7] = 0;
  tables_.checkWords[8] = 1;
  Write();
  EXPECT_EQ(Decode(CodeFor("0007"), nullptr, 4), 7);
  EXPECT_EQ(Decode(CodeFor("0008"), nullptr, 4), -1);
}

TEST_F(CardCodeTest, FailuresLeaveTheTextAsFarAsDecoded) {
  const std::string code = ValidCode(123);
  std::string after;

  // An unknown symbol at position 3: positions 0 to 2 decoded, the rest as entered.
  std::string bad = code;
  bad[3] = '!';
  EXPECT_EQ(Decode(bad, &after), -1);
  EXPECT_EQ(after, DecodedText(code).substr(0, 3) + bad.substr(3));

  // A position table whose first ten entries lack a position: decoded, then refused.
  for (int j = 0; j < 16; ++j) {
    if (tables_.positionTable[j] == 4) tables_.positionTable[j] = 12;
  }
  Write();
  EXPECT_EQ(Decode(code, &after), -1);
  EXPECT_EQ(after, DecodedText(code));
}

TEST_F(CardCodeTest, CodesAndCardNumbersOutsideTheTablesAreRefused) {
  const std::string code = ValidCode(10);
  struct Case {
    const char* what;
    std::string code;
    uint16_t cardDigits;
    bool decoded;  // whether the symbols are replaced before the refusal
  };
  const std::vector<Case> cases = {
      {"17 symbols", code + code.substr(0, 7), 6, false},
      {"shorter than the card number", code.substr(0, 4), 6, true},
      {"empty code", "", 6, true},
      {"wrapped card digit count", code, 65535, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string after;
    EXPECT_EQ(Decode(c.code, &after, c.cardDigits), -1);
    EXPECT_EQ(after, c.decoded ? DecodedText(c.code) : c.code);
  }

  // Ten card digits: a card number past the check word table, and one past the 32-bit range.
  tables_ = testsupport::MakeCodeTables(10, 2, 300, 11);
  tables_.checkOffset = 0;
  tables_.checkWords[299] = 5;
  Write();
  EXPECT_EQ(Decode(CodeFor("000000029905"), nullptr, 10), 299);
  EXPECT_EQ(Decode(CodeFor("000000030005"), nullptr, 10), -1);
  EXPECT_EQ(Decode(CodeFor("999999999900"), nullptr, 10), -1);
  EXPECT_EQ(Decode(CodeFor("214748364800"), nullptr, 10), -1);

  // A missing PREPAID.BIN, and one whose header is cut short: nothing decoded.
  std::string after;
  testsupport::WriteFile(Path("PREPAID.BIN"), testsupport::BinBytes(tables_).substr(0, 183));
  EXPECT_EQ(Decode(code, &after), -1);
  EXPECT_EQ(after, code);
  std::remove(Path("PREPAID.BIN").c_str());
  EXPECT_EQ(Decode(code, &after), -1);
  EXPECT_EQ(after, code);
}

}  // namespace
