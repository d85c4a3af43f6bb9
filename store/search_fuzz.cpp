// libFuzzer target for the lookups: arbitrary bytes as PREPAID.DAT, part of them behind a hole,
// searched by card number and by telephone number in both generations. Every result, index
// and record must be what the straightforward scan gives that reads one 32-byte record at a
// time from the start and stops at the first match.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/little_endian.h"
#include "store/card_record.h"
#include "store/prepaid.h"
#include "store/store_internal.h"
#include "testsupport/fuzz_support.h"

namespace {

std::string g_dir;

struct Result {
  int32_t result, index;
  unsigned char record[32];
};

// The record-by-record scan, on the bytes a read of the file gives (a hole reads as zeros).
template <typename Match>
Result Straightforward(const std::string& bytes, const Match& matches) {
  Result out{0, 0, {}};
  for (size_t at = 0; at + 32 <= bytes.size(); at += 32, ++out.index) {
    const auto* record = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    if (!matches(record)) continue;
    if ((platform::LoadLE32(record + 20) & PREPAID_CARD_LOCKED) == 0) {
      out.result = 1;
      std::memcpy(out.record, record, 32);
    }
    return out;
  }
  return out;
}

Result Ours(int32_t result, int32_t index, const PrepaidCard& card) {
  Result out{result, index, {}};
  if (result == 1) store::EncodeCard(card, out.record);
  return out;
}

void RequireSame(const Result& ours, const Result& reference, const char* what) {
  fuzz::Require(ours.result == reference.result && ours.index == reference.index &&
                    std::memcmp(ours.record, reference.record, 32) == 0,
                what);
}

// Writes `front`, then `back` after a hole of `holePages` pages.
std::string WriteCardFile(const std::string& front, const std::string& back, int holePages) {
  const std::string path = g_dir + "PREPAID.DAT";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  fuzz::Require(fd >= 0, "open");
  const off_t backAt = static_cast<off_t>(front.size()) + holePages * 4096;
  fuzz::Require(
      ::pwrite(fd, front.data(), front.size(), 0) == static_cast<ssize_t>(front.size()) &&
          ::pwrite(fd, back.data(), back.size(), backAt) == static_cast<ssize_t>(back.size()) &&
          ::ftruncate(fd, backAt + static_cast<off_t>(back.size())) == 0,
      "write");
  ::close(fd);
  return front + std::string(static_cast<size_t>(holePages) * 4096, '\0') + back;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_dir = fuzz::Subfolder("search");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  FuzzedDataProvider provider(data, size);
  int32_t cardNumber = provider.ConsumeIntegral<int32_t>();
  int32_t telefonLow = provider.ConsumeIntegral<int32_t>();
  int32_t telefonHigh = provider.ConsumeIntegral<int32_t>();
  const bool fromTheFile = provider.ConsumeBool();  // the wanted numbers of one of its records
  const size_t record = provider.ConsumeIntegral<uint16_t>();
  const int holePages = provider.ConsumeIntegralInRange(0, 3);
  const std::string front = provider.ConsumeRandomLengthString(8192);
  const std::string back = provider.ConsumeRemainingBytesAsString();
  const std::string bytes = WriteCardFile(front, back, holePages);
  if (fromTheFile && bytes.size() >= 32) {
    const auto* chosen =
        reinterpret_cast<const unsigned char*>(bytes.data()) + record % (bytes.size() / 32) * 32;
    cardNumber = platform::LoadLE32Signed(chosen);
    telefonHigh = platform::LoadLE32Signed(chosen + 24);
    telefonLow = platform::LoadLE32Signed(chosen + 28);
  }

  PrepaidCard card;
  int32_t index = 0;
  if (cardNumber != -1) {
    const int32_t result = Prepaid_Search(g_dir.c_str(), cardNumber, &index, &card);
    RequireSame(Ours(result, index, card),
                Straightforward(bytes,
                                [&](const unsigned char* r) {
                                  return platform::LoadLE32Signed(r) == cardNumber;
                                }),
                "search by card number");
  }
  for (const bool withUnitsOnly : {true, false}) {
    const int32_t result = store::SearchTelefon(
        g_dir.c_str(), 1, telefonLow, telefonHigh, &index, &card,
        withUnitsOnly ? store::TelefonMatch::kWithUnitsOnly : store::TelefonMatch::kAnyBalance);
    RequireSame(Ours(result, index, card),
                Straightforward(bytes,
                                [&](const unsigned char* r) {
                                  return platform::LoadLE32Signed(r + 28) == telefonLow &&
                                         platform::LoadLE32Signed(r + 24) == telefonHigh &&
                                         (!withUnitsOnly || platform::LoadLE32Signed(r + 4) != 0);
                                }),
                "search by telephone number");
  }
  return 0;
}
