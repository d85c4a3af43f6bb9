// The rules for shared folders at the bottom: which links an open follows, what a created file
// is given, which stale files are removed. Links and files of other users are made by root
// (lchown), so these tests run as root, as the suite does.
#include "platform/shared_folder.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/file_io.h"
#include "platform/share.h"
#include "testsupport/file_test.h"

namespace platform {
namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

// A user and group id that no account has.
uid_t SpareId(uid_t from) {
  while (::getpwuid(from) != nullptr || ::getgrgid(from) != nullptr) ++from;
  return from;
}

class SharedFolderTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "links of other users are made as root";
    owner_ = SpareId(61000);
    other_ = SpareId(owner_ + 1);
    // A folder of another user (`owner_`), shared with the group `owner_`.
    shared_ = Path("shared/");
    ASSERT_EQ(::mkdir(shared_.c_str(), 0775), 0);
    ASSERT_EQ(::chown(shared_.c_str(), owner_, owner_), 0);
    WriteFile(Path("target"), "target");
  }
  void MakeLink(const std::string& link, const std::string& target, uid_t owner) {
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), owner, owner), 0);
  }
  // Opens `path` for reading: 0 or the errno, and the refusal noted, if any.
  static int Open(const std::string& path, std::string* refused) {
    TakeRefusal();
    UniqueFd fd;
    const int error = OpenRegularFile(path, O_RDONLY, 0, &fd);
    const std::optional<Refusal> refusal = TakeRefusal();
    *refused = refusal ? refusal->path : "";
    return error;
  }

  uid_t owner_ = 0, other_ = 0;
  std::string shared_;
};

TEST_F(SharedFolderTest, ALinkIsFollowedOnlyWhenRootTheFolderOwnerOrTheCallerMadeIt) {
  const std::string link = shared_ + "link";
  struct Case {
    uid_t linkOwner;
    bool followed;
  } cases[] = {{0, true}, {owner_, true}, {other_, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.linkOwner);
    MakeLink(link, Path("target"), c.linkOwner);
    std::string refused, resolved;
    EXPECT_EQ(Open(link, &refused), c.followed ? 0 : kUntrustedLink);
    EXPECT_EQ(refused, c.followed ? "" : link);
    EXPECT_EQ(FollowTrustedLinks(link, &resolved), c.followed ? 0 : kUntrustedLink);
    if (c.followed) {
      EXPECT_EQ(resolved, Path("target"));
    }
  }
  // The caller's own links anywhere, and links that lead on: each is judged in its own folder,
  // relative targets taken there.
  MakeLink(Path("own"), "shared/link", 0);
  MakeLink(link, "../target", owner_);
  std::string refused, resolved;
  EXPECT_EQ(Open(Path("own"), &refused), 0);
  EXPECT_EQ(FollowTrustedLinks(Path("own"), &resolved), 0);
  EXPECT_EQ(resolved, Path("shared/../target"));
  MakeLink(link, "../target", other_);
  EXPECT_EQ(Open(Path("own"), &refused), kUntrustedLink);
  EXPECT_EQ(refused, Path("shared/link")) << "the refusal names the link that was refused";
  // Creating through a link the rule refuses creates nothing.
  MakeLink(link, Path("made"), other_);
  UniqueFd fd;
  EXPECT_EQ(OpenRegularFile(link, O_WRONLY | O_CREAT, 0666, &fd), kUntrustedLink);
  EXPECT_EQ(OpenRegularFile(link, O_WRONLY | O_CREAT | O_EXCL, 0666, &fd), EEXIST);
  EXPECT_FALSE(FileExists(Path("made")));
  EXPECT_EQ(ReadFile(Path("target")), "target");
}

TEST_F(SharedFolderTest, ACreatedFileTakesTheSharedFolderGroupWhateverTheUmask) {
  const mode_t umask = ::umask(077);
  struct Case {
    mode_t folderMode;
    gid_t folderGroup;
    mode_t asked;
    gid_t fileGroup;
    mode_t fileMode;
  } cases[] = {
      {0775, owner_, 0666, owner_, 0660},   // a shared folder: its group may read and write
      {02775, owner_, 0644, owner_, 0640},  // the mode asked for bounds the group's bits
      {0755, owner_, 0666, 0, 0600},        // not shared: the umask decides
  };
  for (const Case& c : cases) {
    ASSERT_EQ(::chmod(shared_.c_str(), c.folderMode), 0);
    ASSERT_EQ(::chown(shared_.c_str(), owner_, c.folderGroup), 0);
    const std::string path = shared_ + "new";
    ::unlink(path.c_str());
    UniqueFd fd;
    bool created = false;
    ASSERT_EQ(OpenInFolder(path, O_WRONLY | O_CREAT, c.asked, &fd, &created), 0);
    EXPECT_TRUE(created);
    struct stat status;
    ASSERT_EQ(::fstat(fd.get(), &status), 0);
    EXPECT_EQ(status.st_gid, c.fileGroup) << std::oct << c.folderMode;
    EXPECT_EQ(status.st_mode & 07777, c.fileMode) << std::oct << c.folderMode;
    ASSERT_EQ(OpenInFolder(path, O_WRONLY | O_CREAT, c.asked, &fd, &created), 0);
    EXPECT_FALSE(created) << "an existing file is opened, not made again";
  }
  ::umask(umask);
}

TEST_F(SharedFolderTest, AStaleFileIsRemovedOnlyWhenItIsAnOrdinaryFileOfTheOwnerOrTheCaller) {
  const std::string stale = shared_ + "PREPAID.NEW";
  struct Case {
    const char* what;
    uid_t owner;  // of an ordinary file; other_ + 1 for a link of the folder's owner
    int result;
  } cases[] = {
      {"the folder owner's file", owner_, 0},
      {"the caller's file", 0, 0},
      {"another user's file", other_, kFileInTheWay},
      {"a link, even the folder owner's", other_ + 1, kFileInTheWay},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.owner == other_ + 1) {
      MakeLink(stale, Path("target"), owner_);
    } else {
      WriteFile(stale, "stale");
      ASSERT_EQ(::chown(stale.c_str(), c.owner, c.owner), 0);
    }
    TakeRefusal();
    EXPECT_EQ(RemoveStaleFile(stale), c.result);
    struct stat status;
    EXPECT_EQ(::lstat(stale.c_str(), &status) == 0, c.result != 0);
    const std::optional<Refusal> refusal = TakeRefusal();
    EXPECT_EQ(refusal ? refusal->path : "", c.result != 0 ? stale : "");
    ::unlink(stale.c_str());
  }
  EXPECT_EQ(RemoveStaleFile(stale), 0) << "nothing there";
  WriteFile(stale, "written by a run that is still going");
  SharedFile writer;
  ASSERT_EQ(SharedFile::Open(stale, {kAccessWrite, kShareNone}, &writer), 0);
  EXPECT_EQ(RemoveStaleFile(stale), kSharingViolation);
  EXPECT_EQ(ReadFile(stale), "written by a run that is still going");
  EXPECT_EQ(ReadFile(Path("target")), "target");
}

}  // namespace
}  // namespace platform
