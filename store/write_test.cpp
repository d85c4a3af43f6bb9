#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/share.h"
#include "store/prepaid.h"
#include "store/store_internal.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"

namespace {

using testsupport::CardBuilder;
using testsupport::CardBytes;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteCardFile;

class WriteTest : public testsupport::FileTest {
 protected:
  std::string Dat() const { return Path("PREPAID.DAT"); }
  int32_t Write(int32_t index, const PrepaidCard& card) const {
    return Prepaid_Write(Dir().c_str(), index, &card);
  }
};

// A card whose every field differs from the other cards', so a record written one field short
// or at the wrong place is seen in the file bytes.
PrepaidCard Edited() {
  return CardBuilder(-31337)
      .Balance(123456)
      .Reserved(0xC3, 0x3C)
      .Telefon("00498912345678")
      .Last("0171555")
      .Flags(0x80000110)
      .Build();
}

TEST_F(WriteTest, RewritesOnlyTheRecordAtTheIndex) {
  const std::vector<PrepaidCard> cards = {
      CardBuilder(1).Balance(10).Reserved(1, 2).Telefon("0301234567").Last("089").Build(),
      CardBuilder(2).Balance(20).Reserved(3, 4).Telefon("040998877").Flags(0x10).Build(),
      CardBuilder(3).Balance(30).Reserved(5, 6).Telefon("0221").Last("1234567890").Build(),
      CardBuilder(4).Balance(40).Build(),
  };
  const std::string trailing = "partial";
  WriteCardFile(Dat(), cards, trailing);
  std::string expected = ReadFile(Dat());

  // The card editor's round: find the card, change units and telephone number, write it back.
  int32_t index = -1;
  PrepaidCard card;
  ASSERT_EQ(Prepaid_Search(Dir().c_str(), 3, &index, &card), 1);
  ASSERT_EQ(index, 2);
  card.balance = 999;
  card.telefonHigh = 0;
  card.telefonLow = 7654321;
  card.telefonDigits = 9;
  EXPECT_EQ(Write(index, card), 1);
  expected.replace(2 * 32, 32, CardBytes(card));
  EXPECT_EQ(ReadFile(Dat()), expected);
  EXPECT_EQ(ReadFile(Dat()).substr(2 * 32 + 8, 4), std::string("\x05\x06\x09\x0A", 4))
      << "reserved bytes and last number kept, telephone digits changed";

  // First and last whole record; the trailing piece stays as it was.
  for (int32_t at : {0, 3}) {
    SCOPED_TRACE(at);
    EXPECT_EQ(Write(at, Edited()), 1);
    expected.replace(static_cast<size_t>(at) * 32, 32, CardBytes(Edited()));
    EXPECT_EQ(ReadFile(Dat()), expected);
  }
  EXPECT_EQ(expected.substr(4 * 32), trailing);
}

TEST_F(WriteTest, IndexAtOrBeyondTheEndExtendsTheFile) {
  WriteCardFile(Dat(), {});
  EXPECT_EQ(Write(0, Edited()), 1);
  EXPECT_EQ(ReadFile(Dat()), CardBytes(Edited()));

  const std::vector<PrepaidCard> cards = {CardBuilder(1).Balance(10).Build(),
                                          CardBuilder(2).Balance(20).Build()};
  WriteCardFile(Dat(), cards);
  std::string expected = ReadFile(Dat());

  const PrepaidCard appended = CardBuilder(3).Balance(30).Telefon("12").Build();
  EXPECT_EQ(Write(2, appended), 1);  // index == record count: appends
  expected += CardBytes(appended);
  EXPECT_EQ(ReadFile(Dat()), expected);

  EXPECT_EQ(Write(6, Edited()), 1);  // three zero records in between
  expected += std::string(3 * 32, '\0') + CardBytes(Edited());
  EXPECT_EQ(ReadFile(Dat()), expected);

  // The written records are found where they were put.
  int32_t index = -1;
  PrepaidCard card;
  EXPECT_EQ(Prepaid_Search(Dir().c_str(), Edited().cardNumber, &index, &card), 0) << "locked";
  EXPECT_EQ(index, 6);
  EXPECT_EQ(Prepaid_Search(Dir().c_str(), 3, &index, &card), 1);
  EXPECT_EQ(index, 2);
}

// A write at a far index leaves a file of 64 GiB that holds a few kilobytes; lookups step over
// the hole, count in 64 bits, and never hand out an index that names another record.
TEST_F(WriteTest, NoFileGrowsBeyondWhatAnIndexCanName) {
  const std::vector<PrepaidCard> cards = {CardBuilder(1).Balance(10).Build(),
                                          CardBuilder(2).Balance(20).Build()};
  WriteCardFile(Dat(), cards);
  const std::string before = ReadFile(Dat());
  EXPECT_EQ(Write(INT32_MAX, Edited()), 0) << "the count would be 2^31";
  EXPECT_EQ(ReadFile(Dat()), before);

  const PrepaidCard far = CardBuilder(77).Balance(7).Build();
  ASSERT_EQ(Write(INT32_MAX - 1, far), 1);
  struct stat status;
  ASSERT_EQ(::stat(Dat().c_str(), &status), 0);
  EXPECT_EQ(status.st_size, off_t{INT32_MAX} * 32);

  struct Lookup {
    int32_t cardNumber;
    int32_t result;
    int32_t index;
  };
  auto expectLookups = [&](std::initializer_list<Lookup> lookups) {
    for (const Lookup& lookup : lookups) {
      int32_t index = -77;
      PrepaidCard card;
      EXPECT_EQ(Prepaid_Search(Dir().c_str(), lookup.cardNumber, &index, &card), lookup.result)
          << lookup.cardNumber;
      EXPECT_EQ(index, lookup.index) << lookup.cardNumber;
    }
  };
  expectLookups({{77, 1, INT32_MAX - 1}, {4711, 0, INT32_MAX}, {0, 1, 2} /* in the hole */});

  // One record more than an index can name: a card behind it, or the count, is no index.
  ASSERT_EQ(::truncate(Dat().c_str(), (off_t{INT32_MAX} + 1) * 32 + 31), 0);
  expectLookups({{2, 1, 1}, {77, 1, INT32_MAX - 1}, {4711, 0, -1}});
  EXPECT_EQ(Write(INT32_MAX, Edited()), 1) << "the file already reaches that far";
  expectLookups({{Edited().cardNumber, 0 /* locked */, INT32_MAX}});
  ::unlink(Dat().c_str());
}

TEST_F(WriteTest, RefusedWriteChangesNothing) {
  // No card file: the write never creates one, nor the folder.
  EXPECT_EQ(Write(0, Edited()), 0);
  EXPECT_FALSE(FileExists(Dat()));
  const PrepaidCard edited = Edited();
  const std::string nowhere = Path("nowhere/");
  EXPECT_EQ(Prepaid_Write(nowhere.c_str(), 0, &edited), 0);
  EXPECT_FALSE(FileExists(nowhere));

  ASSERT_EQ(::mkdir(Dat().c_str(), 0755), 0);
  EXPECT_EQ(Write(0, Edited()), 0) << "PREPAID.DAT is a folder";
  ASSERT_EQ(::rmdir(Dat().c_str()), 0);

  WriteCardFile(Dat(), {CardBuilder(1).Balance(10).Build(), CardBuilder(2).Balance(20).Build()});
  const std::string before = ReadFile(Dat());
  for (int32_t index : {-1, -2, INT32_MIN}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(Write(index, Edited()), 0);
    EXPECT_EQ(ReadFile(Dat()), before);
  }
  EXPECT_EQ(Prepaid_Write(nullptr, 0, &edited), 0);
  EXPECT_EQ(Prepaid_Write(Dir().c_str(), 0, nullptr), 0);
  EXPECT_EQ(ReadFile(Dat()), before);
}

TEST_F(WriteTest, FailedOpenOrWriteReturnsZero) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(10).Build(), CardBuilder(2).Balance(20).Build()});
  const std::string before = ReadFile(Dat());
  const struct {
    platform::FileOp op;
    int error;
    const char* what;
  } faults[] = {
      {platform::FileOp::kOpen, EACCES, "open refused"},
      {platform::FileOp::kWrite, EIO, "write EIO"},
      {platform::FileOp::kWrite, ENOSPC, "write ENOSPC"},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.what);
    platform::ScopedFaultHook hook(
        [&](platform::FileOp op, std::string_view) { return op == fault.op ? fault.error : 0; });
    EXPECT_EQ(Write(1, Edited()), 0);
    EXPECT_EQ(Write(2, Edited()), 0);
    EXPECT_EQ(ReadFile(Dat()), before);
  }
}

