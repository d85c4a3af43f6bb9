// init: prepares the data directory (and a separate exchange directory) of a new site: the
// folders, their group and modes, and an empty card file.
//
// Root typically runs it, in folders that group members may write to: every name is opened
// without following a symbolic link, the card file is created exclusively, and owner and mode
// are set on the open descriptors, never through a path. What exists is kept: a folder keeps its
// contents and a card file its cards; they only get the group and the group's permissions.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/commands.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/unique_fd.h"

namespace cli {
namespace {

using platform::UniqueFd;

// A new folder: setgid, so files made there take its group; the group may write.
constexpr mode_t kFolderMode = 02775;
constexpr mode_t kFolderGroupBits = 02770;
constexpr mode_t kCardFileMode = 0664;
constexpr mode_t kCardFileGroupBits = 0660;

std::string GroupName(gid_t gid) {
  const struct group* entry = ::getgrgid(gid);
  return entry ? entry->gr_name : std::to_string(gid);
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Gives the open file `fd` the group `gid` (unless it is kKeepGroup) and the permission bits
// `mode` of a new file or `addBits` added to those of an existing one. 0 or an errno value.
constexpr gid_t kKeepGroup = static_cast<gid_t>(-1);
int Adopt(int fd, gid_t gid, bool created, mode_t mode, mode_t addBits, struct stat* status) {
  if (gid != kKeepGroup && ::fchown(fd, static_cast<uid_t>(-1), gid) != 0) return errno;
  if (::fstat(fd, status) != 0) return errno;
  // fchown drops the setgid bit; the mode is set afterwards for that reason too.
  const mode_t wanted = created ? mode : (status->st_mode & 07777) | addBits;
  if (::fchmod(fd, wanted) != 0 || ::fstat(fd, status) != 0) return errno;
  return 0;
}

class Preparation {
 public:
  Preparation(Session& session, gid_t gid) : session_(session), gid_(gid) {}

  // Makes or adopts the folder `dir` (a prefix ending in '/'); kExitOk or the failure said.
  int Folder(const std::string& dir, UniqueFd* folder) {
    // Without its trailing '/': a name ending in one resolves a link whatever the flags say.
    std::string name = dir;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    bool created = ::mkdir(name.c_str(), 0700) == 0;
    if (!created && errno != EEXIST) return session_.FileError(dir, errno);
    folder->reset(::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder->valid()) {
      const int error = errno;
      struct stat link;
      if (::lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        return session_.Fail(
            kExitFileError,
            "cannot use " + dir + ": is a symbolic link; name the folder it points to");
      }
      return session_.FileError(dir, error);
    }
    struct stat status;
    if (const int error =
            Adopt(folder->get(), gid_, created, kFolderMode, kFolderGroupBits, &status);
        error != 0) {
      return session_.FileError(dir, error);
    }
    if (created) platform::SyncDirectory(platform::DirectoryOf(name));
    Say(dir, created ? "folder created" : "folder kept", status);
    return kExitOk;
  }

  // Creates the empty card file in `folder`, or adopts the one there.
  int CardFile(const UniqueFd& folder, const std::string& path) {
    const int flags = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    UniqueFd file(::openat(folder.get(), "PREPAID.DAT", O_RDWR | O_CREAT | O_EXCL | flags, 0600));
    const bool created = file.valid();
    if (!created && errno == EEXIST) {
      file.reset(::openat(folder.get(), "PREPAID.DAT", O_RDONLY | O_NONBLOCK | flags));
    }
    if (!file.valid()) {
      if (errno == ELOOP) {
        return session_.Fail(kExitFileError,
                             "cannot use " + path + ": is a symbolic link; it is left as it is");
      }
      return session_.FileError(path, errno);
    }
    struct stat status;
    if (::fstat(file.get(), &status) != 0) return session_.FileError(path, errno);
    if (!S_ISREG(status.st_mode)) return session_.FileError(path, platform::kNotRegularFile);
    if (const int error =
            Adopt(file.get(), gid_, created, kCardFileMode, kCardFileGroupBits, &status);
        error != 0) {
      return session_.FileError(path, error);
    }
    if (created) platform::SyncDirectory(platform::DirectoryOf(path));
    Say(path,
        created ? "empty card file created"
                : "card file kept with its " + std::to_string(status.st_size / 32) + " cards",
        status);
    return kExitOk;
  }

  void Note(const std::string& line) { report_.text += line + '\n'; }
  void Finish() {
    // The journal gets the same lines as one message.
    for (size_t start = 0, end; (end = report_.text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      report_.summary += (start == 0 ? "" : "; ") + report_.text.substr(start, end - start);
    }
    session_.Present(report_);
  }

 private:
  void Say(const std::string& path, const std::string& what, const struct stat& status) {
    Note(path + ": " + what + ", group " + GroupName(status.st_gid) + ", mode " +
         ModeText(status.st_mode));
  }

  Session& session_;
  const gid_t gid_;
  Report report_;
};

}  // namespace

int Init(Session& session, const std::string& group) {
  gid_t gid = kKeepGroup;
  if (!group.empty()) {
    const struct group* entry = ::getgrnam(group.c_str());
    if (!entry) return session.Fail(kExitUsage, "there is no group " + group);
    gid = entry->gr_gid;
  }
  Preparation preparation(session, gid);
  UniqueFd data;
  if (const int code = preparation.Folder(session.dataDir(), &data); code != kExitOk) return code;
  if (session.exchangeDir() != session.dataDir()) {
    UniqueFd exchange;
    if (const int code = preparation.Folder(session.exchangeDir(), &exchange); code != kExitOk) {
      return code;
    }
  }
  if (const int code = preparation.CardFile(data, session.DataPath("PREPAID.DAT"));
      code != kExitOk) {
    return code;
  }
  if (!platform::PathExists(session.DataPath("PREPAID.BIN"))) {
    preparation.Note(session.DataPath("PREPAID.BIN") +
                     " is missing: copy the card code tables of the card issuer there "
                     "(decode and check need them)");
  }
  preparation.Finish();
  return kExitOk;
}

}  // namespace cli
