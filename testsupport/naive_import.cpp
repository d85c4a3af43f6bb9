#include "testsupport/naive_import.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/little_endian.h"
#include "util/decimal.h"
#include "util/file_open_internal.h"

namespace testsupport {
namespace {

std::FILE* Open(const std::string& path, const char* mode) {
  return util::Fopen(path.c_str(), mode, false, util::FopenGeneration::kCurrent);
}

bool Exists(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file) std::fclose(file);
  return file != nullptr;
}

// Whether a line of PREPAID.TRR begins with `marker`; records it when not.
bool KnownOrRecord(const std::string& trr, const char* marker) {
  if (std::FILE* in = Open(trr, "rt")) {
    char recorded[200];
    bool known = false;
    while (!known && std::fgets(recorded, sizeof recorded, in)) {
      known = std::strncmp(recorded, marker, std::strlen(marker)) == 0;
    }
    std::fclose(in);
    if (known) return true;
  }
  if (std::FILE* out = Open(trr, "at")) {
    std::fputs(marker, out);
    std::fclose(out);
  }
  return false;
}

// Applies one order to the first record of its card, or appends a new card.
void Apply(std::FILE* dat, char command, int32_t card, int32_t amount) {
  std::fseek(dat, 0, SEEK_SET);
  unsigned char record[32];
  bool found = false;
  while (!found && std::fread(record, 1, sizeof record, dat) == sizeof record) {
    found = platform::LoadLE32Signed(record) == card;
  }
  if (found) {
    int64_t balance = platform::LoadLE32Signed(record + 4);
    uint32_t flags = platform::LoadLE32(record + 20);
    if (command == 'A') balance += amount;
    if (command == 'D') balance = 0;
    if (command == 'L') flags |= 0x80000000u;
    if (command == 'U') flags &= ~0x80000000u;
    if (balance < INT32_MIN || balance > INT32_MAX) return;
    platform::StoreLE32(record + 4, static_cast<int32_t>(balance));
    platform::StoreLE32(record + 20, flags);
    std::fseek(dat, -32, SEEK_CUR);
    std::fwrite(record, 1, sizeof record, dat);
  } else if (command == 'A') {
    std::memset(record, 0, sizeof record);
    platform::StoreLE32(record, card);
    platform::StoreLE32(record + 4, amount);
    std::fseek(dat, 0, SEEK_END);
    const long end = std::ftell(dat);
    std::fseek(dat, end - end % 32, SEEK_SET);
    std::fwrite(record, 1, sizeof record, dat);
  }
  std::fflush(dat);
}

}  // namespace

int NaiveInclude(const std::string& exchangeDir, const std::string& dataDir,
                 util::SplitGeneration generation) {
  const std::string inc = exchangeDir + "PREPAID.INC", trr = exchangeDir + "PREPAID.TRR";
  const std::string datPath = dataDir + "PREPAID.DAT";
  if (!Exists(inc)) return 0;
  std::FILE* in = Open(inc, "rt");
  if (!in) return 0;
  if (!Exists(datPath)) {
    if (std::FILE* created = Open(datPath, "ab")) std::fclose(created);
  }
  std::FILE* dat = Open(datPath, "rb+");
  if (!dat) {
    std::fclose(in);
    return 0;
  }
  char line[200];
  while (std::fgets(line, sizeof line, in)) {
    if (line[0] == 'E') {
      if (KnownOrRecord(trr, line)) break;
      continue;
    }
    char f1[util::kSplitField], f2[util::kSplitField], f3[util::kSplitField];
    if (util::SplitThreeFields(line, generation, f1, f2, f3) < 2) break;
    const int32_t card = util::ParseDecimal32(f2), amount = util::ParseDecimal32(f3);
    const char command = f1[0];
    if (command == 'A' && amount == 0) continue;
    if (command == 'A' || command == 'D' || command == 'L' || command == 'U') {
      Apply(dat, command, card, amount);
    }
  }
  std::fclose(in);
  std::remove(inc.c_str());
  std::fclose(dat);
  return 1;
}

}  // namespace testsupport
