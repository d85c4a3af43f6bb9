// Prepaid_ReadConfig: the store settings from LINDAVOX.INI and the PREPAID.BIN header.
#include "platform/c_boundary.h"
#include "platform/little_endian.h"
#include "platform/profile.h"
#include "store/card_record.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

// The first character of a "Common" value of LINDAVOX.INI ('\0' for an empty value).
char FirstCharOfSetting(const std::string& iniPath, const char* key, const char* defaultValue) {
  char value[100];
  platform::ReadProfileString("Common", key, defaultValue, value, sizeof value, iniPath.c_str());
  return value[0];
}

// Reads the digit counts; false when the header cannot be opened or is shorter than the two
// words it needs, leaving `config` as it was.
bool ReadDigitCounts(const std::string& binPath, PrepaidConfig* config) {
  platform::SharedFile file;
  if (util::OpenAsFopen(binPath, "rb", false, &file) != 0) return false;
  unsigned char head[kBinHeaderSize];
  ssize_t got = file.ReadAt(head, sizeof head, 0);
  if (got < static_cast<ssize_t>(header::kCheckLength + 2)) return false;
  const uint16_t codeLength = platform::LoadLE16(head + header::kCodeLength);
  const uint16_t checkLength = platform::LoadLE16(head + header::kCheckLength);
  config->checkDigits = checkLength;
  config->cardDigits = static_cast<uint16_t>(codeLength - checkLength);
  return true;
}

}  // namespace

// An empty data directory is the current directory, for the INI file too (a bare INI name would
// be looked up in the configuration directory).
std::string StorePath(const char* dir, const char* name) {
  return std::string(dir[0] != '\0' ? dir : "./") + name;
}

}  // namespace store

int32_t Prepaid_ReadConfig(const char* dataDir, PrepaidConfig* config) {
  if (!dataDir || !config) return 0;
  return platform::CallNoThrow<int32_t>(0, [&]() -> int32_t {
    const std::string iniPath = store::StorePath(dataDir, "LINDAVOX.INI");
    config->modeNotLink = store::FirstCharOfSetting(iniPath, "PrepaidMode", "Link") == 'L' ? 0 : 1;
    config->hangupAtEnd = store::FirstCharOfSetting(iniPath, "PrepaidEnd", "Hangup") == 'H' ? 1 : 0;
    return store::ReadDigitCounts(store::StorePath(dataDir, "PREPAID.BIN"), config) ? 1 : 0;
  });
}