// A disk that fills up in the middle of the record: the file size limit lets the first 16
// bytes through and refuses the rest. Run in a child process, since the limit and the ignored
// SIGXFSZ belong to the whole process.
TEST_F(WriteTest, PartlyWrittenRecordReturnsZero) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(10).Build()});
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {48, 48};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(100);
    const PrepaidCard edited = Edited();
    const int32_t fits = Prepaid_Write(Dir().c_str(), 0, &edited);
    const int32_t cut = Prepaid_Write(Dir().c_str(), 1, &edited);
    _exit(fits * 10 + cut);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 10) << "tens: write within the limit, ones: write cut short";
  EXPECT_EQ(ReadFile(Dat()).size(), 48u);
}

TEST_F(WriteTest, HonoursOtherOpensAndClosesTheFile) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(10).Build(), CardBuilder(2).Balance(20).Build()});
  const std::string before = ReadFile(Dat());
  {
    // A reader that denies writing: the record stays as it is.
    platform::SharedFile reader;
    ASSERT_EQ(
        platform::SharedFile::Open(Dat(), {platform::kAccessRead, platform::kShareRead}, &reader),
        0);
    EXPECT_EQ(Write(1, Edited()), 0);
    EXPECT_EQ(ReadFile(Dat()), before);
  }
  {
    // The telephony server's open shares everything: both write.
    platform::SharedFile server;
    ASSERT_EQ(platform::SharedFile::Open(
                  Dat(), {platform::kAccessReadWrite, platform::kShareReadWrite}, &server),
              0);
    EXPECT_EQ(Write(1, Edited()), 1);
  }
  EXPECT_EQ(ReadFile(Dat()), before.substr(0, 32) + CardBytes(Edited()));

  platform::SharedFile exclusive;
  EXPECT_EQ(platform::SharedFile::Open(Dat(), {platform::kAccessReadWrite, platform::kShareNone},
                                       &exclusive),
            0)
      << "the write left the file open";
}

}  // namespace

TEST_F(WriteTest, ReadingOneRecordBack) {
  WriteCardFile(Dat(), {CardBuilder(1).Build(), Edited()}, "trailing");
  PrepaidCard card{};
  ASSERT_TRUE(store::ReadCardAt(Dir().c_str(), 1, &card));
  EXPECT_EQ(CardBytes(card), CardBytes(Edited()));
  // Beyond the last whole record, a negative index or no file: nothing.
  EXPECT_FALSE(store::ReadCardAt(Dir().c_str(), 2, &card));
  EXPECT_FALSE(store::ReadCardAt(Dir().c_str(), -1, &card));
  EXPECT_EQ(CardBytes(card), CardBytes(Edited()));
  ::unlink(Dat().c_str());
  EXPECT_FALSE(store::ReadCardAt(Dir().c_str(), 0, &card));
}
