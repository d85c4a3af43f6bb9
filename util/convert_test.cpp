#include "util/convert.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "testsupport/file_test.h"

extern "C" int ConvertCalledFromC(void);

namespace {

using platform::FileOp;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

// The one byte that iconv converts `byte` to between two code pages, or -1 when it has none.
int IconvByte(const char* to, const char* from, unsigned char byte) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -2;
  char in[1] = {static_cast<char>(byte)};
  char out[8];
  char* inPtr = in;
  char* outPtr = out;
  size_t inLeft = 1, outLeft = sizeof out;
  const size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<size_t>(-1) || outPtr - out != 1) return -1;
  return static_cast<unsigned char>(out[0]);
}

unsigned char ToDos(unsigned char c) {
  char byte = static_cast<char>(c);
  CONVERT_Ansi2Ibm(&byte, 1);
  return static_cast<unsigned char>(byte);
}

unsigned char ToAnsi(unsigned char c) {
  char byte = static_cast<char>(c);
  CONVERT_Ibm2Ansi(&byte, 1);
  return static_cast<unsigned char>(byte);
}

TEST(ConvertTest, DosTableIsThePcCharacterSetWhereItHasTheCharacter) {
  // The no-break space, the middle dot, í and ò get plain substitutes although the PC set has
  // them; every other character the PC set has must be its own byte there.
  const std::vector<int> substitutedOnPurpose = {0xA0, 0xB7, 0xED, 0xF2};
  int compared = 0;
  for (int c = 0xA0; c <= 0xFF; ++c) {
    const int expected = IconvByte("CP437", "CP1252", static_cast<unsigned char>(c));
    ASSERT_NE(expected, -2) << "iconv lacks CP437";
    if (expected < 0 || std::count(substitutedOnPurpose.begin(), substitutedOnPurpose.end(), c)) {
      continue;
    }
    EXPECT_EQ(ToDos(c), expected) << std::hex << "ANSI 0x" << c;
    ++compared;
  }
  EXPECT_EQ(compared, 49);
  for (int c = 0; c < 0xA0; ++c) EXPECT_EQ(ToDos(c), c <= 0x80 ? c : '?') << std::hex << c;
}

TEST(ConvertTest, DosToAnsiTakesTheLowestAnsiCodeOfEachDosByte) {
  EXPECT_EQ(ToAnsi(0x93), 0xD4);  // ô, but Ô comes first
  EXPECT_EQ(ToAnsi(0x81), 0xFC);
  EXPECT_EQ(ToAnsi(0xC4), 0xAD);
  EXPECT_EQ(ToAnsi(0xFC), 0xB3);
  EXPECT_EQ(ToAnsi(0xB0), 0xB0);  // a shade block: no ANSI code maps to it
  for (int dos = 0; dos <= 0xFF; ++dos) {
    int lowest = -1;
    for (int c = 0xA0; c <= 0xFF && lowest < 0; ++c) {
      if (ToDos(c) == dos) lowest = c;
    }
    const int expected = dos >= 0x80 && lowest >= 0 ? lowest : dos;
    EXPECT_EQ(ToAnsi(dos), expected) << std::hex << "DOS 0x" << dos;
  }
}

