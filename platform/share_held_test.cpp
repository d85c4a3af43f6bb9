// Replacing and removing a file that the caller holds open: allowed only while the caller's
// own open is the file's one cooperating open, and never leaving the path without a file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/fault.h"
#include "platform/share.h"
#include "platform/shared_folder.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"

namespace platform {
namespace {

using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr OpenRequest kDenyWriters{kAccessRead, kShareRead, Disposition::kOpenExisting};
constexpr OpenRequest kSharingReader{kAccessRead, kShareReadWrite, Disposition::kOpenExisting};

// Another process that keeps `path` open for reading while it lives.
class Reader : public testsupport::OtherProcess {
 public:
  explicit Reader(const std::string& path)
      : OtherProcess([&] {
          static SharedFile file;
          return SharedFile::Open(path, kSharingReader, &file) == 0;
        }) {}
};

class ShareHeldTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    target_ = Path("PREPAID.DAT");
    from_ = Path("PREPAID.NEW");
    WriteFile(target_, "old contents");
    WriteFile(from_, "new contents");
    ASSERT_EQ(SharedFile::Open(target_, kDenyWriters, &held_), 0);
  }
  // Nothing was replaced or removed.
  void ExpectUntouched() const {
    EXPECT_EQ(ReadFile(target_), "old contents");
    EXPECT_EQ(ReadFile(from_), "new contents");
  }

  std::string target_, from_;
  SharedFile held_;
};

TEST_F(ShareHeldTest, AnyOtherOpenOfEitherFileRefusesTheReplacement) {
  {
    SharedFile sameProcess;
    ASSERT_EQ(SharedFile::Open(target_, kSharingReader, &sameProcess), 0);
    EXPECT_EQ(ReplaceHeldShared(from_, held_), kSharingViolation);
    EXPECT_EQ(RemoveHeldShared(held_), kSharingViolation);
  }
  for (const std::string& path : {target_, from_}) {
    Reader reader(path);
    ASSERT_TRUE(reader.succeeded());
    EXPECT_EQ(ReplaceHeldShared(from_, held_), kSharingViolation) << path;
    if (path == target_) {
      EXPECT_EQ(RemoveHeldShared(held_), kSharingViolation);
    }
  }
  ExpectUntouched();
}

TEST_F(ShareHeldTest, TheHolderAloneReplacesItsFileKeepingItsAccess) {
  ASSERT_EQ(::chmod(target_.c_str(), 0640), 0);
  ASSERT_EQ(::chmod(from_.c_str(), 0600), 0);
  {
    // The replacement takes the access over on its own descriptor, never through its path.
    SharedFile replacement;
    struct stat model;
    ASSERT_EQ(SharedFile::Open(from_, {kAccessWrite, kShareNone}, &replacement), 0);
    ASSERT_EQ(::fstat(held_.fd(), &model), 0);
    ASSERT_EQ(TakeOverAccess(replacement.fd(), model), 0);
  }
  ASSERT_EQ(ReplaceHeldShared(from_, held_), 0);
  EXPECT_EQ(ReadFile(target_), "new contents");
  EXPECT_FALSE(FileExists(from_));
  struct stat status;
  ASSERT_EQ(::stat(target_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  // The held open still reads the replaced file, and its announcement stays with that file.
  char old[12];
  EXPECT_EQ(held_.ReadAt(old, sizeof old, 0), 12);
  EXPECT_EQ(std::string(old, sizeof old), "old contents");
  SharedFile writer;
  EXPECT_EQ(SharedFile::Open(target_, {kAccessReadWrite, kShareReadWrite}, &writer), 0);
  // Once replaced, the held path names another file.
  writer.Close();
  EXPECT_EQ(RemoveHeldShared(held_), ESTALE);
  EXPECT_EQ(ReadFile(target_), "new contents");
}

TEST_F(ShareHeldTest, TheHolderAloneRemovesItsFile) {
  ASSERT_EQ(RemoveHeldShared(held_), 0);
  EXPECT_FALSE(FileExists(target_));
  EXPECT_EQ(RemoveHeldShared(held_), ESTALE);
  WriteFile(target_, "created again");
  EXPECT_EQ(ReplaceHeldShared(from_, held_), ESTALE) << "the path names a new file now";
  EXPECT_EQ(ReadFile(target_), "created again");
}

TEST_F(ShareHeldTest, ReplacedLinkedUnopenedOrFaultyFilesAreRefused) {
  SharedFile closed;
  EXPECT_EQ(ReplaceHeldShared(from_, closed), EBADF);
  EXPECT_EQ(RemoveHeldShared(closed), EBADF);
  for (FileOp failing : {FileOp::kRename, FileOp::kRemove, FileOp::kLock, FileOp::kStat}) {
    ScopedFaultHook hook([=](FileOp op, std::string_view) { return op == failing ? EIO : 0; });
    if (failing != FileOp::kRemove) {
      EXPECT_EQ(ReplaceHeldShared(from_, held_), EIO);
    }
    if (failing != FileOp::kRename) {
      EXPECT_EQ(RemoveHeldShared(held_), EIO);
    }
  }
  ExpectUntouched();

  // Neither the held file nor the replacement may be a link: the link would be replaced, or
  // put in place, instead of a file.
  ASSERT_EQ(::symlink(from_.c_str(), Path("from-link").c_str()), 0);
  EXPECT_EQ(ReplaceHeldShared(Path("from-link"), held_), ELOOP);
  ASSERT_EQ(::symlink(target_.c_str(), Path("link").c_str()), 0);
  SharedFile throughLink;
  held_.Close();
  ASSERT_EQ(SharedFile::Open(Path("link"), kDenyWriters, &throughLink), 0);
  EXPECT_EQ(ReplaceHeldShared(from_, throughLink), ELOOP);
  EXPECT_EQ(RemoveHeldShared(throughLink), ELOOP);
  ExpectUntouched();
}

}  // namespace
}  // namespace platform
