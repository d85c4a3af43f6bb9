// The card report: its bytes, the hand-over of the batch markers, and what a failure leaves.
#include "store/report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/share.h"
#include "store/import.h"
#include "store/whole_file_test.h"
#include "testsupport/other_process.h"
#include "util/file_open_internal.h"

namespace store {
namespace {

using platform::FileOp;
using testsupport::CardBuilder;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteCardFile;
using testsupport::WriteFile;

constexpr char kDateLine[] = "06.12.26 13:30:11\r\n";

struct ReportCase {
  const char* what;
  std::vector<PrepaidCard> cards;
  std::string trailing;                // bytes after the last whole record
  std::optional<std::string> markers;  // PREPAID.TRR, when there is one
  uint16_t cardDigits;
  ReportDate date;
  std::string expected;
};

TEST_F(WholeFileTest, ReportHoldsTheDateTheMarkersAndEveryCardWithUnits) {
  const ReportCase cases[] = {
      {"cards with units in file order, locked ones marked",
       {CardBuilder(42).Balance(150).Telefon("0301234567").Build(),
        CardBuilder(43).Balance(-5).Locked().Build(), CardBuilder(44).Locked().Build(),
        CardBuilder(45).Build(), CardBuilder(1234567).Balance(1).Build(),
        CardBuilder(-42).Balance(7).Build(), CardBuilder(0).Balance(INT_MIN).Build(),
        CardBuilder(46).Balance(3).Flags(0x7FFFFFFF).Build()},
       std::string("\x2F\0\0\0\x09\0\0", 7),
       "E17\r\nE18\r\n",
       5,
       ReportDate::kWithSeconds,
       std::string(kDateLine) +
           "E17\r\nE18\r\n00042,150,\r\n00043,-5,L\r\n1234567,1,\r\n-0042,7,\r\n"
           "00000,-2147483648,\r\n00046,3,\r\n"},
      {"every card empty; the balance query's date line",
       {CardBuilder(1).Build(), CardBuilder(2).Locked().Build()},
       "",
       "E1\nE2\r\nE3",
       0,
       ReportDate::kWithoutSeconds,
       "06.12.26 13:30\r\nE1\r\nE2\r\nE3\r\n"},
      {"no marker list, no leading zeros",
       {CardBuilder(7).Balance(1).Build()},
       "",
       std::nullopt,
       0,
       ReportDate::kWithSeconds,
       std::string(kDateLine) + "7,1,\r\n"},
      {"the marker list read as text, up to a Ctrl-Z",
       {},
       "",
       "E1\r\r\nE2\x1A"
       "E3\r\n",
       12,
       ReportDate::kWithSeconds,
       std::string(kDateLine) + "E1\r\r\nE2\r\n"},
      {"an empty marker list, card numbers wider than 32 bits make them: padded to ten digits",
       {CardBuilder(42).Balance(1).Build()},
       "",
       "",
       12,
       ReportDate::kWithSeconds,
       std::string(kDateLine) + "0000000042,1,\r\n"},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteCardFile(Dat(), c.cards, c.trailing);
    if (c.markers) WriteFile(Trr(), *c.markers);
    EXPECT_EQ(ExportReport(c.cardDigits, c.date), 1);
    EXPECT_EQ(ReadFile(Txt()), c.expected);
    EXPECT_FALSE(FileExists(Trr()));
    EXPECT_FALSE(FileExists(TxtTemp()));
    EXPECT_EQ(ReadFile(Dat()), Bytes(c.cards) + c.trailing);
  }
}

// Reports whose date and marker lines end around 1 MiB, the size of the report's write buffer,
// come through whole, and the card lines after them too.
TEST_F(WholeFileTest, MarkerListsAroundTheBufferSizeComeThroughWhole) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(10).Build(), CardBuilder(2).Balance(-2).Build()});
  std::string lines;
  for (int i = 0; lines.size() < (1u << 20) - 200; ++i) {
    lines += "E" + std::to_string(100000 + i) + "\r\n";
  }
  for (int beyond : {-80, -20, 0, 10, 20, 40, 80}) {
    const size_t size = (1u << 20) + beyond - (sizeof kDateLine - 1);
    const std::string markers = lines + "E" + std::string(size - lines.size() - 3, 'x') + "\r\n";
    SCOPED_TRACE(beyond);
    WriteFile(Trr(), markers);
    ASSERT_EQ(ExportReport(), 1);
    EXPECT_EQ(ReadFile(Txt()), kDateLine + markers + "00001,10,\r\n00002,-2,\r\n");
  }
}

