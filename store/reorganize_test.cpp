// The compaction of the card file: what it keeps, and that neither a failure, another
// program's open nor a concurrent writer costs a card or a balance.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/share.h"
#include "store/card_record.h"
#include "store/prepaid.h"
#include "store/record_update.h"
#include "store/whole_file_test.h"
#include "testsupport/other_process.h"

namespace store {
namespace {

using platform::FileOp;
using testsupport::CardBuilder;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteCardFile;
using testsupport::WriteFile;

struct CompactionCase {
  const char* what;
  std::vector<PrepaidCard> cards;
  std::string trailing;
  std::vector<PrepaidCard> kept;
};

TEST_F(WholeFileTest, CompactionKeepsTheCardsWithUnitsWholeAndInOrder) {
  const PrepaidCard full = CardBuilder(7)
                               .Balance(-5)
                               .Telefon("0301234567")
                               .Last("08912345678")
                               .Flags(0x80000011)
                               .Reserved(1, 2)
                               .Build();
  const CompactionCase cases[] = {
      {"mixed",
       {CardBuilder(1).Balance(10).Build(), CardBuilder(2).Locked().Build(), full,
        CardBuilder(3).Telefon("123").Build(), CardBuilder(1).Balance(INT_MIN).Build()},
       std::string("\x09\0\0\0\x05", 5),
       {CardBuilder(1).Balance(10).Build(), full, CardBuilder(1).Balance(INT_MIN).Build()}},
      {"every card empty", {CardBuilder(1).Build(), CardBuilder(2).Locked().Build()}, "", {}},
      {"empty file", {}, "", {}},
      {"only a piece of a record", {}, "abc", {}},
  };
  for (const CompactionCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteCardFile(Dat(), c.cards, c.trailing);
    ASSERT_EQ(::chmod(Dat().c_str(), 0640), 0);
    EXPECT_EQ(Compact(), 1);
    EXPECT_EQ(ReadFile(Dat()), Bytes(c.kept));
    EXPECT_FALSE(FileExists(New()));
    struct stat status;
    ASSERT_EQ(::stat(Dat().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u) << "the card file keeps the access it was given";
  }
  std::remove(Dat().c_str());
  EXPECT_EQ(Compact(), 0);
  EXPECT_FALSE(FileExists(Dat()));
  EXPECT_FALSE(FileExists(New()));
}

// A writer holding the card file keeps the compaction from starting; a reader still holding it
// at the end keeps it from replacing the file. Either way the card file stays as it was.
TEST_F(WholeFileTest, CompactionLeavesACardFileThatOthersHoldOpen) {
  const std::vector<PrepaidCard> cards = {CardBuilder(1).Build(),
                                          CardBuilder(2).Balance(5).Build()};
  WriteCardFile(Dat(), cards);
  for (const platform::OpenRequest& other :
       {platform::OpenRequest{platform::kAccessReadWrite, platform::kShareReadWrite},
        platform::OpenRequest{platform::kAccessRead, platform::kShareReadWrite}}) {
    SCOPED_TRACE(other.access);
    testsupport::OtherProcess holder([&] {
      static platform::SharedFile file;
      return platform::SharedFile::Open(Dat(), other, &file) == 0;
    });
    ASSERT_TRUE(holder.succeeded());
    EXPECT_EQ(Compact(), 0);
    EXPECT_EQ(ReadFile(Dat()), Bytes(cards));
    EXPECT_FALSE(FileExists(New()));
  }
  // A PREPAID.NEW that another compaction is writing is left to it.
  testsupport::OtherProcess writingNew([&] {
    static platform::SharedFile file;
    return platform::SharedFile::Open(New(),
                                      {platform::kAccessWrite, platform::kShareNone,
                                       platform::Disposition::kCreateTruncate},
                                      &file) == 0;
  });
  ASSERT_TRUE(writingNew.succeeded());
  EXPECT_EQ(Compact(), 0);
  EXPECT_TRUE(FileExists(New()));
  EXPECT_EQ(ReadFile(Dat()), Bytes(cards));
}

// A program that does not use these libraries announces nothing. While it keeps the card file
// open (plain open()), the compaction does not replace the file, so a balance it writes after
// the attempt lands in the card file, not in a file no longer named.
TEST_F(WholeFileTest, CompactionLeavesACardFileThatAPlainOpenHolds) {
  WriteCardFile(Dat(), {CardBuilder(1).Build(), CardBuilder(2).Balance(5).Build()});
  int go[2], ready[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t server = ::fork();
  if (server == 0) {
    const int fd = ::open(Dat().c_str(), O_RDWR);
    char byte = fd >= 0 ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    if (::read(go[0], &byte, 1) != 1) ::_exit(1);
    unsigned char balance[4] = {99, 0, 0, 0};
    ::_exit(::pwrite(fd, balance, 4, 32 + field::kBalance) == 4 ? 0 : 1);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  EXPECT_EQ(Compact(), 0);
  EXPECT_FALSE(FileExists(New()));
  (void)!::write(go[1], "w", 1);
  int status = 0;
  ASSERT_EQ(::waitpid(server, &status, 0), server);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {go[0], go[1], ready[0], ready[1]}) ::close(fd);
  EXPECT_EQ(Compact(), 1) << "once it is closed";
  EXPECT_EQ(ReadFile(Dat()), Bytes({CardBuilder(2).Balance(99).Build()}));
}

TEST_F(WholeFileTest, CompactionFailingAtAnyStepLeavesTheCardFileAsItWas) {
  const std::vector<PrepaidCard> cards = {CardBuilder(1).Balance(10).Build(),
                                          CardBuilder(2).Build(),
                                          CardBuilder(3).Balance(3).Locked().Build()};
  const std::string original = Bytes(cards) + "xy";
  const std::string compacted = Bytes({cards[0], cards[2]});
  int n = 1;
  for (; n < 200; ++n) {
    WriteFile(Dat(), original);
    NthOperationFails fault(n);
    const int32_t result = Compact();
    if (!fault.hit()) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(ReadFile(Dat()), compacted);
      break;
    }
    SCOPED_TRACE(fault.Describe());
    EXPECT_EQ(ReadFile(Dat()), result == 1 ? compacted : original);
    EXPECT_TRUE(!FileExists(New()) || fault.Was(FileOp::kRemove, New()));
    std::remove(New().c_str());
  }
  EXPECT_GT(n, 10) << "every step of the compaction was failed once";
}

// The telephony server lowers a balance again and again while compactions run: a writer that
// meets a compaction is refused and tries again, so no change is lost to a replacement.
TEST_F(WholeFileTest, CompactionsLoseNoBalanceThatAnotherProcessWrites) {
  constexpr int kCalls = 150;
  std::vector<PrepaidCard> cards;
  for (int i = 0; i < 300; ++i) cards.push_back(CardBuilder(i).Balance(i % 3 ? 1 : 0).Build());
  cards.push_back(CardBuilder(4711).Balance(1000).Build());
  WriteCardFile(Dat(), cards);
  const pid_t server = ::fork();
  if (server == 0) {
    for (int done = 0; done < kCalls;) {
      int32_t index = 0;
      PrepaidCard card;
      if (Prepaid_Search(Dir().c_str(), 4711, &index, &card) != 1) continue;
      const UpdateResult result = UpdateCard(Dir().c_str(), index, 4711, [](PrepaidCard* c) {
        --c->balance;
        return true;
      });
      done += result == UpdateResult::kWritten;
    }
    ::_exit(0);
  }
  int compactions = 0, status = 0;
  while (::waitpid(server, &status, WNOHANG) == 0) {
    compactions += Compact();
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_GT(compactions, 0);
  int32_t index = 0;
  PrepaidCard card;
  ASSERT_EQ(Prepaid_Search(Dir().c_str(), 4711, &index, &card), 1);
  EXPECT_EQ(card.balance, 1000 - kCalls);
}

}  // namespace
}  // namespace store
