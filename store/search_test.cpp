#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/share.h"
#include "store/card_blocks.h"
#include "store/prepaid.h"
#include "store/store_internal.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/int_flag_call.h"

namespace store {
namespace {

using testsupport::CardBuilder;
using testsupport::CardBytes;
using testsupport::SameCard;
using testsupport::WriteCardFile;

// Lookups read PREPAID.DAT in blocks of this many records; the index must count across them.
constexpr int32_t kBlock = static_cast<int32_t>(CardBlock::kRecords);

// What the caller's record holds before a search; a failed search must leave it so.
PrepaidCard Pattern() {
  PrepaidCard card;
  std::memset(&card, 0x5C, sizeof card);
  return card;
}

struct Outcome {
  int32_t result;
  int32_t index;
  PrepaidCard card;
  bool untouched() const { return SameCard(card, Pattern()); }
};

class SearchTest : public testsupport::FileTest {
 protected:
  std::string Dat() const { return Path("PREPAID.DAT"); }

  Outcome Find(int32_t cardNumber, int32_t indexBefore = -77) const {
    Outcome out{-1, indexBefore, Pattern()};
    out.result = Prepaid_Search(Dir().c_str(), cardNumber, &out.index, &out.card);
    return out;
  }
  Outcome FindTelefon(TelefonMatch match, int32_t low, int32_t high, uint8_t enabled = 1,
                      int32_t indexBefore = -77) const {
    Outcome out{-1, indexBefore, Pattern()};
    out.result = SearchTelefon(Dir().c_str(), enabled, low, high, &out.index, &out.card, match);
    return out;
  }
};

// Cards numbered 100000 + i with balance i + 1 and telephone number 200000000 + i.
std::vector<PrepaidCard> NumberedCards(int32_t count) {
  std::vector<PrepaidCard> cards;
  cards.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    cards.push_back(
        CardBuilder(100000 + i).Balance(i + 1).Telefon(std::to_string(200000000 + i)).Build());
  }
  return cards;
}

constexpr TelefonMatch kBothMatches[] = {TelefonMatch::kWithUnitsOnly, TelefonMatch::kAnyBalance};

const char* Name(TelefonMatch match) {
  return match == TelefonMatch::kWithUnitsOnly ? "card editor" : "balance query";
}

TEST_F(SearchTest, NoWholeRecordMeansNotFoundAtIndexZero) {
  const std::string wanted =
      CardBytes(CardBuilder(4711).Balance(5).Telefon("0301234567").Build()).substr(0, 31);
  struct Setup {
    const char* what;
    void (*make)(const std::string& dat, const std::string& piece);
  };
  const Setup setups[] = {
      {"missing", [](const std::string&, const std::string&) {}},
      {"empty",
       [](const std::string& dat, const std::string&) { testsupport::WriteFile(dat, ""); }},
      {"31 bytes of the wanted card",
       [](const std::string& dat, const std::string& piece) {
         testsupport::WriteFile(dat, piece);
       }},
      {"a folder", [](const std::string& dat, const std::string&) { ::mkdir(dat.c_str(), 0755); }},
  };
  for (const Setup& setup : setups) {
    SCOPED_TRACE(setup.what);
    testsupport::RemoveTree(Dat());
    setup.make(Dat(), wanted);

    Outcome out = Find(4711);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.index, 0);
    EXPECT_TRUE(out.untouched());
    for (TelefonMatch match : kBothMatches) {
      SCOPED_TRACE(Name(match));
      out = FindTelefon(match, 301234567, 0);
      EXPECT_EQ(out.result, 0);
      EXPECT_EQ(out.index, 0);
      EXPECT_TRUE(out.untouched());
    }
  }
}