// Another program holding one of the files open: the report is not made, or made without the
// markers that cannot be handed over, and nothing is lost.
TEST_F(WholeFileTest, FilesHeldByOthersLeaveMarkersAndReportAsTheyWere) {
  const std::string markers = "E1\r\n";
  const std::string oldReport = "previous report\r\n";
  const std::string newReport = std::string(kDateLine) + markers + "00005,50,\r\n";
  const auto reset = [&] {
    WriteCardFile(Dat(), {CardBuilder(5).Balance(50).Build()});
    WriteFile(Trr(), markers);
    WriteFile(Txt(), oldReport);
  };
  const auto through = [](const std::string& path, platform::OpenRequest request) {
    return [path, request] {
      static platform::SharedFile file;
      return platform::SharedFile::Open(path, request, &file) == 0;
    };
  };
  const auto plain = [](const std::string& path, int flags) {
    return [path, flags] { return ::open(path.c_str(), flags) >= 0; };
  };
  struct Held {
    const char* what;
    std::function<bool()> open;
    int32_t result;
    std::string report;
    bool markersKept;
  };
  const Held cases[] = {
      {"card file, exclusively", through(Dat(), {platform::kAccessRead, platform::kShareNone}), 0,
       oldReport, true},
      // Reading the previous report with full sharing: the rename does not disturb the reader.
      {"report, read sharing all",
       through(Txt(), {platform::kAccessRead, platform::kShareReadWrite}), 1, newReport, false},
      {"report, plain read", plain(Txt(), O_RDONLY), 1, newReport, false},
      {"report, read denying writers",
       through(Txt(), {platform::kAccessRead, platform::kShareRead}), 0, oldReport, true},
      {"report, written", through(Txt(), {platform::kAccessWrite, platform::kShareReadWrite}), 0,
       oldReport, true},
      {"report, plain write", plain(Txt(), O_WRONLY), 0, oldReport, true},
      {"markers, an import appending",
       through(Trr(), {platform::kAccessWrite, platform::kShareRead}), 1,
       std::string(kDateLine) + "00005,50,\r\n", true},
  };
  for (const Held& held : cases) {
    SCOPED_TRACE(held.what);
    reset();
    testsupport::OtherProcess other(held.open);
    ASSERT_TRUE(other.succeeded());
    EXPECT_EQ(ExportReport(), held.result);
    EXPECT_EQ(ReadFile(Trr()), held.markersKept ? markers : "");
    EXPECT_EQ(ReadFile(Txt()), held.report);
    EXPECT_FALSE(FileExists(TxtTemp()));
  }
  reset();
  std::remove(Dat().c_str());
  EXPECT_EQ(ExportReport(), 0);
  EXPECT_EQ(ReadFile(Trr()), markers);
  EXPECT_EQ(ReadFile(Txt()), oldReport);

  // A reader of the previous report goes on reading it whole after the export.
  reset();
  std::FILE* reader = util::Fopen(Txt().c_str(), "rb", false, util::FopenGeneration::kCurrent);
  ASSERT_TRUE(reader);
  EXPECT_EQ(ExportReport(), 1);
  char read[64] = {};
  EXPECT_EQ(std::fread(read, 1, sizeof read, reader), oldReport.size());
  EXPECT_EQ(std::string(read), oldReport);
  util::Fclose(&reader);
  EXPECT_EQ(ReadFile(Txt()), newReport);
}

