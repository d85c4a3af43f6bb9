#include "util/file_open_internal.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "testsupport/file_test.h"
#include "testsupport/other_process.h"

namespace util {
namespace {

using namespace std::chrono_literals;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr auto kCurrent = FopenGeneration::kCurrent;
constexpr auto kBalanceQuery = FopenGeneration::kBalanceQuery;

int OpenDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

class FileOpenTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    file_ = Path("PREPAID.DAT");
    WriteFile(file_, "contents");
  }

  // Opens with `mode` in another process and keeps the file open there.
  testsupport::OtherProcess HeldElsewhere(const char* mode, bool exclusive) {
    return testsupport::OtherProcess([=, this] {
      static std::FILE* stream = Fopen(file_.c_str(), mode, exclusive, kCurrent);
      return stream != nullptr;
    });
  }

  // True when an open with `mode` succeeds now; the stream is closed again.
  bool CanOpen(const char* mode, bool exclusive, FopenGeneration generation = kCurrent) {
    std::FILE* stream = Fopen(file_.c_str(), mode, exclusive, generation);
    const bool opened = stream != nullptr;
    Fclose(&stream);
    return opened;
  }

  std::string file_;
};

TEST_F(FileOpenTest, ModeCharactersDecideAccessCreationAndTruncation) {
  // '+' rows: read and write, the file must exist, contents kept.
  EXPECT_EQ(Fopen(Path("missing").c_str(), "rb+", false, kCurrent), nullptr);
  EXPECT_FALSE(FileExists(Path("missing")));
  std::FILE* stream = Fopen(file_.c_str(), "rb+", false, kCurrent);
  ASSERT_NE(stream, nullptr);
  char head[4] = {};
  EXPECT_EQ(std::fread(head, 1, 3, stream), 3u);
  EXPECT_STREQ(head, "con");
  std::fseek(stream, 0, SEEK_SET);
  std::fputs("CON", stream);
  Fclose(&stream);
  EXPECT_EQ(ReadFile(file_), "CONtents");

  // 'a' row: created when missing, contents kept, writes at the end.
  stream = Fopen(Path("new").c_str(), "ab", false, kCurrent);
  ASSERT_NE(stream, nullptr);
  Fclose(&stream);
  EXPECT_EQ(ReadFile(Path("new")), "");
  stream = Fopen(file_.c_str(), "ab", false, kCurrent);
  ASSERT_NE(stream, nullptr);
  std::fputs("!", stream);
  Fclose(&stream);
  EXPECT_EQ(ReadFile(file_), "CONtents!");

  // Any other mode: write only, created or truncated.
  for (const char* mode : {"wb", "wt"}) {
    WriteFile(file_, "contents");
    stream = Fopen(file_.c_str(), mode, false, kCurrent);
    ASSERT_NE(stream, nullptr) << mode;
    Fclose(&stream);
    EXPECT_EQ(ReadFile(file_), "") << mode;
  }
}

TEST_F(FileOpenTest, AModeNoStreamTakesTouchesNothing) {
  for (FopenGeneration generation : {kCurrent, kBalanceQuery}) {
    for (const char* mode : {"", "b", "t", "x", "Rb", "+", "bw"}) {
      EXPECT_EQ(Fopen(file_.c_str(), mode, false, generation), nullptr) << '"' << mode << '"';
      EXPECT_EQ(Fopen(Path("new").c_str(), mode, true, generation), nullptr) << mode;
    }
  }
  EXPECT_EQ(ReadFile(file_), "contents");
  EXPECT_FALSE(FileExists(Path("new")));
}

TEST_F(FileOpenTest, APipeOrDeviceInPlaceOfTheFileGivesNullAtOnce) {
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0644), 0);
  for (const char* path : {"pipe", "/dev/zero", "/dev/null"}) {
    const std::string name = path[0] == '/' ? path : Path(path);
    for (const char* mode : {"rb", "rb+", "rt", "ab", "wb"}) {
      std::optional<bool> refused = testsupport::RunWithin(
          10s, [&] { return Fopen(name.c_str(), mode, false, kCurrent) == nullptr; });
      EXPECT_EQ(refused, true) << name << " " << mode;
    }
  }
}