TEST_F(SearchTest, FindsTheFirstRecordWithTheNumber) {
  std::vector<PrepaidCard> cards = {
      CardBuilder(1001).Balance(10).Build(),
      CardBuilder(0).Balance(20).Build(),  // 0 is an ordinary card number
      CardBuilder(-2).Balance(30).Build(),
      CardBuilder(1001).Balance(40).Build(),                  // a later duplicate
      CardBuilder(77).Balance(50).Flags(0x7FFFFFFF).Build(),  // every flag but the lock
      CardBuilder(1003)
          .Balance(-6)
          .Reserved(0xA5, 0x5A)
          .Telefon("004930123456789")
          .Last("0891234567")
          .Flags(0x00010002)
          .Build(),
  };
  // More records behind them, so the duplicates lie within one run of records that the
  // scan tests together.
  for (const PrepaidCard& card : NumberedCards(10)) cards.push_back(card);
  WriteCardFile(Dat(), cards);

  const struct {
    int32_t number, index;
  } found[] = {{1001, 0}, {0, 1}, {-2, 2}, {77, 4}, {1003, 5}};
  for (const auto& f : found) {
    SCOPED_TRACE(f.number);
    const Outcome out = Find(f.number);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, f.index);
    EXPECT_TRUE(SameCard(out.card, cards[static_cast<size_t>(f.index)]));
  }

  const Outcome missing = Find(5555);
  EXPECT_EQ(missing.result, 0);
  EXPECT_EQ(missing.index, 16);  // the number of records
  EXPECT_TRUE(missing.untouched());
}

TEST_F(SearchTest, LockedMatchEndsTheSearchWithItsIndex) {
  std::vector<PrepaidCard> cards = {
      CardBuilder(10).Balance(1).Build(),
      CardBuilder(20).Balance(2).Locked().Build(),
      CardBuilder(20).Balance(3).Build(),  // not reached
      CardBuilder(30).Balance(4).Flags(0x80000001).Build(),
  };
  for (const PrepaidCard& card : NumberedCards(10)) cards.push_back(card);
  WriteCardFile(Dat(), cards);
  Outcome out = Find(20);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.index, 1);
  EXPECT_TRUE(out.untouched());

  out = Find(30);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.index, 3);
  EXPECT_TRUE(out.untouched());

  EXPECT_EQ(Find(10).result, 1);
}

TEST_F(SearchTest, MinusOneIsRefusedBeforeTheFileIsRead) {
  Outcome out = Find(-1, 1234);  // no file yet: the missing file would set the index to 0
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.index, 1234);
  EXPECT_TRUE(out.untouched());

  WriteCardFile(Dat(), {CardBuilder(5).Balance(1).Build(), CardBuilder(-1).Balance(9).Build()});
  out = Find(-1, 1234);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.index, 1234);
  EXPECT_TRUE(out.untouched());
}

TEST_F(SearchTest, TrailingPieceIsNeitherMatchedNorCounted) {
  const std::vector<PrepaidCard> cards = NumberedCards(3);
  WriteCardFile(Dat(), cards, CardBytes(CardBuilder(4711).Build()).substr(0, 20));

  Outcome out = Find(4711);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.index, 3);
  EXPECT_TRUE(out.untouched());

  out = Find(cards[2].cardNumber);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.index, 2);
}

TEST_F(SearchTest, IndexCountsAcrossBlocks) {
  std::vector<PrepaidCard> cards = NumberedCards(kBlock + 5);
  cards[kBlock + 2].flags |= PREPAID_CARD_LOCKED;
  // Records kBlock + 1 (no units) and kBlock + 3 share a telephone number.
  cards[kBlock + 1] = CardBuilder(555001).Balance(0).Telefon("0301234567").Build();
  cards[kBlock + 3] = CardBuilder(555003).Balance(8).Telefon("0301234567").Build();
  WriteCardFile(Dat(), cards, CardBytes(CardBuilder(424242).Build()).substr(0, 20));

  for (int32_t at : {0, kBlock - 1, kBlock, kBlock + 4}) {
    SCOPED_TRACE(at);
    const Outcome out = Find(cards[static_cast<size_t>(at)].cardNumber);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, at);
    EXPECT_TRUE(SameCard(out.card, cards[static_cast<size_t>(at)]));
  }

  Outcome out = Find(cards[kBlock + 2].cardNumber);
  EXPECT_EQ(out.result, 0) << "locked";
  EXPECT_EQ(out.index, kBlock + 2);
  EXPECT_TRUE(out.untouched());

  out = Find(424242);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.index, kBlock + 5);

  for (TelefonMatch match : kBothMatches) {
    SCOPED_TRACE(Name(match));
    for (int32_t at : {kBlock - 1, kBlock}) {
      out = FindTelefon(match, cards[static_cast<size_t>(at)].telefonLow, 0);
      EXPECT_EQ(out.result, 1);
      EXPECT_EQ(out.index, at);
    }
  }
  out = FindTelefon(TelefonMatch::kWithUnitsOnly, 301234567, 0);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.index, kBlock + 3);
  EXPECT_EQ(out.card.cardNumber, 555003);
  out = FindTelefon(TelefonMatch::kAnyBalance, 301234567, 0);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.index, kBlock + 1);
  EXPECT_EQ(out.card.cardNumber, 555001);
}

