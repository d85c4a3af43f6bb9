// Fixture of the tests of the card report and the compaction: a data folder and a separate
// exchange folder, the clock fixed at 2026-12-06 13:30:11 in Central Europe, and the files'
// paths.
#ifndef LINDAVOX_STORE_WHOLE_FILE_TEST_H
#define LINDAVOX_STORE_WHOLE_FILE_TEST_H

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fault.h"
#include "platform/wall_clock.h"
#include "store/prepaid.h"
#include "store/report.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/time_zone.h"

namespace store {

// Makes the `n`-th file operation of platform/ (any kind, on any file) fail with EIO while it
// lives, and tells which operation that was.
class NthOperationFails {
 public:
  explicit NthOperationFails(int n)
      : hook_([this, n](platform::FileOp op, std::string_view path) {
          if (++count_ != n) return 0;
          hit_ = true;
          op_ = op;
          path_ = path;
          return EIO;
        }) {}
  bool hit() const { return hit_; }
  bool Was(platform::FileOp op, const std::string& path) const {
    return hit_ && op_ == op && path_ == path;
  }
  std::string Describe() const {
    return "operation " + std::to_string(static_cast<int>(op_)) + " on " + path_;
  }

 private:
  int count_ = 0;
  bool hit_ = false;
  platform::FileOp op_{};
  std::string path_;
  platform::ScopedFaultHook hook_;
};

class WholeFileTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    exchange_ = Path("exchange/");
    ::mkdir(exchange_.c_str(), 0755);
  }

  std::string Dat() const { return Path("PREPAID.DAT"); }
  std::string New() const { return Path("PREPAID.NEW"); }
  std::string Trr() const { return exchange_ + "PREPAID.TRR"; }
  std::string Txt() const { return exchange_ + "PREPAID.TXT"; }
  std::string TxtTemp() const { return exchange_ + ".PREPAID.TXT.new"; }

  int32_t ExportReport(uint16_t cardDigits = 5, ReportDate date = ReportDate::kWithSeconds) const {
    PrepaidConfig config{1, 0, cardDigits, 4};
    return Export(exchange_.c_str(), Dir().c_str(), &config, date);
  }
  int32_t Compact() const { return Prepaid_Reorganize(Dir().c_str()); }

  static std::string Bytes(const std::vector<PrepaidCard>& cards) {
    std::string bytes;
    for (const PrepaidCard& card : cards) bytes += testsupport::CardBytes(card);
    return bytes;
  }

  std::string exchange_;
  testsupport::ScopedTimeZone zone_{"Europe/Berlin"};
  platform::ScopedWallClock clock_{{testsupport::Utc(2026, 12, 6, 12, 30, 11), 0}};
};

}  // namespace store

#endif
