// Files in folders that others may write.
//
// Data and exchange directories are shared by a group, and root runs commands in them: every
// name there may be a symbolic link or a file that another member put there, aimed at a file
// only root may write or read. Every file the libraries open is therefore opened here, by its
// last component relative to a descriptor of its folder, under these rules:
//
// - Links. The last component is opened with O_NOFOLLOW. A symbolic link is followed only when
//   it belongs to root, to the owner of the folder that holds it, or to the caller: the rule the
//   kernel's protected_symlinks applies in sticky world-writable folders, applied in every
//   folder. A link an administrator set up keeps working; one a member planted for somebody else
//   to follow is refused with kUntrustedLink. In a folder of one's own nothing changes, since
//   one owns the folder and one's links. The owner is read from the link itself, opened with
//   O_PATH | O_NOFOLLOW, and its target is read through that descriptor, so the link checked is
//   the link followed even when the name is swapped meanwhile; the target's last component is
//   opened under the same rule in its own folder.
// - Creation. A file is created only with O_CREAT | O_EXCL | O_NOFOLLOW: an open that may create
//   first opens what is there, and creates exclusively only when nothing is, so it knows
//   whether it made the file.
// - New files in shared folders. A file created in a folder its group may write takes the
//   folder's group and the group permissions of the mode asked for (read and write for the
//   0666 of the C runtime), whatever the caller's umask, so the next member can go on where
//   root or another member left off. Set on the open descriptor, never through a path.
// - Stale files. A temporary file that a run left behind is removed only when it is an ordinary
//   file of the folder's owner or of the caller; anything else in its place (a link, another
//   member's file) stays and is reported as kFileInTheWay.
//
// Every refusal under these rules is also noted for the calling thread (TakeRefusal), so a
// program that only sees a function's failure result can still say which file was refused and
// why.
#ifndef LINDAVOX_PLATFORM_SHARED_FOLDER_H
#define LINDAVOX_PLATFORM_SHARED_FOLDER_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// A symbolic link that neither root, nor the folder's owner, nor the caller made.
inline constexpr int kUntrustedLink = ENOLINK;
// A stale file that is not ours to remove: a link, or another user's file.
inline constexpr int kFileInTheWay = EEXIST;

// Opens `path` as open(2) would with `flags` and `mode` (O_CLOEXEC, O_NOCTTY, O_NOFOLLOW and
// O_NONBLOCK added), under the rules above. An open that meets another process's lease is
// retried for about a second. `*created` (when given) tells whether this open made the file.
// Returns 0 with the descriptor in `*fd`, or an errno value.
int OpenInFolder(const std::string& path, int flags, mode_t mode, UniqueFd* fd,
                 bool* created = nullptr);

// The path of the file `path` names once its symbolic links are followed, each only under the
// link rule: `path` itself when its last component is no link, else the target (relative
// targets taken in the link's folder). A missing file or folder ends the walk there. Returns 0
// and fills `*file`, kUntrustedLink for a link the rule refuses, or ELOOP after 40 links.
int FollowTrustedLinks(const std::string& path, std::string* file);

// Removes a stale file at `path` before it is created anew: 0 when nothing is there or it was
// removed; kFileInTheWay when it is not an ordinary file of the folder's owner or the caller;
// platform::kSharingViolation while a cooperating process holds it open; or an errno value.
int RemoveStaleFile(const std::string& path);

// Gives the open file `fd` the permission bits of `model`, and its owner and group where this
// process may (only a privileged process gives a file away; a member of a group may give it that
// group). Returns 0 or the errno of the failed fchmod.
int TakeOverAccess(int fd, const struct stat& model);

// The latest refusal under the rules above in this thread: the path named and the error
// (kUntrustedLink, kFileInTheWay). Taking it clears it.
struct Refusal {
  std::string path;
  int error = 0;
};
std::optional<Refusal> TakeRefusal();

}  // namespace platform

#endif
