#include "store/card_history.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/file_io.h"
#include "platform/profile.h"
#include "platform/shared_folder.h"
#include "platform/time_zone.h"
#include "platform/wall_clock.h"
#include "store/card_record.h"
#include "store/history_intents.h"
#include "store/store_internal.h"
#include "store/telefon.h"

namespace store {

const char* const kHistoryHeader =
    "time;offset;user;program;detail;card;balance_before;balance_after;locked_before;"
    "locked_after;phone_changed;phone";

namespace {

constexpr size_t kFieldCount = 12;
constexpr size_t kLongestDetail = 100;  // a batch marker may be any length; the start tells it

int Errno() { return errno != 0 ? errno : EIO; }

// --- Settings ---------------------------------------------------------------------------------

struct CachedSettings {
  std::string path;
  bool present = false;
  struct stat status {};
  HistorySettings settings;
};

bool SameStatus(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

HistorySettings ParseSettings(const std::string& ini) {
  HistorySettings settings;
  settings.limit =
      platform::ReadProfileInt("History", "MaxSize", kDefaultHistoryLimit, ini.c_str());
  settings.charges = platform::ReadProfileInt("History", "Charges", 0, ini.c_str()) != 0;
  settings.phoneNumbers = platform::ReadProfileInt("History", "PhoneNumbers", 0, ini.c_str()) != 0;
  return settings;
}

// --- Line format ------------------------------------------------------------------------------

// A field as the file holds it: control characters (a line end would split the line) become
// blanks, and a field that holds ';' or '"' or blanks at its ends is quoted.
void AppendField(std::string* line, std::string_view text) {
  std::string clean(text);
  for (char& c : clean) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  const bool quote = clean.find_first_of(";\"") != std::string::npos ||
                     (!clean.empty() && (clean.front() == ' ' || clean.back() == ' '));
  if (!quote) {
    *line += clean;
    return;
  }
  *line += '"';
  for (const char c : clean) {
    if (c == '"') *line += '"';
    *line += c;
  }
  *line += '"';
}

template <typename Number>
void AppendNumber(std::string* line, Number value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  line->append(digits, result.ptr);
}

std::string TimeText(int64_t seconds) {
  const std::optional<platform::CalendarTime> utc = platform::ToUtcTime(seconds);
  if (!utc) return "";
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc->year, utc->month,
                utc->day, utc->hour, utc->minute, utc->second);
  return text;
}

std::string OffsetText(int32_t offset) {
  const int32_t minutes = (offset < 0 ? -offset : offset) / 60;
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

int32_t LocalOffset(int64_t seconds) {
  const time_t when = static_cast<time_t>(seconds);
  struct tm local {};
  return localtime_r(&when, &local) ? static_cast<int32_t>(local.tm_gmtoff) : 0;
}

// The name of the real user, looked up once per user.
std::string UserName() {
  thread_local uid_t known = static_cast<uid_t>(-1);
  thread_local std::string name;
  const uid_t uid = ::getuid();
  if (uid == known && !name.empty()) return name;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  name = getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found
             ? std::string(found->pw_name)
             : std::to_string(uid);
  known = uid;
  return name;
}

// Splits a line at ';' outside quotes, undoing the quotes.
std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

template <typename Number>
bool ReadNumber(const std::string& text, Number* value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, *value);
  return result.ec == std::errc() && result.ptr == end;
}

bool ReadFlag(const std::string& text, bool* flag) {
  if (text != "0" && text != "1") return false;
  *flag = text == "1";
  return true;
}

bool ReadTime(const std::string& text, int64_t* seconds) {
  platform::CalendarTime utc;
  char zone = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &utc.year, &utc.month, &utc.day,
                  &utc.hour, &utc.minute, &utc.second, &zone) != 7 ||
      zone != 'Z') {
    return false;
  }
  *seconds = platform::FromUtcTime(utc);
  return true;
}