TEST(ConvertTest, SevenAndFiveBitReductions) {
  struct Case {
    std::string text;
    int32_t length;
    std::string plain7;
    int32_t counted;
    std::string plain5;
  };
  const Case cases[] = {
      {"Grüße » 5 ÷ 2", 13, "Gruse > 5 % 2", 8, "GRUSE ) 5 / 2"},
      {"a*b@c!", 6, "a*b@c!", 0, "AxB/C."},
      {std::string("\x80\x81\xA0\0A", 5), 5, std::string("\x80??\0A", 5), 3,
       std::string("????A", 5)},
      {"Ää;x", 2, "Aa;x", 2, "AA;X"},  // only `length` bytes convert, all are upper-cased
      {"\tÆ[x]", 0, "\tÆ[x]", 0, "\tÆ[x]"},
      {"Ø\xDE\xFE\xD7", 4, "0DDx", 4, "0DDX"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(CONVERT_Ansi2Plain7(text.data(), c.length), c.counted) << c.text;
    EXPECT_EQ(text, c.plain7);
    text = c.text;
    CONVERT_Ansi2Plain5(text.data(), c.length);
    EXPECT_EQ(text, c.plain5);
  }
}

TEST(ConvertTest, UmlautExpansion) {
  char text[2000] = "Maß: 5€";
  EXPECT_EQ(CONVERT_ExpandUmlaute(text, 7), 2);
  EXPECT_STREQ(text, "Mass: 5EUR");
  std::strcpy(text, "ÄÖÜäöüßé");
  EXPECT_EQ(CONVERT_ExpandUmlaute(text, 100), 7);
  EXPECT_STREQ(text, "AeOeUeaeoeuessé");
  std::strcpy(text, "Müller");
  EXPECT_EQ(CONVERT_ExpandUmlaute(text, 2), 1);
  EXPECT_STREQ(text, "Mue");
  EXPECT_EQ(CONVERT_ExpandUmlaute(text, 0), 0);
  EXPECT_STREQ(text, "");

  // At most 499 characters take part.
  for (auto [length, expanded] : {std::pair{498, 498}, {499, 499}, {500, 499}}) {
    std::memset(text, 0, sizeof text);
    std::memset(text, '\xE4', 600);
    EXPECT_EQ(CONVERT_ExpandUmlaute(text, length), expanded);
    EXPECT_EQ(std::strlen(text), 2u * expanded) << length;
  }
}

TEST(ConvertTest, Check8BitConvertsTextsWithFewEightBitBytesWhole) {
  char text[2000] = "Grüße";  // 40 percent
  EXPECT_EQ(CONVERT_Check8Bit(text), text);
  EXPECT_STREQ(text, "Grüße");
  std::strcpy(text, "Müller GmbH");
  EXPECT_STREQ(CONVERT_Check8Bit(text), "Mueller GmbH");
  std::strcpy(text, "Straße ÷ Ort");
  EXPECT_STREQ(CONVERT_Check8Bit(text), "Strasse % Ort");

  for (auto [eightBit, converts] : {std::pair{33, true}, {34, true}, {35, false}}) {
    std::string original = std::string(eightBit, '\xF6') + std::string(100 - eightBit, 'o');
    std::string expected = original;
    if (converts) {
      expected.clear();
      for (int i = 0; i < eightBit; ++i) expected += "oe";
      expected += std::string(100 - eightBit, 'o');
    }
    std::strcpy(text, original.c_str());
    CONVERT_Check8Bit(text);
    EXPECT_EQ(text, expected) << eightBit;
  }
  // A long text is converted to its end, not cut where the umlaut expansion's own limit lies.
  std::string longText = std::string(600, 'x') + "ü.";
  std::strcpy(text, longText.c_str());
  EXPECT_EQ(std::string(CONVERT_Check8Bit(text)), std::string(600, 'x') + "ue.");
}

TEST(ConvertTest, Utf8Decoding) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xC3\xA4", "\xE4"},
      {"\xE2\x82\xAC", "\x80"},
      {"\xE2\x80\x9C"
       "x\xE2\x80\x9F",
       "\"x\""},
      {"\xE2\x80\x98\xE2\x80\x99\xE2\x80\xA0", "'''"},
      {"\xE2\x82\xA1\xE2\x82\xA4", "\xA2\xA3"},
      {"a\xF0\x9F\x98\x80z", "a?z"},  // four-byte sequence
      {"\x80\xBF\xBFz", "?z"},        // stray continuation bytes
      {"\xC0\xBF\xC1\x81", "?\xC1"},  // U+003F, then U+0041 (continuations are not tested)
      {"\xC3\x41", "\xC1"},
      {"\xE4\xB8\x80", "\x80"},  // any other code point: its low seven bits
      {"ab\xC3", "ab?"},         // cut short by the terminator
      {"\xE2\x82", "?"},
      {"\xE2", "?"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) {
    std::string text = in;
    CONVERT_UTF82Ansi(text.data());
    EXPECT_EQ(std::string(text.c_str()), out);
  }
  for (int c = 0x80; c <= 0xFF; ++c) {
    std::string text = {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    CONVERT_UTF82Ansi(text.data());
    EXPECT_EQ(std::string(text.c_str()), std::string(1, static_cast<char>(c)));
  }
}

TEST(ConvertTest, SwitchCharReplacesEveryOccurrenceEvenByTheTerminator) {
  char text[] = "a,b,,c";
  EXPECT_EQ(CONVERT_SwitchChar(text, ',', '\0'), 1);
  EXPECT_EQ(std::string(text, sizeof text), std::string("a\0b\0\0c\0", 7));
  EXPECT_EQ(CONVERT_SwitchChar(nullptr, 'a', 'b'), 1);
}

TEST(ConvertTest, ByteCountTexts) {
  const struct {
    uint32_t value, width;
    std::string text;
  } cases[] = {
      {0, 0, "0"},
      {999, 5, "  999"},
      {1000, 0, "1.000"},
      {999999, 3, "999.999"},
      {1000000, 0, "1.000.000"},
      {1234567, 12, "   1.234.567"},
      {999999999, 0, "999.999.999"},
      {1000000000, 0, "1.000.000.000"},
      {4294967295u, 0, "4.294.967.295"},
      {7, 98, std::string(97, ' ') + "7"},
      {7, 99, std::string(98, ' ') + "7"},
      {7, 100, std::string(98, ' ') + "7"},
      {7, 4000000000u, std::string(98, ' ') + "7"},
  };
  for (const auto& c : cases) EXPECT_EQ(CONVERT_ByteString(c.value, c.width), c.text);

  EXPECT_STREQ(CONVERT_KByteString(4096, 0), "4096");
  EXPECT_STREQ(CONVERT_KByteString(4096, 1), "4096 ");
  EXPECT_STREQ(CONVERT_KByteString(5120, 0), "5120");
  EXPECT_STREQ(CONVERT_KByteString(5121, 1), "5 K");
  EXPECT_STREQ(CONVERT_KByteString(4294967295u, 0), "4194303 K");
}

TEST(ConvertTest, PublicHeaderWorksFromC) { EXPECT_EQ(ConvertCalledFromC(), 1); }

class ConvertFileTest : public testsupport::FileTest {
 protected:
  // Bytes of every value, CR LF line ends among them.
  static std::string Sample(size_t size) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i)
      bytes.push_back(i % 40 == 38 ? '\r' : i % 40 == 39 ? '\n' : static_cast<char>(i * 7));
    return bytes;
  }
  static std::string Converted(std::string bytes, void (*convert)(char*, int32_t)) {
    convert(bytes.data(), static_cast<int32_t>(bytes.size()));
    return bytes;
  }
};

