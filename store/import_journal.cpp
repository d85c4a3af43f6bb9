#include "store/import_journal.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "platform/file_io.h"
#include "platform/little_endian.h"
#include "platform/path.h"
#include "store/card_record.h"

namespace store {
namespace {

constexpr char kMagic[8] = {'L', 'V', 'I', 'N', 'J', '0', '0', '3'};
constexpr size_t kHeaderSize = 512;
constexpr size_t kHeaderChecked = 508;
constexpr size_t kRecordBytes = 96;
constexpr size_t kSlotBytes = kJournalGroupRecords * kRecordBytes;
constexpr uint32_t kEndsImportFlag = 2, kAppendFlag = 1;
constexpr size_t kRejectedBits = 92;
constexpr size_t kBootId = 224, kBootIdSize = 36;
constexpr size_t kHistory = 260;  // 24 bytes: where the card history ended before the group
constexpr off_t kProgressOffset = 512;
constexpr size_t kProgressSize = 36, kProgressChecked = 32;
constexpr off_t kSlotsOffset = 1024;

uint32_t Checksum(const unsigned char* bytes, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

off_t SlotOffset(uint32_t slot) { return kSlotsOffset + static_cast<off_t>(slot * kSlotBytes); }

bool IsGroup(JournalState state) {
  return state == JournalState::kGroup || state == JournalState::kGroupRejecting;
}

void EncodeRecord(const JournalRecord& r, unsigned char* out) {
  std::memset(out, 0, kRecordBytes);
  platform::StoreLE64(out, static_cast<uint64_t>(r.line));
  platform::StoreLE64(out + 8, static_cast<uint64_t>(r.next));
  platform::StoreLE32(out + 16, r.index);
  platform::StoreLE32(out + 20, r.append ? kAppendFlag : 0);
  EncodeCard(r.before, out + 24);
  EncodeCard(r.after, out + 56);
}

void DecodeRecord(const unsigned char* in, JournalRecord* r) {
  r->line = static_cast<off_t>(platform::LoadLE64(in));
  r->next = static_cast<off_t>(platform::LoadLE64(in + 8));
  r->index = platform::LoadLE32Signed(in + 16);
  r->append = platform::LoadLE32(in + 20) & kAppendFlag;
  DecodeCard(in + 24, &r->before);
  DecodeCard(in + 56, &r->after);
}

void EncodeHeader(const JournalEntry& e, uint32_t slot, uint32_t recordsChecksum,
                  unsigned char* out) {
  std::memset(out, 0, kHeaderSize);
  std::memcpy(out, kMagic, sizeof kMagic);
  platform::StoreLE64(out + 8, e.orderFile.device);
  platform::StoreLE64(out + 16, e.orderFile.inode);
  platform::StoreLE64(out + 24, e.orderFile.size);
  platform::StoreLE64(out + 32, e.orderFile.modified);
  platform::StoreLE32(out + 40, static_cast<uint32_t>(e.state));
  platform::StoreLE32(
      out + 44, (e.endsImport ? kEndsImportFlag : 0) | (static_cast<uint32_t>(e.reason) << 8));
  platform::StoreLE64(out + 48, static_cast<uint64_t>(e.line));
  platform::StoreLE64(out + 56, static_cast<uint64_t>(e.next));
  platform::StoreLE64(out + 64, static_cast<uint64_t>(e.rejectSize));
  platform::StoreLE64(out + 72, static_cast<uint64_t>(e.markerSize));
  platform::StoreLE32(out + 80, static_cast<uint32_t>(e.records.size()));
  platform::StoreLE32(out + 84, slot);
  platform::StoreLE32(out + 88, recordsChecksum);
  for (size_t i = 0; i < e.records.size(); ++i) {
    if (e.rejected[i]) out[kRejectedBits + i / 8] |= static_cast<unsigned char>(1u << (i % 8));
  }
  std::memcpy(out + kBootId, e.bootId.data(), std::min(e.bootId.size(), kBootIdSize));
  platform::StoreLE64(out + kHistory, e.history.device);
  platform::StoreLE64(out + kHistory + 8, e.history.inode);
  platform::StoreLE64(out + kHistory + 16, e.history.size);
  platform::StoreLE32(out + kHeaderChecked, Checksum(out, kHeaderChecked));
}

// The header's fields; the group's records are read separately. False when it is damaged.
bool DecodeHeader(const unsigned char* in, JournalEntry* e, uint32_t* count, uint32_t* slot,
                  uint32_t* recordsChecksum) {
  if (std::memcmp(in, kMagic, sizeof kMagic) != 0) return false;
  if (platform::LoadLE32(in + kHeaderChecked) != Checksum(in, kHeaderChecked)) return false;
  const uint32_t state = platform::LoadLE32(in + 40);
  if (state < 1 || state > 6) return false;
  e->orderFile = {platform::LoadLE64(in + 8), platform::LoadLE64(in + 16),
                  platform::LoadLE64(in + 24), platform::LoadLE64(in + 32)};
  e->state = static_cast<JournalState>(state);
  const uint32_t flags = platform::LoadLE32(in + 44);
  e->endsImport = flags & kEndsImportFlag;
  e->reason = static_cast<uint8_t>(flags >> 8);
  e->line = static_cast<off_t>(platform::LoadLE64(in + 48));
  e->next = static_cast<off_t>(platform::LoadLE64(in + 56));
  e->rejectSize = static_cast<off_t>(platform::LoadLE64(in + 64));
  e->markerSize = static_cast<off_t>(platform::LoadLE64(in + 72));
  *count = platform::LoadLE32(in + 80);
  *slot = platform::LoadLE32(in + 84);
  *recordsChecksum = platform::LoadLE32(in + 88);
  for (size_t i = 0; i < kJournalGroupRecords; ++i) {
    e->rejected[i] = (in[kRejectedBits + i / 8] >> (i % 8)) & 1;
  }
  const auto boot = reinterpret_cast<const char*>(in + kBootId);
  e->bootId.assign(boot, std::find(boot, boot + kBootIdSize, '\0'));
  e->history = {platform::LoadLE64(in + kHistory), platform::LoadLE64(in + kHistory + 8),
                platform::LoadLE64(in + kHistory + 16)};
  return e->line >= 0 && e->next >= e->line && e->rejectSize >= 0 && e->markerSize >= 0 &&
         *count <= kJournalGroupRecords && *slot <= 1;
}

}  // namespace

bool IdentifyOrderFile(const platform::SharedFile& file, OrderFileId* id) {
  struct stat st;
  if (platform::StatOpenFile(file.fd(), file.path(), &st) != 0) return false;
  *id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
         static_cast<uint64_t>(st.st_size),
         static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
             static_cast<uint64_t>(st.st_mtim.tv_nsec)};
  return true;
}

bool StampCardFile(const platform::SharedFile& file, CardFileStamp* stamp) {
  struct stat st;
  if (platform::StatOpenFile(file.fd(), file.path(), &st) != 0) return false;
  *stamp = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
            static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
                static_cast<uint64_t>(st.st_mtim.tv_nsec)};
  return true;
}

