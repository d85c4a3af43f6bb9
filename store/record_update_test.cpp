#include "store/record_update.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"

namespace store {
namespace {

using testsupport::CardBuilder;
using testsupport::ReadCardFile;

class RecordUpdateTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    testsupport::WriteCardFile(Path("PREPAID.DAT"),
                               {CardBuilder(5).Balance(0).Build(),
                                CardBuilder(6).Balance(1).Telefon("0891234").Last("030").Build()});
  }
  // Takes the second record's lock as a writer does, kept until the process ends.
  bool LockSecondRecord() const {
    const int fd = ::open(Path("PREPAID.DAT").c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_start = 32;
    lock.l_len = 32;
    return fd >= 0 && fcntl(fd, F_OFD_SETLK, &lock) == 0;
  }
  UpdateResult AddOne(int32_t index, int32_t card) const {
    return UpdateCard(Dir().c_str(), index, card, [](PrepaidCard* record) {
      ++record->balance;
      return true;
    });
  }
};

TEST_F(RecordUpdateTest, ChangesOnlyTheRecordOfTheExpectedCard) {
  EXPECT_EQ(AddOne(1, 6), UpdateResult::kWritten);
  const std::vector<PrepaidCard> cards = ReadCardFile(Path("PREPAID.DAT"));
  EXPECT_TRUE(testsupport::SameCard(
      cards[1], CardBuilder(6).Balance(2).Telefon("0891234").Last("030").Build()));
  EXPECT_EQ(AddOne(1, 5), UpdateResult::kOtherCard) << "the file was reorganised";
  EXPECT_EQ(AddOne(2, 6), UpdateResult::kOtherCard) << "past the end";
  EXPECT_EQ(UpdateCard(Dir().c_str(), 0, 5, [](PrepaidCard*) { return false; }),
            UpdateResult::kUnchanged);
  EXPECT_EQ(UpdateCard(Path("none/").c_str(), 0, 5, [](PrepaidCard*) { return true; }),
            UpdateResult::kOtherCard);
  EXPECT_EQ(ReadCardFile(Path("PREPAID.DAT"))[0].balance, 0);
}

// Writers in two threads and two processes add to the same card: none loses another's units.
TEST_F(RecordUpdateTest, ConcurrentWritersLoseNoChange) {
  constexpr int kEach = 300;
  auto addMany = [this] {
    for (int i = 0; i < kEach; ++i) {
      if (AddOne(0, 5) != UpdateResult::kWritten) return false;
    }
    return true;
  };
  const pid_t child = fork();
  if (child == 0) _exit(addMany() ? 0 : 1);
  bool threadOk = false;
  std::thread other([&] { threadOk = addMany(); });
  const bool mainOk = addMany();
  other.join();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(mainOk && threadOk && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadCardFile(Path("PREPAID.DAT"))[0].balance, 3 * kEach);
}

// Every writer waits while another process holds the record's lock, and goes on once the
// holder is gone, also when it dies holding the lock: the read-modify-write and Prepaid_Write,
// which replaces the record.
TEST_F(RecordUpdateTest, WritersWaitForTheRecordLockOfAnotherProcess) {
  const PrepaidCard replacement = CardBuilder(6).Balance(77).Build();
  const std::vector<std::function<bool()>> writers = {
      [this] { return AddOne(1, 6) == UpdateResult::kWritten; },
      [this, &replacement] { return Prepaid_Write(Dir().c_str(), 1, &replacement) == 1; }};
  for (const auto& write : writers) {
    testsupport::OtherProcess holder([this] { return LockSecondRecord(); });
    ASSERT_TRUE(holder.succeeded());
    EXPECT_EQ(AddOne(0, 5), UpdateResult::kWritten) << "another record is not held";
    // Timed from before the killer starts, so a pause of this thread before the write cannot
    // shorten the wait that is measured.
    const auto started = std::chrono::steady_clock::now();
    std::thread killer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      holder.Kill();
    });
    EXPECT_TRUE(write());
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
    killer.join();
  }
  EXPECT_TRUE(testsupport::SameCard(ReadCardFile(Path("PREPAID.DAT"))[1], replacement));

  // A holder that never lets go: the writer gives up after a few seconds and says it met a
  // sharing conflict (fcntl words a held lock as EACCES, which would read "Permission denied").
  testsupport::OtherProcess holder([this] { return LockSecondRecord(); });
  ASSERT_TRUE(holder.succeeded());
  errno = 0;
  EXPECT_EQ(AddOne(1, 6), UpdateResult::kFailed);
  EXPECT_EQ(errno, platform::kSharingViolation);
}

}  // namespace
}  // namespace store