TEST_F(ConvertFileTest, ConvertsEveryBlockAndKeepsLineEnds) {
  for (size_t size : {0, 499, 500, 501, 1500, 70001}) {
    const std::string original = Sample(size);
    WriteFile(Path("ansi.txt"), original);
    WriteFile(Path("dos.txt"), "older and longer content that must go");
    CONVERT_File_Ansi2Dos(Path("dos.txt").c_str(), Path("ansi.txt").c_str());
    EXPECT_EQ(ReadFile(Path("dos.txt")), Converted(original, CONVERT_Ansi2Ibm)) << size;
    CONVERT_File_Dos2Ansi(Path("back.txt").c_str(), Path("dos.txt").c_str());
    EXPECT_EQ(ReadFile(Path("back.txt")), Converted(ReadFile(Path("dos.txt")), CONVERT_Ibm2Ansi));
  }
}

TEST_F(ConvertFileTest, NothingHalfWrittenIsLeftBehind) {
  WriteFile(Path("source"), Sample(1200));
  WriteFile(Path("existing"), "keep");

  // A source that cannot be opened leaves the destination alone.
  CONVERT_File_Ansi2Dos(Path("existing").c_str(), Path("missing").c_str());
  CONVERT_File_Ansi2Dos(Path("new").c_str(), Path("missing").c_str());
  EXPECT_EQ(ReadFile(Path("existing")), "keep");
  EXPECT_FALSE(FileExists(Path("new")));

  // Onto itself: refused before the file is emptied.
  CONVERT_File_Ansi2Dos(Path("source").c_str(), Path("source").c_str());
  EXPECT_EQ(ReadFile(Path("source")), Sample(1200));

  // A failure on the way: no destination is left, and the source is untouched.
  // Writes and reads fail at their second block, after a first one went through.
  const struct {
    FileOp op;
    std::string failing, destination;
  } faults[] = {
      {FileOp::kTruncate, Path("new"), Path("new")},
      {FileOp::kWrite, Path("new"), Path("new")},
      {FileOp::kWrite, Path("existing"), Path("existing")},
      {FileOp::kRead, Path("source"), Path("new")},
  };
  for (const auto& fault : faults) {
    int calls = 0;
    platform::ScopedFaultHook hook([&](FileOp op, std::string_view path) {
      if (op != fault.op || path != fault.failing) return 0;
      return ++calls >= (op == FileOp::kTruncate ? 1 : 2) ? EIO : 0;
    });
    CONVERT_File_Dos2Ansi(fault.destination.c_str(), Path("source").c_str());
    EXPECT_GT(calls, 0);
    EXPECT_FALSE(FileExists(fault.destination)) << fault.destination;
    EXPECT_EQ(ReadFile(Path("source")), Sample(1200));
  }
}

}  // namespace
