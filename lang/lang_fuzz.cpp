// libFuzzer target for the language file path: arbitrary bytes as the language file, the user
// profile and CHARSET.INI, then lookups of every kind through LS_init, LSS, LS_Help and
// LS_GetCharset, and the profile reader's listing and cutting paths on the same bytes.
//
// Input: a control block (which lookup, slot, colon mode, ...), then the file bytes; the file
// bytes also serve as the default text. Every result must be a terminated text that fits its
// buffer; ASan and UBSan report any overrun.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "lang/lang.h"
#include "lang/lang_internal.h"
#include "platform/profile.h"
#include "testsupport/fuzz_support.h"

namespace {

std::string g_dir;
constexpr const char* kFiles[] = {"english.LX", "CHARSET.INI", "win.ini", "LINDAVOX.INI"};

void CheckText(const char* text, size_t limit) {
  if (!text || std::strlen(text) > limit) abort();
}

void FuzzProfileReader(const std::string& file, uint32_t size) {
  char buffer[64];
  std::memset(buffer, 0x55, sizeof buffer);
  const uint32_t count =
      platform::ReadProfileString(nullptr, nullptr, "d", buffer, size, file.c_str());
  if (size > 0 && count >= size) abort();
  platform::ReadProfileString("PREPAID", nullptr, "d", buffer, size, file.c_str());
  platform::ReadProfileInt("Common", "Help", 7, file.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_dir = fuzz::Folder();
  setenv("LINDAVOX_CONFIG_DIR", g_dir.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int32_t section = input.ConsumeIntegralInRange<int32_t>(-2, 53);
  const int32_t id = input.ConsumeBool() ? 9999 : input.ConsumeIntegralInRange<int32_t>(-1, 40);
  const int32_t slot = input.ConsumeIntegralInRange<int32_t>(0, 6);
  const int32_t colonMode = input.ConsumeIntegralInRange<int32_t>(-2, 2);
  const int32_t strip = input.ConsumeIntegralInRange<int32_t>(0, 1);
  const bool autoPick = input.ConsumeBool();
  const uint32_t listSize = input.ConsumeIntegralInRange<uint32_t>(0, 64);
  const std::string profile = input.ConsumeRandomLengthString(512);
  std::string bytes = input.ConsumeRemainingBytesAsString();

  fuzz::WriteBytes(g_dir + kFiles[0], bytes);
  fuzz::WriteBytes(g_dir + kFiles[1], bytes);
  fuzz::WriteBytes(g_dir + kFiles[2], profile);
  fuzz::WriteBytes(g_dir + kFiles[3], profile);

  LS_init("Lindavox", g_dir.c_str(), "LX", autoPick ? nullptr : "english", autoPick, 0);
  std::string fallback = bytes.substr(0, bytes.find('\0'));
  char* text = LSS(section, id, fallback.data(), slot, colonMode, strip);
  if (LS_isActive()) CheckText(text, lang::kMaxText);
  lang::TranslateWindowText(section, id, fallback, slot, colonMode, strip);
  lang::TranslateMenuText(section, id, fallback);

  CheckText(LS_Help(fallback.data()), fallback.size() + 1);
  char charset[100];
  char extra[100];
  LS_GetCharset(charset, extra, g_dir.c_str(), 1);
  CheckText(charset, 99);

  FuzzProfileReader(g_dir + "english.LX", listSize);
  return 0;
}
