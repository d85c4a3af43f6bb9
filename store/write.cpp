// Prepaid_Write: rewriting one record of PREPAID.DAT in place.
#include <errno.h>  // program_invocation_short_name

#include "platform/c_boundary.h"
#include "store/card_history.h"
#include "store/card_record.h"
#include "store/record_update.h"
#include "store/store_internal.h"
#include "util/file_open_internal.h"

int32_t Prepaid_Write(const char* dataDir, int32_t index, const PrepaidCard* card) {
  if (!dataDir || !card || index < 0) return 0;
  return platform::CallNoThrow<int32_t>(0, [&]() -> int32_t {
    const std::string path = store::StorePath(dataDir, "PREPAID.DAT");
    if (!store::StoreFileExists(path)) return 0;  // the write never creates the card file
    // Charges go into the card history only when [History] Charges=1 asks for it: a second
    // write per charge. The history is opened first, so a charge it could not list is not made.
    store::CardHistory history(dataDir);
    const bool listed = history.settings().charges;
    if (listed && history.Open() != 0) return 0;
    platform::SharedFile file;
    if (util::OpenAsFopen(path, "rb+", false, &file) != 0) return 0;
    // The last index would make the file hold one record more than an index can name: every
    // search that does not find its card would then fail to tell the count.
    constexpr off_t kNameableSize =
        (store::kLastIndex + 1) * static_cast<off_t>(store::kRecordSize);
    if (index == store::kLastIndex && file.Size() < kNameableSize) return 0;
    // Under the record's lock, like every change of a record: the write waits for a
    // read-modify-write of another writer to finish instead of landing in its middle.
    const store::HistorySource source{"write", program_invocation_short_name};
    const auto announce = [&](const PrepaidCard& before, const PrepaidCard& after) {
      return history.Intend(source, index, before, after) == 0;
    };
    const auto list = [&](const PrepaidCard& before, const PrepaidCard& after) {
      history.Record(source, before, after);
    };
    const bool written = listed ? store::WriteCardLocked(file, index, *card, list, announce)
                                : store::WriteCardLocked(file, index, *card);
    return file.Close() == 0 && written ? 1 : 0;
  });
}

namespace store {

bool ReadCardAt(const char* dataDir, int32_t index, PrepaidCard* card) {
  if (!dataDir || !card || index < 0) return false;
  return platform::CallNoThrow<bool>(false, [&] {
    const std::string path = StorePath(dataDir, "PREPAID.DAT");
    if (!StoreFileExists(path)) return false;
    platform::SharedFile file;
    if (util::OpenAsFopen(path, "rb", false, &file) != 0) return false;
    unsigned char record[kRecordSize];
    const off_t offset = static_cast<off_t>(index) * static_cast<off_t>(kRecordSize);
    const bool read =
        file.ReadAt(record, sizeof record, offset) == static_cast<ssize_t>(sizeof record);
    file.Close();
    if (read) DecodeCard(record, card);
    return read;
  });
}

}  // namespace store
