#include "util/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Encode(const std::string& text) {
  std::string out(1400, '#');
  EXPECT_EQ(CONVERT_Encode64(out.data(), text.c_str()), 1);
  return out.c_str();
}

std::string Decode(const std::string& data, int32_t length) {
  std::string out(800, '#');
  EXPECT_EQ(CONVERT_Decode64(out.data(), data.c_str(), length), 1);
  return out.c_str();
}

std::string Decode(const std::string& data) {
  return Decode(data, static_cast<int32_t>(data.size()));
}

TEST(Base64Test, TestVectorsOfRfc4648BothWays) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [text, encoded] : vectors) {
    EXPECT_EQ(Encode(text), encoded);
    EXPECT_EQ(Decode(encoded), text);
  }
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte.push_back(static_cast<char>(c));
  EXPECT_EQ(Encode("\xFF\xFE\xFD"), "//79");
  EXPECT_EQ(Decode(Encode(everyByte)), everyByte);
}

TEST(Base64Test, DecodingIsLenient) {
  const std::pair<std::string, std::string> cases[] = {
      {"QQ", "A"},  // padding left out
      {"QUJD", "ABC"},
      {"QUI=", "AB"},
      {"Zm9v\r\nYmFy", "foobar"},  // line breaks and blanks skipped
      {" Zm 9v\t", "foo"},
      {"Zm9v*Ym!Fy", "foobar"},
      {"====", ""},
      {"Q", ""},             // a single character makes no byte
      {"AAAAQUJD", "ABC"},   // a group of zero bytes adds nothing
      {"QQBCQUJD", "AABC"},  // a zero byte drops the rest of its group
  };
  for (const auto& [data, text] : cases) EXPECT_EQ(Decode(data), text) << data;
  EXPECT_EQ(Decode("QUJDQUJD", 4), "ABC");
  EXPECT_EQ(Decode("QUJD", 0), "");
  EXPECT_EQ(Decode("QUJD", -1), "");
  EXPECT_EQ(Decode("QU", 100), "A");  // stops at the terminator
}

TEST(Base64Test, InputsAreCutToTheirFirst999Characters) {
  const std::string text(1200, 'x');
  const std::string data = Encode(text.substr(0, 999)) + Encode(text.substr(0, 300));
  std::string groups;  // "xxx" is "eHh4", "xx" is "eHg="
  for (int i = 0; i < 332; ++i) groups += "eHh4";
  EXPECT_EQ(Encode(text.substr(0, 998)), groups + "eHg=");
  EXPECT_EQ(Encode(text.substr(0, 999)), groups + "eHh4");
  EXPECT_EQ(Encode(text.substr(0, 1000)), groups + "eHh4");
  for (int32_t length : {998, 999, 1000}) {
    // 998 characters: 249 groups and one of two; 999: a last group of three.
    EXPECT_EQ(Decode(data, length).size(), length == 998 ? 748u : 749u) << length;
  }
}

TEST(Base64Test, HelperGivesTheAlphabetValueAndZeroOutsideIt) {
  const std::pair<char, int32_t> cases[] = {{'A', 0},  {'Z', 25}, {'a', 26}, {'z', 51},
                                            {'0', 52}, {'9', 61}, {'+', 62}, {'/', 63},
                                            {'=', 0},  {'\n', 0}, {'-', 0},  {'\xC4', 0}};
  for (const auto& [c, value] : cases) EXPECT_EQ(CONVERT_base64helper(c), value) << c;
}

TEST(Base64Test, Rot13TurnsLettersOnlyAndTwiceGivesTheTextBack) {
  char text[] = "Hallo, Welt! AZaz nm ÄÖü 09";
  EXPECT_EQ(CONVERT_ROT13(text), text);
  EXPECT_STREQ(text, "Unyyb, Jryg! NMnm az ÄÖü 09");
  CONVERT_ROT13(text);
  EXPECT_STREQ(text, "Hallo, Welt! AZaz nm ÄÖü 09");
  EXPECT_EQ(CONVERT_ROT13(nullptr), nullptr);
}

TEST(Base64Test, NullArguments) {
  EXPECT_EQ(CONVERT_Encode64(nullptr, "A"), 0);
  EXPECT_EQ(CONVERT_Decode64(nullptr, "QQ", 2), 0);
  EXPECT_EQ(Encode(std::string()), "");
  char out[4] = "###";
  EXPECT_EQ(CONVERT_Decode64(out, nullptr, 5), 1);
  EXPECT_STREQ(out, "");
}

}  // namespace
