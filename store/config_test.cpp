#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "store/prepaid.h"
#include "testsupport/card_files.h"
#include "testsupport/file_test.h"
#include "testsupport/ini_text.h"
#include "testsupport/other_process.h"

namespace {

using namespace std::chrono_literals;
using testsupport::IniText;
using testsupport::WriteFile;

// A record left over from an earlier call: flags that are neither 0 nor 1 and digit counts no
// header gives, so every field the call sets or keeps is seen.
PrepaidConfig Stale() { return PrepaidConfig{7, 7, 1111, 2222}; }

class ConfigTest : public testsupport::FileTest {
 protected:
  void WriteIni(std::optional<std::string> mode, std::optional<std::string> end) {
    std::vector<std::pair<std::string, std::string>> keys;
    if (mode) keys.emplace_back("PrepaidMode", *mode);
    if (end) keys.emplace_back("PrepaidEnd", *end);
    WriteFile(Path("LINDAVOX.INI"), IniText({{"Common", keys}}));
  }
  void WriteBin(uint16_t codeLength, uint16_t checkLength) {
    testsupport::CodeTables tables = testsupport::MakeCodeTables(6, 4, 10, 1);
    tables.word0 = 0xFFFF;
    tables.codeLength = codeLength;
    tables.checkLength = checkLength;
    tables.checkOffset = 0xEEEE;
    testsupport::WriteBinFile(Path("PREPAID.BIN"), tables);
  }
  PrepaidConfig Read(int32_t* result) {
    PrepaidConfig config = Stale();
    *result = Prepaid_ReadConfig(Dir().c_str(), &config);
    return config;
  }
};

TEST_F(ConfigTest, MissingFileOrSectionGivesTheDefaults) {
  // A LINDAVOX.INI in the configuration directory must not be taken for the data directory's.
  WriteFile(ConfigDir() + "LINDAVOX.INI",
            IniText({{"Common", {{"PrepaidMode", "Direct"}, {"PrepaidEnd", "Continue"}}}}));

  int32_t result = -1;
  PrepaidConfig config = Read(&result);
  EXPECT_EQ(result, 0);  // no PREPAID.BIN either
  EXPECT_EQ(config.modeNotLink, 0);
  EXPECT_EQ(config.hangupAtEnd, 1);
  EXPECT_EQ(config.cardDigits, 1111);
  EXPECT_EQ(config.checkDigits, 2222);

  WriteFile(Path("LINDAVOX.INI"),
            IniText({{"Other", {{"PrepaidMode", "Direct"}, {"PrepaidEnd", "Continue"}}}}));
  config = Read(&result);
  EXPECT_EQ(config.modeNotLink, 0) << "keys of another section";
  EXPECT_EQ(config.hangupAtEnd, 1) << "keys of another section";

  WriteFile(Path("LINDAVOX.INI"), IniText({{"Common", {{"Language", "Deutsch"}}}}));
  config = Read(&result);
  EXPECT_EQ(config.modeNotLink, 0) << "section without the keys";
  EXPECT_EQ(config.hangupAtEnd, 1) << "section without the keys";
}

TEST_F(ConfigTest, OnlyTheFirstCharacterCountsCaseSensitively) {
  struct Case {
    std::optional<std::string> mode, end;
    int32_t modeNotLink, hangupAtEnd;
  };
  const std::vector<Case> cases = {
      {"Link", "Hangup", 0, 1},
      {"L", "H", 0, 1},
      {"LAN", "Hold", 0, 1},
      {"link", "hangup", 1, 0},
      {"l", "h", 1, 0},
      {"Direct", "Continue", 1, 0},
      {"", "", 1, 0},  // present but empty: the empty text, not the default
      {"Direct", std::nullopt, 1, 1},
      {std::nullopt, "Continue", 0, 0},
      {"L" + std::string(150, 'x'), "H" + std::string(150, 'x'), 0, 1},  // longer than the buffer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("PrepaidMode=" + c.mode.value_or("(none)") +
                 " PrepaidEnd=" + c.end.value_or("(none)"));
    WriteIni(c.mode, c.end);
    int32_t result = -1;
    const PrepaidConfig config = Read(&result);
    EXPECT_EQ(config.modeNotLink, c.modeNotLink);
    EXPECT_EQ(config.hangupAtEnd, c.hangupAtEnd);
  }
}

