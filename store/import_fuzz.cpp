// libFuzzer target for order files: arbitrary bytes as PREPAID.INC and PREPAID.TRR, imported
// by Prepaid_Include and by the straightforward reference method over the same small card file.
// Both must leave the same card and marker files, the import must delete the order file and its
// journal, and no splitter call may write beyond a destination (ASan and UBSan watch).
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/file_io.h"
#include "store/import.h"
#include "testsupport/fuzz_support.h"
#include "testsupport/naive_import.h"
#include "util/split_line.h"

namespace {

std::string g_ours, g_reference;

// Cards 1 to 4, a duplicate of card 2, a locked card 3 and a balance close to the limit.
std::string CardFile() {
  std::string bytes;
  const int32_t cards[][3] = {
      {1, 10, 0}, {2, 2147483000, 0}, {3, 5, INT32_MIN}, {2, 7, 0}, {4, -3, 0}};
  for (const auto& card : cards) {
    std::string record(32, '\0');
    for (int i = 0; i < 4; ++i) {
      record[i] = static_cast<char>(card[0] >> (8 * i));
      record[4 + i] = static_cast<char>(card[1] >> (8 * i));
      record[20 + i] = static_cast<char>(card[2] >> (8 * i));
    }
    bytes += record;
  }
  return bytes;
}

void Prepare(const std::string& dir, const std::string& orders, const std::string& markers) {
  for (const char* name : {"PREPAID.REJ", "PREPAID.INJ", "PREPAID.TRR"}) {
    unlink((dir + name).c_str());
  }
  fuzz::WriteBytes(dir + "PREPAID.DAT", CardFile());
  fuzz::WriteBytes(dir + "PREPAID.INC", orders);
  if (!markers.empty()) fuzz::WriteBytes(dir + "PREPAID.TRR", markers);
}

void SplitDirectly(std::string line, int destinations) {
  char fields[10][100];
  char* d[10] = {};
  for (int i = 0; i < destinations; ++i) d[i] = fields[i];
  line.resize(line.size() < 400 ? line.size() : 400);
  CONVERT_SplitLine(line.data(), line.empty() ? ',' : line[0], d[0], d[1], d[2], d[3], d[4], d[5],
                    d[6], d[7], d[8], d[9]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_ours = fuzz::Subfolder("ours");
  g_reference = fuzz::Subfolder("reference");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  FuzzedDataProvider provider(data, size);
  const bool older = provider.ConsumeBool();
  const int destinations = provider.ConsumeIntegralInRange(2, 10);
  const std::string markers = provider.ConsumeRandomLengthString(300);
  const std::string orders = provider.ConsumeRemainingBytesAsString();
  SplitDirectly(orders, destinations);

  const auto generation =
      older ? util::SplitGeneration::kBalanceQuery : util::SplitGeneration::kCurrent;
  Prepare(g_ours, orders, markers);
  Prepare(g_reference, orders, markers);
  fuzz::Require(store::Include(g_ours.c_str(), g_ours.c_str(), generation) == 1, "import");
  fuzz::Require(testsupport::NaiveInclude(g_reference, g_reference, generation) == 1,
                "reference import");
  for (const char* name : {"PREPAID.DAT", "PREPAID.TRR"}) {
    fuzz::Require(fuzz::ReadBytes(g_ours + name) == fuzz::ReadBytes(g_reference + name), name);
  }
  fuzz::Require(!platform::PathExists(g_ours + "PREPAID.INC") &&
                    !platform::PathExists(g_ours + "PREPAID.INJ"),
                "order file and journal deleted");
  return 0;
}
