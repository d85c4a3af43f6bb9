// libFuzzer target for the character-set conversions: arbitrary bytes, lengths and widths
// through every CONVERT_ function of util/convert.h. Each call gets a heap buffer of exactly the
// size its contract asks for, so ASan reports any byte read or written beyond it; the checks
// below catch results that break the functions' promises.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "testsupport/fuzz_support.h"
#include "util/convert.h"

namespace {

using fuzz::Require;

// A heap buffer of exactly `size` bytes holding `bytes` (cut to fit) and zeros behind them.
std::unique_ptr<char[]> Buffer(const std::string& bytes, size_t size) {
  std::unique_ptr<char[]> buffer(new char[size]);
  std::memset(buffer.get(), 0, size);
  std::memcpy(buffer.get(), bytes.data(), std::min(size, bytes.size()));
  return buffer;
}

void FuzzCodePages(const std::string& bytes) {
  auto data = Buffer(bytes, bytes.size() + 1);
  const auto length = static_cast<int32_t>(bytes.size());
  CONVERT_Ansi2Ibm(data.get(), length);
  const std::string dos(data.get(), bytes.size());
  CONVERT_Ibm2Ansi(data.get(), length);
  std::string again(data.get(), bytes.size());
  CONVERT_Ansi2Ibm(again.data(), length);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto before = static_cast<unsigned char>(bytes[i]);
    Require(before >= 0x80 || data[i] == bytes[i], "7-bit bytes pass both ways");
    Require(static_cast<unsigned char>(dos[i]) < 0x80 || again[i] == dos[i],
            "back and forth gives the same DOS byte");
  }
}

void FuzzReductions(const std::string& bytes, int32_t length) {
  const size_t size = bytes.size() + 1;
  auto text = Buffer(bytes, size);
  const int32_t convert = std::min<int32_t>(length, static_cast<int32_t>(bytes.size()));
  const int32_t counted = CONVERT_Ansi2Plain7(text.get(), convert);
  Require(counted >= 0 && counted <= std::max(convert, 0), "count within the length");
  for (int32_t i = 0; i < convert; ++i) {
    Require(static_cast<unsigned char>(text[i]) <= 0x80, "7 bits (and 0x80) remain");
  }
  text = Buffer(bytes, size);
  CONVERT_Ansi2Plain5(text.get(), convert);
  const std::string repertoire = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'()+,-./:=? x";
  for (int32_t i = 0; i < convert; ++i) {
    Require(repertoire.find(text[i]) != std::string::npos, "5-bit repertoire");
  }
}

void FuzzExpansion(const std::string& bytes, int32_t length) {
  const std::string text = bytes.substr(0, bytes.find('\0'));
  const size_t converted =
      std::min<size_t>({text.size(), length > 0 ? static_cast<size_t>(length) : 0, 499});
  auto buffer = Buffer(text, std::max(text.size(), 3 * converted) + 1);
  const int32_t expanded = CONVERT_ExpandUmlaute(buffer.get(), length);
  const size_t grown = std::strlen(buffer.get());
  Require(expanded >= 0 && static_cast<size_t>(expanded) <= converted, "expanded count");
  Require(grown >= converted + expanded && grown <= converted + 2 * expanded, "grown length");

  buffer = Buffer(text, 3 * text.size() + 1);
  CONVERT_Check8Bit(buffer.get());
  const std::string checked = buffer.get();
  if (checked != text) {
    for (char c : checked) Require(static_cast<unsigned char>(c) < 0x80, "7 bits after check");
  }
}

void FuzzUtf8(const std::string& bytes) {
  const std::string text = bytes.substr(0, bytes.find('\0'));
  auto buffer = Buffer(text, text.size() + 1);
  CONVERT_UTF82Ansi(buffer.get());
  Require(std::strlen(buffer.get()) <= text.size(), "UTF-8 decoding only shrinks");
}

void FuzzByteCounts(uint32_t value, uint32_t width, char find, char replacement,
                    const std::string& bytes) {
  const size_t length = std::strlen(CONVERT_ByteString(value, width));
  Require(length <= 99 && length >= std::min<uint32_t>(width, 99), "byte string width");
  Require(std::strlen(CONVERT_KByteString(value, static_cast<uint8_t>(width))) <= 12, "K text");
  auto text = Buffer(bytes, bytes.size() + 1);
  const size_t before = std::strlen(text.get());
  CONVERT_SwitchChar(text.get(), find, replacement);
  if (find != '\0' && replacement != '\0') {
    Require(std::strlen(text.get()) == before, "switching keeps the length");
  }
}

// The file conversions give exactly the in-memory conversion of the whole file.
void FuzzFiles(const std::string& bytes, bool toDos) {
  const std::string source = fuzz::Folder() + "source";
  const std::string destination = fuzz::Folder() + "destination";
  fuzz::WriteBytes(source, bytes);
  std::string expected = bytes;
  if (toDos) {
    CONVERT_File_Ansi2Dos(destination.c_str(), source.c_str());
    CONVERT_Ansi2Ibm(expected.data(), static_cast<int32_t>(expected.size()));
  } else {
    CONVERT_File_Dos2Ansi(destination.c_str(), source.c_str());
    CONVERT_Ibm2Ansi(expected.data(), static_cast<int32_t>(expected.size()));
  }
  Require(fuzz::ReadBytes(destination) == expected, "file conversion");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int which = input.ConsumeIntegralInRange(0, 5);
  const int32_t length = input.ConsumeIntegralInRange<int32_t>(-2, 1100);
  const uint32_t value = input.ConsumeIntegral<uint32_t>();
  const uint32_t width = input.ConsumeIntegral<uint32_t>() % 130;
  const char find = input.ConsumeIntegral<char>();
  const char replacement = input.ConsumeIntegral<char>();
  const std::string bytes = input.ConsumeRemainingBytesAsString();
  switch (which) {
    case 0:
      FuzzCodePages(bytes);
      break;
    case 1:
      FuzzReductions(bytes, length);
      break;
    case 2:
      FuzzExpansion(bytes, length);
      break;
    case 3:
      FuzzUtf8(bytes);
      break;
    case 4:
      FuzzByteCounts(value, width, find, replacement, bytes);
      break;
    default:
      FuzzFiles(bytes, value & 1);
      break;
  }
  return 0;
}