TEST_F(ConfigTest, DigitCountsComeFromTheBinHeader) {
  WriteIni("Direct", "Continue");
  struct Case {
    uint16_t codeLength, checkLength, cardDigits, checkDigits;
  };
  // Every call reads the file anew, so each case rewrites it and expects the new values.
  const std::vector<Case> cases = {
      {10, 4, 6, 4},
      {2, 3, 65535, 3},                  // 16-bit wrap
      {0x0203, 0x0102, 0x0101, 0x0102},  // both bytes of each word, little-endian
      {16, 0, 16, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.codeLength) + "/" + std::to_string(c.checkLength));
    WriteBin(c.codeLength, c.checkLength);
    int32_t result = -1;
    const PrepaidConfig config = Read(&result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(config.cardDigits, c.cardDigits);
    EXPECT_EQ(config.checkDigits, c.checkDigits);
    EXPECT_EQ(config.modeNotLink, 1);
    EXPECT_EQ(config.hangupAtEnd, 0);
  }

  // The six bytes up to checkLength are all the header needs.
  WriteFile(Path("PREPAID.BIN"), std::string("\xFF\xFF\x0A\x00\x04\x00", 6));
  int32_t result = -1;
  const PrepaidConfig config = Read(&result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(config.cardDigits, 6);
  EXPECT_EQ(config.checkDigits, 4);
}

TEST_F(ConfigTest, UnreadableOrShortBinLeavesTheDigitCountsButSetsTheFlags) {
  WriteIni("Direct", "Continue");
  auto expectFailure = [&](const char* what) {
    SCOPED_TRACE(what);
    int32_t result = -1;
    const PrepaidConfig config = Read(&result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(config.cardDigits, 1111);
    EXPECT_EQ(config.checkDigits, 2222);
    EXPECT_EQ(config.modeNotLink, 1);
    EXPECT_EQ(config.hangupAtEnd, 0);
  };

  expectFailure("missing");
  WriteFile(Path("PREPAID.BIN"), "");
  expectFailure("empty");
  WriteFile(Path("PREPAID.BIN"), std::string("\xFF\xFF\x0A\x00\x04", 5));
  expectFailure("5 bytes, checkLength cut");
  WriteFile(Path("PREPAID.BIN"), std::string("\xFF\xFF\x0A", 3));
  expectFailure("3 bytes, codeLength cut");

  WriteBin(10, 4);
  // Faults for PREPAID.BIN alone; LINDAVOX.INI is read as usual.
  const auto binFault = [](platform::FileOp faultOp, int error) {
    return [=](platform::FileOp op, std::string_view path) {
      return op == faultOp && path.ends_with("/PREPAID.BIN") ? error : 0;
    };
  };
  {
    platform::ScopedFaultHook hook(binFault(platform::FileOp::kOpen, EACCES));
    expectFailure("open refused");
  }
  {
    platform::ScopedFaultHook hook(binFault(platform::FileOp::kRead, EIO));
    expectFailure("read error");
  }

  ASSERT_EQ(::remove(Path("PREPAID.BIN").c_str()), 0);
  ASSERT_EQ(::mkdir(Path("PREPAID.BIN").c_str(), 0755), 0);
  expectFailure("a folder");

  PrepaidConfig config = Stale();
  EXPECT_EQ(Prepaid_ReadConfig(nullptr, &config), 0);
  EXPECT_EQ(config.cardDigits, 1111);
  EXPECT_EQ(Prepaid_ReadConfig(Dir().c_str(), nullptr), 0);
}

TEST_F(ConfigTest, APipeOrDeviceInPlaceOfAFileIsReadAsMissingWithoutWaiting) {
  auto makePipe = [](const std::string& path) { return ::mkfifo(path.c_str(), 0644) == 0; };
  auto makeZero = [](const std::string& path) { return ::symlink("/dev/zero", path.c_str()) == 0; };
  using Maker = bool (*)(const std::string&);
  const std::pair<Maker, Maker> setups[] = {{makePipe, makeZero}, {makeZero, makePipe}};
  for (const auto& [ini, bin] : setups) {
    ::remove(Path("LINDAVOX.INI").c_str());
    ::remove(Path("PREPAID.BIN").c_str());
    ASSERT_TRUE(ini(Path("LINDAVOX.INI")) && bin(Path("PREPAID.BIN")));
    std::optional<bool> asIfMissing = testsupport::RunWithin(10s, [&] {
      int32_t result = -1;
      const PrepaidConfig config = Read(&result);
      return result == 0 && config.cardDigits == 1111 && config.checkDigits == 2222 &&
             config.modeNotLink == 0 && config.hangupAtEnd == 1;
    });
    EXPECT_EQ(asIfMissing, true) << (ini == makePipe ? "pipe" : "zero") << " INI";
  }
}

}  // namespace