// Whichever file operation fails, the markers are in PREPAID.TRR or in a whole new report,
// PREPAID.TRR is gone only when that report is in place, and no temporary file is left.
TEST_F(WholeFileTest, AFailureAtAnyStepLosesNoMarker) {
  const std::string markers = "E1\r\nE2\r\n", oldReport = "previous report\r\n";
  const std::string cardLines = "00001,10,\r\n00003,-3,L\r\n";
  const std::string full = kDateLine + markers + cardLines, unmarked = kDateLine + cardLines;
  const std::vector<PrepaidCard> cards = {CardBuilder(1).Balance(10).Build(),
                                          CardBuilder(2).Build(),
                                          CardBuilder(3).Balance(-3).Locked().Build()};
  int n = 1;
  for (; n < 200; ++n) {
    WriteCardFile(Dat(), cards);
    WriteFile(Trr(), markers);
    WriteFile(Txt(), oldReport);
    NthOperationFails fault(n);
    const int32_t result = ExportReport();
    if (!fault.hit()) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(ReadFile(Txt()), full);
      break;
    }
    SCOPED_TRACE(fault.Describe());
    const bool markersKept = FileExists(Trr()) && ReadFile(Trr()) == markers;
    const std::string report = ReadFile(Txt());
    EXPECT_TRUE(markersKept || (report == full && !FileExists(Trr())));
    if (result == 1) {
      EXPECT_TRUE(report == full || (report == unmarked && markersKept));
    } else {
      EXPECT_TRUE(markersKept);
      EXPECT_TRUE(report == oldReport || report == full);
    }
    EXPECT_TRUE(!FileExists(TxtTemp()) || fault.Was(FileOp::kRemove, TxtTemp()));
    EXPECT_EQ(ReadFile(Dat()), Bytes(cards));
  }
  EXPECT_GT(n, 15) << "every step of the export was failed once";
}

// An import that meets the export holding the marker list cannot record its batch, keeps its
// order file, and records the batch when it runs again: the marker reaches the next report, and
// only that one.
TEST_F(WholeFileTest, AMarkerRecordedDuringTheExportWaitsForTheNextReport) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(10).Build()});
  WriteFile(Trr(), "E1\r\n");
  std::optional<bool> imported;
  {
    platform::ScopedFaultHook duringExport([&](FileOp op, std::string_view path) {
      if (op == FileOp::kWrite && path == TxtTemp() && !imported) {
        WriteFile(exchange_ + "PREPAID.INC", "E2\r\nA,1,5\r\n");
        imported = testsupport::RunWithin(std::chrono::seconds(20), [&] {
          platform::SetFaultHook({});
          return Include(exchange_.c_str(), Dir().c_str(), util::SplitGeneration::kCurrent) == 1;
        });
      }
      return 0;
    });
    EXPECT_EQ(ExportReport(), 1);
  }
  EXPECT_EQ(imported, false);
  EXPECT_EQ(ReadFile(Txt()), std::string(kDateLine) + "E1\r\n00001,10,\r\n");
  EXPECT_EQ(Include(exchange_.c_str(), Dir().c_str(), util::SplitGeneration::kCurrent), 1);
  ASSERT_EQ(::chmod(Txt().c_str(), 0640), 0);
  EXPECT_EQ(ExportReport(), 1);
  EXPECT_EQ(ReadFile(Txt()), std::string(kDateLine) + "E2\r\n00001,15,\r\n");
  struct stat status;
  ASSERT_EQ(::stat(Txt().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u) << "a new report keeps the access of the one it replaces";
}

// A report in place whose marker list could not be removed: the next report lists only the
// markers recorded since, unless the report was collected meanwhile, when it cannot be known
// that the markers were handed over.
TEST_F(WholeFileTest, MarkersAppearAgainOnlyWhenTheirReportIsNotKnownToBeInPlace) {
  WriteCardFile(Dat(), {CardBuilder(1).Balance(10).Build()});
  const auto exportKeepingTheList = [&] {
    platform::ScopedFaultHook keep([&](FileOp op, std::string_view path) {
      return op == FileOp::kRemove && path == Trr() ? EACCES : 0;
    });
    EXPECT_EQ(ExportReport(), 0);
  };
  WriteFile(Trr(), "E1\r\n");
  exportKeepingTheList();
  EXPECT_EQ(ReadFile(Txt()), std::string(kDateLine) + "E1\r\n00001,10,\r\n");
  WriteFile(exchange_ + "PREPAID.INC", "E2\r\nA,1,5\r\n");
  EXPECT_EQ(Include(exchange_.c_str(), Dir().c_str(), util::SplitGeneration::kCurrent), 1);
  EXPECT_EQ(ReadFile(Trr()), "E1\r\nE2\r\n");
  EXPECT_EQ(ExportReport(), 1);
  EXPECT_EQ(ReadFile(Txt()), std::string(kDateLine) + "E2\r\n00001,15,\r\n");

  WriteFile(Trr(), "E3\r\n");
  exportKeepingTheList();
  ASSERT_EQ(::rename(Txt().c_str(), (exchange_ + "collected.txt").c_str()), 0);
  EXPECT_EQ(ExportReport(), 1);
  EXPECT_EQ(ReadFile(Txt()), std::string(kDateLine) + "E3\r\n00001,15,\r\n");
}

}  // namespace
}  // namespace store