bool ReadOffset(const std::string& text, int32_t* offset) {
  int hours = 0, minutes = 0;
  if (text.size() != 6 || (text[0] != '+' && text[0] != '-') ||
      std::sscanf(text.c_str() + 1, "%2d:%2d", &hours, &minutes) != 2) {
    return false;
  }
  *offset = (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return true;
}

// --- Files ------------------------------------------------------------------------------------

// Opens `path` for reading under the link rule; a missing file is no error (`*fd` stays closed).
int OpenToRead(const std::string& path, platform::UniqueFd* fd, struct stat* status) {
  const int error = platform::OpenInFolder(path, O_RDONLY, 0, fd);
  if (error == ENOENT) return 0;
  if (error != 0) return error;
  if (::fstat(fd->get(), status) != 0) return Errno();
  if (!S_ISREG(status->st_mode)) return platform::kNotRegularFile;
  // OpenInFolder leaves the descriptor non-blocking, which an ordinary file does not mind.
  return 0;
}

// Passes the lines of `fd` from `offset` on; false when `line` asked to stop.
int ReadLinesFrom(int fd, const std::string& path, off_t offset,
                  const std::function<bool(std::string_view)>& line, bool* stopped) {
  std::string pending;
  std::string block(1 << 16, '\0');
  for (;;) {
    const ssize_t got = platform::ReadAll(fd, block.data(), block.size(), path, offset);
    if (got < 0) return Errno();
    if (got == 0) break;
    offset += got;
    pending.append(block.data(), static_cast<size_t>(got));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string_view text(pending.data() + start, end - start);
      if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
      if (!line(text)) {
        *stopped = true;
        return 0;
      }
    }
    pending.erase(0, start);
  }
  if (!pending.empty()) *stopped = !line(pending);  // a last line without its end
  return 0;
}

// The file PREPAID.HIS of `dataDir` names once trusted links are followed.
int HistoryFile(const char* dataDir, std::string* file) {
  return platform::FollowTrustedLinks(StorePath(dataDir, kHistoryName), file);
}

int ReadFileFrom(const std::string& path, const HistoryStamp* from,
                 const std::function<bool(std::string_view)>& line, bool* stopped) {
  platform::UniqueFd fd;
  struct stat status {};
  if (const int error = OpenToRead(path, &fd, &status); error != 0 || !fd) return error;
  off_t offset = 0;
  if (from && static_cast<uint64_t>(status.st_dev) == from->device &&
      static_cast<uint64_t>(status.st_ino) == from->inode) {
    offset = static_cast<off_t>(from->size);
  }
  return ReadLinesFrom(fd.get(), path, offset, line, stopped);
}

}  // namespace

// --- Public -----------------------------------------------------------------------------------

HistorySettings ReadHistorySettings(const char* dataDir) {
  static std::mutex guard;
  static CachedSettings cache;
  const std::string ini = StorePath(dataDir, "LINDAVOX.INI");
  struct stat status {};
  const bool present = ::stat(ini.c_str(), &status) == 0;
  const std::lock_guard<std::mutex> lock(guard);
  if (cache.path == ini && cache.present == present &&
      (!present || SameStatus(cache.status, status))) {
    return cache.settings;
  }
  cache = CachedSettings{ini, present, status, present ? ParseSettings(ini) : HistorySettings{}};
  return cache.settings;
}

bool HistoryEntry::SameChange(const HistoryEntry& other) const {
  return program == other.program && detail == other.detail && card == other.card &&
         balanceBefore == other.balanceBefore && balanceAfter == other.balanceAfter &&
         lockedBefore == other.lockedBefore && lockedAfter == other.lockedAfter &&
         phoneChanged == other.phoneChanged;
}

std::string FormatHistoryLine(const HistoryEntry& e) {
  std::string line;
  line.reserve(96);
  line += TimeText(e.time);
  line += ';';
  line += OffsetText(e.offset);
  line += ';';
  AppendField(&line, e.user);
  line += ';';
  AppendField(&line, e.program);
  line += ';';
  AppendField(&line, e.detail.substr(0, kLongestDetail));
  line += ';';
  AppendNumber(&line, e.card);
  line += ';';
  AppendNumber(&line, e.balanceBefore);
  line += ';';
  AppendNumber(&line, e.balanceAfter);
  line += e.lockedBefore ? ";1" : ";0";
  line += e.lockedAfter ? ";1" : ";0";
  line += e.phoneChanged ? ";1;" : ";0;";
  AppendField(&line, e.phone);
  line += '\n';
  return line;
}