int ImportJournal::OpenToRead(const std::string& path) {
  path_ = path;
  const platform::OpenRequest request{platform::kAccessRead, platform::kShareRead,
                                      platform::Disposition::kOpenExisting, false};
  return platform::SharedFile::Open(path, request, &file_);
}

int ImportJournal::Open(const std::string& path) {
  path_ = path;
  const platform::OpenRequest request{platform::kAccessReadWrite, platform::kShareNone,
                                      platform::Disposition::kOpenAlways, false};
  if (const int error = platform::SharedFile::Open(path, request, &file_); error != 0) {
    return error;
  }
  // A new file's name (or that of an empty one a power cut left) may not be on the disk yet.
  created_ = file_.Size() == 0;
  return 0;
}

ImportJournal::ReadResult ImportJournal::Read(const OrderFileId& orderFile, JournalEntry* entry) {
  unsigned char header[kHeaderSize];
  const ssize_t got = file_.ReadAt(header, sizeof header, 0);
  if (got == 0) return ReadResult::kNone;
  uint32_t count = 0, slot = 0, recordsChecksum = 0;
  if (got != static_cast<ssize_t>(kHeaderSize) ||
      !DecodeHeader(header, entry, &count, &slot, &recordsChecksum)) {
    return ReadResult::kDamaged;
  }
  if (!(entry->orderFile == orderFile)) return ReadResult::kNone;
  if (!IsGroup(entry->state)) return ReadResult::kEntry;
  // The next group goes to the other slot, whatever becomes of this one.
  nextSlot_ = 1 - slot;
  groupChecksum_ = platform::LoadLE32(header + kHeaderChecked);
  unsigned char progress[kProgressSize];
  if (file_.ReadAt(progress, sizeof progress, kProgressOffset) ==
          static_cast<ssize_t>(sizeof progress) &&
      platform::LoadLE32(progress + kProgressChecked) == Checksum(progress, kProgressChecked) &&
      platform::LoadLE32(progress) == groupChecksum_ && platform::LoadLE32(progress + 4) < count) {
    entry->progress =
        JournalProgress{platform::LoadLE32(progress + 4),
                        {platform::LoadLE64(progress + 8), platform::LoadLE64(progress + 16),
                         platform::LoadLE64(progress + 24)}};
  }
  // The records in the slot the header names; a group that is being rejected wrote the same
  // records to the other slot too.
  std::vector<unsigned char> bytes(count * kRecordBytes);
  for (uint32_t s : {slot, 1 - slot}) {
    if (file_.ReadAt(bytes.data(), bytes.size(), SlotOffset(s)) ==
            static_cast<ssize_t>(bytes.size()) &&
        Checksum(bytes.data(), bytes.size()) == recordsChecksum) {
      entry->records.resize(count);
      for (uint32_t i = 0; i < count; ++i)
        DecodeRecord(&bytes[i * kRecordBytes], &entry->records[i]);
      return ReadResult::kEntry;
    }
    if (entry->state == JournalState::kGroup) break;
  }
  if (entry->state == JournalState::kGroupRejecting) return ReadResult::kDamaged;
  // The group's records did not reach the disk, so neither did any of its writes, which wait
  // for them.
  entry->state = JournalState::kResume;
  entry->records.clear();
  entry->progress.reset();
  return ReadResult::kEntry;
}

