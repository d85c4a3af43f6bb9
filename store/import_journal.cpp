#include "store/import_journal.h"

#include <sys/stat.h>

#include <cstring>

#include "platform/file_io.h"
#include "platform/little_endian.h"
#include "store/card_record.h"

namespace store {
namespace {

constexpr char kMagic[8] = {'L', 'V', 'I', 'N', 'J', '0', '0', '2'};
constexpr size_t kEntrySize = 164;
constexpr size_t kChecked = 160;
constexpr uint32_t kAppendFlag = 1, kEndsImportFlag = 2;

uint32_t Checksum(const unsigned char* bytes, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

void Encode(const JournalEntry& e, unsigned char* out) {
  std::memset(out, 0, kEntrySize);
  std::memcpy(out, kMagic, sizeof kMagic);
  platform::StoreLE64(out + 8, e.orderFile.device);
  platform::StoreLE64(out + 16, e.orderFile.inode);
  platform::StoreLE64(out + 24, e.orderFile.size);
  platform::StoreLE64(out + 32, e.orderFile.modified);
  platform::StoreLE32(out + 40, static_cast<uint32_t>(e.state));
  platform::StoreLE32(out + 44, (e.append ? kAppendFlag : 0) |
                                    (e.endsImport ? kEndsImportFlag : 0) |
                                    (static_cast<uint32_t>(e.reason) << 8));
  platform::StoreLE64(out + 48, static_cast<uint64_t>(e.line));
  platform::StoreLE64(out + 56, static_cast<uint64_t>(e.next));
  platform::StoreLE64(out + 64, static_cast<uint64_t>(e.rejectSize));
  platform::StoreLE64(out + 72, e.cardFile.device);
  platform::StoreLE64(out + 80, e.cardFile.inode);
  platform::StoreLE64(out + 88, e.cardFile.modified);
  EncodeCard(e.before, out + 96);
  EncodeCard(e.after, out + 128);
  platform::StoreLE32(out + kChecked, Checksum(out, kChecked));
}

bool Decode(const unsigned char* in, JournalEntry* e) {
  if (std::memcmp(in, kMagic, sizeof kMagic) != 0) return false;
  if (platform::LoadLE32(in + kChecked) != Checksum(in, kChecked)) return false;
  const uint32_t state = platform::LoadLE32(in + 40);
  if (state < 1 || state > 5) return false;
  e->orderFile = {platform::LoadLE64(in + 8), platform::LoadLE64(in + 16),
                  platform::LoadLE64(in + 24), platform::LoadLE64(in + 32)};
  e->state = static_cast<JournalState>(state);
  const uint32_t flags = platform::LoadLE32(in + 44);
  e->append = flags & kAppendFlag;
  e->endsImport = flags & kEndsImportFlag;
  e->reason = static_cast<uint8_t>(flags >> 8);
  e->line = static_cast<off_t>(platform::LoadLE64(in + 48));
  e->next = static_cast<off_t>(platform::LoadLE64(in + 56));
  e->rejectSize = static_cast<off_t>(platform::LoadLE64(in + 64));
  e->cardFile = {platform::LoadLE64(in + 72), platform::LoadLE64(in + 80),
                 platform::LoadLE64(in + 88)};
  DecodeCard(in + 96, &e->before);
  DecodeCard(in + 128, &e->after);
  return e->line >= 0 && e->next >= e->line && e->rejectSize >= 0;
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
  return platform::SharedFile::Open(path, request, &file_);
}

ImportJournal::ReadResult ImportJournal::Read(const OrderFileId& orderFile,
                                              JournalEntry* entry) const {
  unsigned char bytes[kEntrySize];
  const ssize_t got = file_.ReadAt(bytes, sizeof bytes, 0);
  if (got == 0) return ReadResult::kNone;
  if (got != static_cast<ssize_t>(kEntrySize) || !Decode(bytes, entry)) {
    return ReadResult::kDamaged;
  }
  return entry->orderFile == orderFile ? ReadResult::kEntry : ReadResult::kNone;
}

bool ImportJournal::Write(const JournalEntry& entry) const {
  unsigned char bytes[kEntrySize];
  Encode(entry, bytes);
  return file_.WriteAt(bytes, sizeof bytes, 0);
}

bool ImportJournal::Remove() {
  file_.Close();
  const int error = platform::RemoveShared(path_);
  return error == 0 || error == ENOENT;
}

}  // namespace store