bool ParseHistoryLine(std::string_view line, HistoryEntry* entry) {
  const std::vector<std::string> f = SplitFields(line);
  if (f.size() != kFieldCount) return false;
  HistoryEntry e;
  if (!ReadTime(f[0], &e.time) || !ReadOffset(f[1], &e.offset) || !ReadNumber(f[5], &e.card) ||
      !ReadNumber(f[6], &e.balanceBefore) || !ReadNumber(f[7], &e.balanceAfter) ||
      !ReadFlag(f[8], &e.lockedBefore) || !ReadFlag(f[9], &e.lockedAfter) ||
      !ReadFlag(f[10], &e.phoneChanged)) {
    return false;
  }
  e.user = f[2];
  e.program = f[3];
  e.detail = f[4];
  e.phone = f[11];
  *entry = std::move(e);
  return true;
}

namespace {

HistoryEntry MakeEntryBy(std::string user, const HistorySource& source, const PrepaidCard& before,
                         const PrepaidCard& after, bool withPhone) {
  HistoryEntry e;
  e.time = platform::Now().seconds;
  e.offset = LocalOffset(e.time);
  e.user = std::move(user);
  e.program = source.program;
  e.detail = source.detail;
  e.card = after.cardNumber;
  e.balanceBefore = before.balance;
  e.balanceAfter = after.balance;
  e.lockedBefore = CardLocked(before);
  e.lockedAfter = CardLocked(after);
  e.phoneChanged = !SameTelefon(before, after);
  if (withPhone && e.phoneChanged) e.phone = TelefonText(after);
  return e;
}

}  // namespace

HistoryEntry MakeHistoryEntry(const HistorySource& source, const PrepaidCard& before,
                              const PrepaidCard& after, bool withPhone) {
  return MakeEntryBy(UserName(), source, before, after, withPhone);
}

CardHistory::CardHistory(const char* dataDir)
    : dataDir_(dataDir),
      path_(StorePath(dataDir, kHistoryName)),
      settings_(ReadHistorySettings(dataDir)),
      user_(UserName()) {}

CardHistory::~CardHistory() = default;

int CardHistory::Open() {
  const int error = Reopen();
  if (error != 0) {
    error_ = error;
    return error;
  }
  // What cannot be settled now (a planted link, an unreadable card file) waits for a later
  // writer; Intend refuses a change that could not be announced.
  intents_ = std::make_unique<HistoryIntents>(dataDir_.c_str());
  intents_->Settle(this);
  return 0;
}

int CardHistory::Intend(const HistorySource& source, int32_t index, const PrepaidCard& before,
                        const PrepaidCard& after) {
  HistoryStamp stamp;
  if (!intents_ || !Stamp(&stamp)) return fd_ ? EIO : EBADF;
  std::string line =
      FormatHistoryLine(MakeEntryBy(user_, source, before, after, settings_.phoneNumbers));
  if (const int error = intents_->Announce(index, before, after, stamp, line); error != 0) {
    return error;
  }
  intended_ = std::move(line);
  return 0;
}

int OpenHistoryFile(const std::string& path, int flags, std::string* file, platform::UniqueFd* fd,
                    struct stat* status, bool* created) {
  if (const int error = platform::FollowTrustedLinks(path, file); error != 0) return error;
  platform::UniqueFd opened;
  if (const int error = platform::OpenInFolder(*file, flags, 0666, &opened, created); error != 0) {
    return error;
  }
  if (::fstat(opened.get(), status) != 0) return Errno();
  if (!S_ISREG(status->st_mode)) return platform::kNotRegularFile;
  // Back to blocking writes: a full pipe is impossible here, but a write must not come back
  // half done for a reason that is none.
  ::fcntl(opened.get(), F_SETFL, flags & ~(O_CREAT | O_EXCL));
  *fd = std::move(opened);
  return 0;
}

int CardHistory::Reopen() {
  fd_.reset();
  bool created = false;
  struct stat status {};
  if (const int error =
          OpenHistoryFile(path_, O_WRONLY | O_APPEND | O_CREAT, &file_, &fd_, &status, &created);
      error != 0) {
    return error;
  }
  device_ = status.st_dev;
  inode_ = status.st_ino;
  if (created) {
    const std::string header = std::string(kHistoryHeader) + '\n';
    if (!platform::WriteAll(fd_.get(), header.data(), header.size(), file_)) return Errno();
  }
  return Reserve();
}