TEST_F(SearchTest, FilesOfWholeBlocks) {
  {
    SCOPED_TRACE("exactly one block");
    const std::vector<PrepaidCard> cards = NumberedCards(kBlock);
    WriteCardFile(Dat(), cards);
    Outcome out = Find(cards.back().cardNumber);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, kBlock - 1);
    out = Find(424242);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.index, kBlock);
    EXPECT_TRUE(out.untouched());
  }
  {
    SCOPED_TRACE("one block and a trailing piece holding the wanted number");
    WriteCardFile(Dat(), NumberedCards(kBlock),
                  CardBytes(CardBuilder(424242).Build()).substr(0, 31));
    const Outcome out = Find(424242);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.index, kBlock);
    EXPECT_TRUE(out.untouched());
  }
  {
    SCOPED_TRACE("two blocks and one record");
    const std::vector<PrepaidCard> cards = NumberedCards(2 * kBlock + 1);
    WriteCardFile(Dat(), cards);
    Outcome out = Find(cards.back().cardNumber);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, 2 * kBlock);
    out = Find(424242);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.index, 2 * kBlock + 1);
  }
}

TEST_F(SearchTest, TelefonComparesBothPartsButNotTheDigitCount) {
  const std::vector<PrepaidCard> cards = {
      CardBuilder(1).Balance(5).Telefon("1301234567").Build(),  // same last nine digits
      CardBuilder(2).Balance(5).Telefon("0301234568").Build(),
      CardBuilder(3).Balance(5).Telefon("0301234567").Build(),  // 10 digits
      CardBuilder(4).Balance(5).Telefon("301234567").Build(),   // 9 digits
      CardBuilder(5).Balance(5).Telefon("4930123456789").Build(),
  };
  for (TelefonMatch match : kBothMatches) {
    SCOPED_TRACE(Name(match));
    WriteCardFile(Dat(), cards);
    Outcome out = FindTelefon(match, 301234567, 0);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, 2);
    EXPECT_TRUE(SameCard(out.card, cards[2]));

    out = FindTelefon(match, 301234567, 1);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, 0);

    out = FindTelefon(match, 123456789, 4930);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, 4);

    out = FindTelefon(match, 123456789, 0);  // the low part alone is not enough
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.index, 5);
    EXPECT_TRUE(out.untouched());

    // Without the ten-digit card the nine-digit one answers the same query.
    WriteCardFile(Dat(), {cards[0], cards[1], cards[3]});
    out = FindTelefon(match, 301234567, 0);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, 2);
    EXPECT_EQ(out.card.cardNumber, 4);
  }
}

