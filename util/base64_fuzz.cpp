// libFuzzer target for Base64 and ROT13: arbitrary texts and encoded data of any length, each
// call with an output buffer of exactly the size the contract promises. Texts of up to 747
// characters (whose encoding the decoder takes whole) must come back unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "util/base64.h"

namespace {

void Require(bool condition) {
  if (!condition) abort();
}

std::unique_ptr<char[]> Copy(const std::string& text) {
  std::unique_ptr<char[]> buffer(new char[text.size() + 1]);
  std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
  return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int32_t length = input.ConsumeIntegralInRange<int32_t>(-2, 1200);
  std::string text = input.ConsumeRemainingBytesAsString();
  text.resize(std::strlen(text.c_str()));

  const size_t used = std::min<size_t>(text.size(), 999);
  std::unique_ptr<char[]> encoded(new char[(used + 2) / 3 * 4 + 1]);
  Require(CONVERT_Encode64(encoded.get(), text.c_str()) == 1);
  Require(std::strlen(encoded.get()) == (used + 2) / 3 * 4);
  if (text.size() <= 747) {
    std::unique_ptr<char[]> decoded(new char[text.size() + 1]);
    CONVERT_Decode64(decoded.get(), encoded.get(), static_cast<int32_t>(strlen(encoded.get())));
    Require(text == decoded.get());
  }

  // At most 999 characters are decoded, three bytes for every four.
  std::unique_ptr<char[]> decoded(new char[750]);
  auto copy = Copy(text);
  Require(CONVERT_Decode64(decoded.get(), copy.get(), length) == 1);
  const size_t taken = std::min<size_t>({text.size(), 999, length > 0 ? size_t(length) : 0});
  Require(std::strlen(decoded.get()) <= taken * 3 / 4);

  for (char c : text) Require(CONVERT_base64helper(c) >= 0 && CONVERT_base64helper(c) < 64);
  CONVERT_ROT13(CONVERT_ROT13(copy.get()));
  Require(text == copy.get());
  return 0;
}
