#include "testsupport/naive_import.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/little_endian.h"
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

// The lines of a text as the import reads them: a byte order mark at the start and a Ctrl-Z at
// the end are no text; LF, CR LF and a lone CR end a line.
std::vector<std::string> Lines(std::string text) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  if (!text.empty() && text.back() == '\x1A') text.pop_back();
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      line += text[i];
      continue;
    }
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string ReadWhole(const std::string& path) {
  std::string text;
  if (std::FILE* in = Open(path, "rb")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
    std::fclose(in);
  }
  return text;
}

// Whether PREPAID.TRR holds the line `marker`; records it on a line of its own when not.
bool KnownOrRecord(const std::string& trr, const std::string& marker) {
  const std::string recorded = ReadWhole(trr);
  for (const std::string& line : Lines(recorded)) {
    if (line == marker) return true;
  }
  if (std::FILE* out = Open(trr, "ab")) {
    const bool open = !recorded.empty() && recorded.back() != '\n' && recorded.back() != '\r';
    std::fputs(((open ? "\r\n" : "") + marker + "\r\n").c_str(), out);
    std::fclose(out);
  }
  return false;
}

// A number of a field: blanks, a sign, at least one digit; false when there is none or it does
// not fit in 32 bits.
bool Number(const std::string& field, int32_t* value) {
  size_t at = 0;
  while (at < field.size() && (field[at] == ' ' || field[at] == '\t')) ++at;
  const bool negative = at < field.size() && field[at] == '-';
  if (at < field.size() && (field[at] == '-' || field[at] == '+')) ++at;
  const size_t first = at;
  long long magnitude = 0;
  while (at < field.size() && field[at] >= '0' && field[at] <= '9') {
    magnitude = std::min(magnitude * 10 + (field[at++] - '0'), 1LL << 40);
  }
  const long long number = negative ? -magnitude : magnitude;
  if (at == first || number < INT32_MIN || number > INT32_MAX) return false;
  *value = static_cast<int32_t>(number);
  return true;
}

bool Whole(const std::string& line) {
  if (line.size() > 65536) return false;
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
  }
  return true;
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
  for (const std::string& line : Lines(ReadWhole(inc))) {
    if (!Whole(line)) {
      if (line[0] == 'E') break;
      continue;
    }
    if (line[0] == 'E') {
      if (KnownOrRecord(trr, line)) break;
      continue;
    }
    std::string fields[3];
    if (util::SplitThreeWholeFields(line, generation, fields) < 2) break;
    const char command = fields[0][0];
    int32_t card = 0, amount = 0;
    if (command != 'A' && command != 'D' && command != 'L' && command != 'U') continue;
    if (!Number(fields[1], &card) || card < 0) continue;
    if (command == 'A' && (!Number(fields[2], &amount) || amount == 0)) continue;
    Apply(dat, command, card, amount);
  }
  std::fclose(in);
  std::remove(inc.c_str());
  std::fclose(dat);
  return 1;
}

}  // namespace testsupport