// The scan compares one field (the card number, the telephone number's low part) of eight
// records at once and tests the records of a group one by one only where that field holds the
// wanted value. Cards that hold it without matching (another high part, no units) neither end
// the search nor hide a match behind them, in the same group, a later one or the last records;
// the wanted value in the record's other fields matches nothing.
TEST_F(SearchTest, NearMissesInTheComparedFieldAreSteppedPast) {
  std::vector<PrepaidCard> cards = NumberedCards(43);  // five groups of eight and three more
  auto place = [&](size_t at, int32_t balance, const char* telefon) {
    cards[at] = CardBuilder(cards[at].cardNumber).Balance(balance).Telefon(telefon).Build();
  };
  place(3, 5, "1301234567");   // group 0: another high part
  place(6, 0, "0301234567");   // group 0: no units
  place(9, 5, "2301234567");   // group 1: another high part before the match
  place(12, 5, "0301234567");  // the card editor's match
  place(17, 5, "1000000555");  // group 2: another high part only
  place(41, 5, "2000000555");  // the last records: another high part before the match
  place(42, 7, "555");
  // Every field around the card number holds 777777, which only card 30 has as its number.
  cards[2].balance = cards[2].lastHigh = cards[2].lastLow = 777777;
  cards[2].flags = 777777;
  cards[30].cardNumber = 777777;
  WriteCardFile(Dat(), cards);

  const struct {
    TelefonMatch match;
    int32_t low, high, index;
  } telefon[] = {
      {TelefonMatch::kWithUnitsOnly, 301234567, 0, 12},
      {TelefonMatch::kAnyBalance, 301234567, 0, 6},
      {TelefonMatch::kAnyBalance, 301234567, 1, 3},
      {TelefonMatch::kAnyBalance, 301234567, 2, 9},
      {TelefonMatch::kWithUnitsOnly, 555, 0, 42},
      {TelefonMatch::kAnyBalance, 555, 1, 17},
      {TelefonMatch::kAnyBalance, 555, 2, 41},
      {TelefonMatch::kAnyBalance, 555, 7, 43},
  };
  for (const auto& t : telefon) {
    SCOPED_TRACE(testing::Message() << Name(t.match) << " " << t.high << " " << t.low);
    const Outcome out = FindTelefon(t.match, t.low, t.high);
    EXPECT_EQ(out.result, t.index < 43 ? 1 : 0);
    EXPECT_EQ(out.index, t.index);
    if (t.index < 43) {
      EXPECT_TRUE(SameCard(out.card, cards[static_cast<size_t>(t.index)]));
    }
  }
  const Outcome out = Find(777777);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.index, 30);
}

TEST_F(SearchTest, OnlyTheCardEditorsTelefonSearchSkipsCardsWithoutUnits) {
  WriteCardFile(Dat(), {
                           CardBuilder(11).Balance(0).Telefon("0301234567").Build(),
                           CardBuilder(12).Balance(-3).Telefon("0301234567").Build(),
                           CardBuilder(13).Balance(0).Telefon("555").Build(),
                       });
  Outcome out = FindTelefon(TelefonMatch::kWithUnitsOnly, 301234567, 0);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.index, 1);
  EXPECT_EQ(out.card.cardNumber, 12);  // a negative balance is not "no units"
  out = FindTelefon(TelefonMatch::kWithUnitsOnly, 555, 0);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.index, 3);
  EXPECT_TRUE(out.untouched());

  out = FindTelefon(TelefonMatch::kAnyBalance, 301234567, 0);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.index, 0);
  EXPECT_EQ(out.card.cardNumber, 11);
  out = FindTelefon(TelefonMatch::kAnyBalance, 555, 0);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.index, 2);

  // The search by number hands out an empty card too.
  out = Find(11);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.card.balance, 0);
}