TEST_F(FileOpenTest, TextModeTranslatesLineEnds) {
  std::FILE* stream = Fopen(file_.c_str(), "wt", false, kCurrent);
  ASSERT_NE(stream, nullptr);
  std::fputs("a\nb\n", stream);
  Fclose(&stream);
  EXPECT_EQ(ReadFile(file_), "a\r\nb\r\n");
  stream = Fopen(file_.c_str(), "rt", false, kCurrent);
  ASSERT_NE(stream, nullptr);
  char line[8];
  ASSERT_NE(std::fgets(line, sizeof line, stream), nullptr);
  EXPECT_STREQ(line, "a\n");
  Fclose(&stream);
}

TEST_F(FileOpenTest, SharingOfEachRowAgainstAnotherProcess) {
  {
    auto reader = HeldElsewhere("rb", false);
    ASSERT_TRUE(reader.succeeded());
    EXPECT_TRUE(CanOpen("rb", false, kCurrent));
    EXPECT_TRUE(CanOpen("rb+", false, kCurrent));
    EXPECT_FALSE(CanOpen("rt", true, kCurrent));
    EXPECT_FALSE(CanOpen("rb+", true, kCurrent));
    EXPECT_TRUE(CanOpen("rt", true, kBalanceQuery)) << "the older generation always shares reads";
    EXPECT_FALSE(CanOpen("wb", false, kCurrent));
    EXPECT_EQ(ReadFile(file_), "contents") << "a refused truncating open truncated";
  }
  EXPECT_TRUE(CanOpen("rt", true, kCurrent));
  {
    auto appender = HeldElsewhere("ab", false);
    ASSERT_TRUE(appender.succeeded());
    EXPECT_TRUE(CanOpen("rb", false, kCurrent));
    EXPECT_FALSE(CanOpen("rb+", false, kCurrent));
    EXPECT_FALSE(CanOpen("ab", false, kCurrent));
  }
  {
    auto exclusive = HeldElsewhere("rb+", true);
    ASSERT_TRUE(exclusive.succeeded());
    EXPECT_FALSE(CanOpen("rb", false, kCurrent));
    EXPECT_FALSE(CanOpen("rb", false, kBalanceQuery));
  }
  {
    auto writer = HeldElsewhere("wb", false);
    ASSERT_TRUE(writer.succeeded());
    EXPECT_FALSE(CanOpen("rb", false, kCurrent));
  }
}

TEST_F(FileOpenTest, DescriptorZeroIsAValidResult) {
  pid_t pid = fork();
  if (pid == 0) {
    close(STDIN_FILENO);
    std::FILE* stream = Fopen(file_.c_str(), "rb", false, kCurrent);
    _exit(stream && fileno(stream) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FileOpenTest, FailuresLeaveNoDescriptorOpen) {
  const int before = OpenDescriptorCount();
  // A mode the stream cannot take: the descriptor opened for it is closed again.
  EXPECT_EQ(Fopen(file_.c_str(), "b+", false, kCurrent), nullptr);
  EXPECT_EQ(Fopen(Path("missing").c_str(), "rb", false, kCurrent), nullptr);
  EXPECT_EQ(Fopen(nullptr, "rb", false, kCurrent), nullptr);
  EXPECT_EQ(Fopen(file_.c_str(), nullptr, false, kCurrent), nullptr);
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_TRUE(CanOpen("rt", true)) << "a failed open left the file held";
}

TEST_F(FileOpenTest, FcloseClearsTheVariableAndToleratesNull) {
  std::FILE* stream = Fopen(file_.c_str(), "rb", false, kCurrent);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(Fclose(&stream), 0);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(Fclose(&stream), 0);
  EXPECT_EQ(Fclose(nullptr), 0);
}

}  // namespace
}  // namespace util
