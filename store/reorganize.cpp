// Prepaid_Reorganize: the compaction of PREPAID.DAT, which drops every card without units.
//
// The card file is opened denying writers for the whole pass, so no balance that another
// process writes meanwhile can be lost: its open fails, and it tries again later, as with any
// sharing conflict (readers may go on reading). The cards with units are copied, unchanged and
// in their order, to PREPAID.NEW, which is synced and then renamed over PREPAID.DAT in one step
// while the compaction's own open is the card file's only one, in every process, those of
// programs that do not use these libraries included (platform::ReplaceHeldShared): a program
// that kept the old file open would go on writing balances into a file no longer named.
// On any failure, and when another process has PREPAID.DAT open at that moment, PREPAID.DAT stays
// exactly as it was, PREPAID.NEW is removed and the result is 0. Killed at any point, the
// compaction leaves PREPAID.DAT as it was or compacted, whole; a PREPAID.NEW left behind by a
// kill is emptied by the next compaction.
//
// Every card dropped is listed in the card history (store/card_history.h) once the compacted
// file is in place, exactly once also when the compaction is killed (store/history_drops.h). A
// history that cannot be opened stops the compaction before anything changes.
#include "store/reorganize.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/c_boundary.h"
#include "platform/file_io.h"
#include "platform/little_endian.h"
#include "platform/share.h"
#include "store/card_blocks.h"
#include "store/card_history.h"
#include "store/card_record.h"
#include "store/history_drops.h"
#include "store/replacement_file.h"
#include "store/store_internal.h"

namespace store {
namespace {

// Appends the records with units among the `count` records at `records` to `compacted` (none:
// a dry run), through `block`, which has room for as many records, and counts them.
bool AppendCardsWithUnits(const unsigned char* records, size_t count, unsigned char* block,
                          ReplacementFile* compacted, HistoryDrops* drops,
                          ReorganizeReport* report) {
  unsigned char* out = block;
  for (const unsigned char* record = records; record < records + count * kRecordSize;
       record += kRecordSize) {
    if (platform::LoadLE32Signed(record + field::kBalance) == 0) {
      PrepaidCard dropped;
      DecodeCard(record, &dropped);
      if (drops && !drops->Stage(dropped)) return false;
      continue;
    }
    std::memcpy(out, record, kRecordSize);
    out += kRecordSize;
  }
  report->kept += (out - block) / static_cast<ptrdiff_t>(kRecordSize);
  return !compacted || compacted->Append(block, static_cast<size_t>(out - block));
}

int32_t Failed(ReorganizeReport* report, const std::string& path, int error) {
  report->failedPath = path;
  report->error = error != 0 ? error : EIO;
  return 0;
}

// The compacted file keeps the card file's modification time, since no card changed: an
// interrupted import tells by it that nobody has written a card since (store/import_journal.h).
void KeepModificationTime(const platform::SharedFile& cards, const ReplacementFile& compacted) {
  struct stat st;
  if (platform::StatOpenFile(cards.fd(), cards.path(), &st) != 0) return;
  const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
  futimens(compacted.fd(), times);
}

int32_t Compact(const char* dataDir, bool dryRun, ReorganizeReport* report) {
  const std::string cardsPath = StorePath(dataDir, "PREPAID.DAT");
  if (!StoreFileExists(cardsPath)) return Failed(report, cardsPath, ENOENT);
  platform::SharedFile cards;
  const platform::OpenRequest denyWriters{platform::kAccessRead, platform::kShareRead,
                                          platform::Disposition::kOpenExisting};
  const platform::OpenRequest share{platform::kAccessRead, platform::kShareReadWrite,
                                    platform::Disposition::kOpenExisting};
  if (const int error = platform::SharedFile::Open(cardsPath, dryRun ? share : denyWriters, &cards);
      error != 0) {
    return Failed(report, cardsPath, error);
  }
  // The card history is opened, and what a killed compaction left for it settled, before
  // anything changes (a dry run lists nothing).
  CardHistory history(dataDir);
  std::optional<HistoryDrops> drops;
  if (!dryRun) {
    drops.emplace(dataDir, &history);
    if (const int error = history.Open(); error != 0) return Failed(report, history.path(), error);
    if (const int error = drops->Recover(); error != 0) {
      return Failed(report, StorePath(dataDir, ".PREPAID.HIS.new"), error);
    }
  }
  std::optional<ReplacementFile> compacted;
  if (!dryRun) {
    compacted.emplace(StorePath(dataDir, "PREPAID.NEW"));
    if (!compacted->Create()) return Failed(report, compacted->failedPath(), compacted->error());
    if (const int error = drops->Create(compacted->fd()); error != 0) {
      return Failed(report, StorePath(dataDir, ".PREPAID.HIS.new"), error);
    }
  }
  ReplacementFile* const out = compacted ? &*compacted : nullptr;
  std::unique_ptr<unsigned char[]> block(new unsigned char[CardBlock::kBytes]);
  errno = 0;
  const bool copied = ForEachRecordBlock(cards, [&](const unsigned char* records, size_t count) {
    return AppendCardsWithUnits(records, count, block.get(), out, drops ? &*drops : nullptr,
                                report);
  });
  if (!copied) {
    return out && out->error() != 0 ? Failed(report, out->failedPath(), out->error())
                                    : Failed(report, cardsPath, errno);
  }
  // Holes in the file are stepped over unread; the file's size counts their records too.
  const off_t size = cards.Size();
  if (size >= 0) {
    report->dropped = size / static_cast<off_t>(kRecordSize) - report->kept;
    report->trailingBytes = size % static_cast<off_t>(kRecordSize);
  }
  if (!out) return 1;
  KeepModificationTime(cards, *out);
  if (!drops->Flush()) return Failed(report, StorePath(dataDir, ".PREPAID.HIS.new"), errno);
  if (!out->Replace(cards)) return Failed(report, out->failedPath(), out->error());
  // In place: a history line that cannot be written now is left to the next compaction.
  drops->Commit();
  return 1;
}

}  // namespace

int32_t Reorganize(const char* dataDir, ReorganizeReport* report,
                   const ReorganizeOptions& options) {
  if (!dataDir) return 0;
  ReorganizeReport ignored;
  if (!report) report = &ignored;
  *report = ReorganizeReport{};
  return platform::CallNoThrow<int32_t>(0,
                                        [&] { return Compact(dataDir, options.dryRun, report); });
}

}  // namespace store

int32_t Prepaid_Reorganize(const char* dataDir) { return store::Reorganize(dataDir, nullptr); }