TEST_F(SearchTest, TelefonLockAndEnabledFlag) {
  PrepaidCard minusOne = CardBuilder(23).Balance(5).Build();
  minusOne.telefonLow = -1;
  minusOne.telefonHigh = -1;
  minusOne.telefonDigits = 10;
  WriteCardFile(Dat(), {
                           CardBuilder(21).Balance(5).Telefon("0301234567").Locked().Build(),
                           CardBuilder(22).Balance(5).Telefon("0301234567").Build(),
                           CardBuilder(24).Balance(5).Telefon("4711").Build(),
                           minusOne,
                       });
  for (TelefonMatch match : kBothMatches) {
    SCOPED_TRACE(Name(match));
    Outcome out = FindTelefon(match, 301234567, 0);
    EXPECT_EQ(out.result, 0) << "the first match is locked";
    EXPECT_EQ(out.index, 0);
    EXPECT_TRUE(out.untouched());

    out = FindTelefon(match, 4711, 0, /*enabled=*/0, /*indexBefore=*/1234);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.index, 1234);
    EXPECT_TRUE(out.untouched());

    // A C caller's int: only its low byte counts.
    auto search =
        testsupport::WithIntFlags<int32_t(const char*, int32_t, int32_t, int32_t, int32_t*,
                                          PrepaidCard*, TelefonMatch)>(&SearchTelefon);
    for (int32_t enabled : {1, 2, 0x80, 0xFF, 0x101, 256, 0x7F00}) {
      SCOPED_TRACE(enabled);
      out = Outcome{-1, 1234, Pattern()};
      out.result = search(Dir().c_str(), enabled, 4711, 0, &out.index, &out.card, match);
      EXPECT_EQ(out.result, (enabled & 0xFF) != 0 ? 1 : 0);
      EXPECT_EQ(out.index, (enabled & 0xFF) != 0 ? 2 : 1234);
    }

    out = FindTelefon(match, -1, -1);  // no number is refused up front
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, 3);
  }
}

TEST_F(SearchTest, HonoursOtherOpensAndClosesTheFileOnEveryPath) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(1).Telefon("11").Build(),
                        CardBuilder(2).Balance(2).Telefon("22").Locked().Build(),
                        CardBuilder(3).Balance(3).Telefon("33").Build()});
  {
    // The telephony server reads and writes but lets nobody else write.
    platform::SharedFile server;
    ASSERT_EQ(platform::SharedFile::Open(Dat(), {platform::kAccessReadWrite, platform::kShareRead},
                                         &server),
              0);
    Outcome out = Find(3);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, 2);
    out = FindTelefon(TelefonMatch::kAnyBalance, 33, 0);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.index, 2);
  }
  {
    platform::SharedFile exclusive;
    ASSERT_EQ(platform::SharedFile::Open(Dat(), {platform::kAccessReadWrite, platform::kShareNone},
                                         &exclusive),
              0);
    Outcome out = Find(3);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.index, 0);
    EXPECT_TRUE(out.untouched());
    for (TelefonMatch match : kBothMatches) {
      SCOPED_TRACE(Name(match));
      out = FindTelefon(match, 33, 0);
      EXPECT_EQ(out.result, 0);
      EXPECT_EQ(out.index, 0);
      EXPECT_TRUE(out.untouched());
    }
  }

  // Found, locked and not found: after each, nothing of the store holds the file open, so an
  // exclusive open (the reorganisation's) succeeds.
  for (int32_t number : {1, 2, 9}) {
    SCOPED_TRACE(number);
    Find(number);
    FindTelefon(TelefonMatch::kWithUnitsOnly, number * 11, 0);
    platform::SharedFile exclusive;
    EXPECT_EQ(platform::SharedFile::Open(Dat(), {platform::kAccessReadWrite, platform::kShareNone},
                                         &exclusive),
              0);
  }
}

TEST_F(SearchTest, AReadThatFailsIsNoEndOfTheFile) {
  // More than one block of records; the second read fails. That is no "not found" with the
  // records read so far as the count: nothing is found and nothing counted.
  std::vector<PrepaidCard> cards;
  for (int32_t i = 0; i < kBlock + 100; ++i) cards.push_back(CardBuilder(i).Balance(1).Build());
  WriteCardFile(Dat(), cards);
  int reads = 0;
  platform::ScopedFaultHook failSecondRead([&](platform::FileOp op, std::string_view) {
    return op == platform::FileOp::kRead && ++reads == 2 ? EIO : 0;
  });
  Outcome out = Find(kBlock + 99);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.index, 0);
  EXPECT_TRUE(out.untouched());
}