bool ImportJournal::Write(const JournalEntry& entry) {
  uint32_t slot = 0, recordsChecksum = 0;
  if (IsGroup(entry.state)) {
    if (entry.records.size() > kJournalGroupRecords) return false;
    std::vector<unsigned char> bytes(entry.records.size() * kRecordBytes);
    for (size_t i = 0; i < entry.records.size(); ++i) {
      EncodeRecord(entry.records[i], &bytes[i * kRecordBytes]);
    }
    slot = nextSlot_;
    nextSlot_ = 1 - nextSlot_;
    recordsChecksum = Checksum(bytes.data(), bytes.size());
    if (!file_.WriteAt(bytes.data(), bytes.size(), SlotOffset(slot))) return false;
  }
  unsigned char header[kHeaderSize];
  EncodeHeader(entry, slot, recordsChecksum, header);
  groupChecksum_ = platform::LoadLE32(header + kHeaderChecked);
  return file_.WriteAt(header, sizeof header, 0);
}

bool ImportJournal::NoteProgress(uint32_t record, const CardFileStamp& cardFile) {
  unsigned char bytes[kProgressSize];
  platform::StoreLE32(bytes, groupChecksum_);
  platform::StoreLE32(bytes + 4, record);
  platform::StoreLE64(bytes + 8, cardFile.device);
  platform::StoreLE64(bytes + 16, cardFile.inode);
  platform::StoreLE64(bytes + 24, cardFile.modified);
  platform::StoreLE32(bytes + kProgressChecked, Checksum(bytes, kProgressChecked));
  return file_.WriteAt(bytes, sizeof bytes, kProgressOffset);
}

bool ImportJournal::Sync() {
  if (platform::SyncFileData(file_.fd(), path_) != 0) return false;
  if (created_) {
    platform::SyncDirectory(platform::DirectoryOf(path_));
    created_ = false;
  }
  return true;
}

bool ImportJournal::Remove() {
  file_.Close();
  const int error = platform::RemoveShared(path_);
  return error == 0 || error == ENOENT;
}

}  // namespace store