int CardHistory::Reserve(off_t bytes) const {
  struct stat own {};
  if (!fd_ || ::fstat(fd_.get(), &own) != 0) return fd_ ? Errno() : EBADF;
  if (::fallocate(fd_.get(), FALLOC_FL_KEEP_SIZE, own.st_size, std::max(bytes, kHistoryReserve)) ==
      0) {
    return 0;
  }
  return errno == EOPNOTSUPP || errno == ENOSYS ? 0 : Errno();
}

bool CardHistory::Record(const HistorySource& source, const PrepaidCard& before,
                         const PrepaidCard& after) {
  if (intended_.empty()) {
    return Append(
        FormatHistoryLine(MakeEntryBy(user_, source, before, after, settings_.phoneNumbers)));
  }
  const std::string line = std::move(intended_);
  intended_.clear();
  if (!Append(line)) return false;  // the announced intent stays for the next writer
  intents_->Done();
  return true;
}

// Two calls besides the write: the name checked before it, the file after it.
bool CardHistory::Append(std::string_view lines) {
  if (!fd_ && error_ != 0) return false;
  // The name may hold another file since the open: rotated by another writer or by logrotate.
  struct stat named {};
  if (!fd_ || ::stat(file_.c_str(), &named) != 0 || named.st_dev != device_ ||
      named.st_ino != inode_) {
    if (const int error = Reopen(); error != 0) {
      error_ = error_ != 0 ? error_ : error;
      return false;
    }
  }
  off_t size = 0;
  if (!WriteLines(lines, &size)) return false;
  RotateWhenFull(size);
  return true;
}

bool CardHistory::WriteLines(std::string_view lines, off_t* size) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!platform::WriteAll(fd_.get(), lines.data(), lines.size(), file_)) {
      error_ = error_ != 0 ? error_ : Errno();
      return false;
    }
    // Removed between the check and the write (rotated twice meanwhile): nobody could read the
    // lines there, so they go into the file the name holds now.
    struct stat own {};
    if (::fstat(fd_.get(), &own) != 0) return true;
    *size = own.st_size;
    if (own.st_nlink != 0) return true;
    if (const int error = Reopen(); error != 0) {
      error_ = error_ != 0 ? error_ : error;
      return false;
    }
  }
  return true;
}

// Renames a full history (`size` bytes after the last write) to PREPAID.HIS.1. The flock makes
// the writers that find it full take turns, and the one that comes second finds the name
// holding another file and leaves it.
void CardHistory::RotateWhenFull(off_t size) {
  struct stat named {};
  if (settings_.limit == 0 || static_cast<uint64_t>(size) < settings_.limit) return;
  if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) return;
  if (::lstat(file_.c_str(), &named) == 0 && named.st_dev == device_ && named.st_ino == inode_) {
    static_cast<void>(::rename(file_.c_str(), (file_ + ".1").c_str()));
  }
  ::flock(fd_.get(), LOCK_UN);
}

bool CardHistory::Stamp(HistoryStamp* stamp) const {
  struct stat own {};
  if (!fd_ || ::fstat(fd_.get(), &own) != 0) return false;
  *stamp = {static_cast<uint64_t>(own.st_dev), static_cast<uint64_t>(own.st_ino),
            static_cast<uint64_t>(own.st_size)};
  return true;
}

int ReadHistoryLines(const char* dataDir, const std::function<bool(std::string_view)>& line) {
  return ReadHistorySince(dataDir, HistoryStamp{}, line);
}

int ReadHistorySince(const char* dataDir, const HistoryStamp& from,
                     const std::function<bool(std::string_view)>& line) {
  std::string file;
  if (const int error = HistoryFile(dataDir, &file); error != 0) return error;
  struct stat current {};
  const bool known = from.inode != 0;
  const bool inCurrent = known && ::stat(file.c_str(), &current) == 0 &&
                         static_cast<uint64_t>(current.st_dev) == from.device &&
                         static_cast<uint64_t>(current.st_ino) == from.inode;
  bool stopped = false;
  if (!inCurrent) {
    // Rotated since (or not known): the older generation from the stamp on, or whole.
    if (const int error = ReadFileFrom(file + ".1", known ? &from : nullptr, line, &stopped);
        error != 0 || stopped) {
      return error;
    }
  }
  return ReadFileFrom(file, inCurrent ? &from : nullptr, line, &stopped);
}

}  // namespace store