// Another process cuts the card file short (also inside a record), extends it again with a
// hole, punches a hole into it and writes the cards back, over and over, while lookups run.
// Every lookup comes back (nothing raises a signal in the looking process, as a mapping of a
// shrinking file would) and tells only what the file held: a card found is at its own position
// (its other fields may be caught half written back), a card not found was cut off or in a
// hole, and the count is at most the file's records.
TEST_F(SearchTest, LookupsStayTrueWhileAnotherProcessCutsAndPunchesTheFile) {
  const int32_t count = 3 * kBlock + 5;
  std::vector<PrepaidCard> cards = NumberedCards(count);  // card 100000 + i at position i
  WriteCardFile(Dat(), cards);
  const std::string bytes = testsupport::ReadFile(Dat());
  auto* shared = static_cast<std::atomic<int>*>(::mmap(nullptr, 2 * sizeof(std::atomic<int>),
                                                       PROT_READ | PROT_WRITE,
                                                       MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(shared, MAP_FAILED);
  std::atomic<int>& changes = shared[0];
  std::atomic<int>& stop = shared[1];
  const pid_t parent = ::getpid();
  const pid_t changer = ::fork();
  ASSERT_GE(changer, 0);
  if (changer == 0) {
    // Ends with the test process, also when a lookup brought that down.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) std::_Exit(1);
    const int fd = ::open(Dat().c_str(), O_RDWR);
    std::mt19937 random(7);
    const auto size = static_cast<off_t>(bytes.size());
    while (fd >= 0 && stop.load() == 0) {
      const off_t at = std::uniform_int_distribution<off_t>(0, size - 1)(random);
      bool done = ::ftruncate(fd, at) == 0 && ::ftruncate(fd, size) == 0;  // a hole from `at`
      (void)::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at / 2, size / 4);
      done = done && ::pwrite(fd, bytes.data(), bytes.size(), 0) == size;
      if (done) ++changes;
    }
    std::_Exit(0);
  }
  struct Stop {
    std::atomic<int>* shared;
    pid_t changer;
    ~Stop() {
      shared[1] = 1;
      ::waitpid(changer, nullptr, 0);
      ::munmap(shared, 2 * sizeof *shared);
    }
  } stopChanger{shared, changer};

  std::mt19937 random(11);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int lookups = 0;
  while (lookups < 300 || changes.load() < 300) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline)
        << "waited for 300 lookups during 300 changes of the card file; " << lookups << " lookups, "
        << changes.load() << " changes";
    const auto at =
        static_cast<size_t>(std::uniform_int_distribution<int32_t>(0, count - 1)(random));
    for (const Outcome& out : {Find(cards[at].cardNumber),
                               FindTelefon(TelefonMatch::kAnyBalance, cards[at].telefonLow, 0)}) {
      if (out.result == 1) {
        ASSERT_EQ(out.index, static_cast<int32_t>(at));
      } else {
        ASSERT_EQ(out.result, 0);
        ASSERT_GE(out.index, 0);
        ASSERT_LE(out.index, count);
        ASSERT_TRUE(out.untouched());
      }
    }
    ++lookups;
  }
}

TEST_F(SearchTest, NullArgumentsFail) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(1).Telefon("11").Build()});
  int32_t index = -77;
  PrepaidCard card = Pattern();
  EXPECT_EQ(Prepaid_Search(nullptr, 1, &index, &card), 0);
  EXPECT_EQ(Prepaid_Search(Dir().c_str(), 1, nullptr, &card), 0);
  EXPECT_EQ(Prepaid_Search(Dir().c_str(), 1, &index, nullptr), 0);
  EXPECT_EQ(SearchTelefon(nullptr, 1, 11, 0, &index, &card, TelefonMatch::kAnyBalance), 0);
  EXPECT_EQ(SearchTelefon(Dir().c_str(), 1, 11, 0, nullptr, &card, TelefonMatch::kAnyBalance), 0);
  EXPECT_EQ(SearchTelefon(Dir().c_str(), 1, 11, 0, &index, nullptr, TelefonMatch::kAnyBalance), 0);
  EXPECT_EQ(index, -77);
  EXPECT_TRUE(SameCard(card, Pattern()));
}

}  // namespace
}  // namespace store
