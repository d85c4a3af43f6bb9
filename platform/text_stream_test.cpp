#include "platform/text_stream.h"

#include <cerrno>
#include <string>
#include <utility>

#include "platform/fault.h"
#include "platform/share.h"
#include "testsupport/file_test.h"

namespace platform {
namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

class TextStreamTest : public testsupport::FileTest {
 protected:
  std::FILE* Open(const std::string& name, const char* mode, const OpenRequest& request) {
    SharedFile file;
    if (SharedFile::Open(Path(name), request, &file) != 0) return nullptr;
    return AttachStream(std::move(file), mode);
  }

  // Everything a text-mode stream delivers for a file holding `bytes`.
  std::string ReadAllText(const std::string& bytes) {
    WriteFile(Path("in.txt"), bytes);
    std::FILE* stream = Open("in.txt", "rt", {});
    EXPECT_NE(stream, nullptr);
    if (!stream) return {};
    std::string text;
    int c;
    while ((c = std::fgetc(stream)) != EOF) text.push_back(static_cast<char>(c));
    std::fclose(stream);
    return text;
  }
};

TEST_F(TextStreamTest, ReadingDropsTheCrOfCrLfKeepsLoneCrAndStopsAtCtrlZ) {
  EXPECT_EQ(ReadAllText("a\r\nb\r\n"), "a\nb\n");
  EXPECT_EQ(ReadAllText("a\rb\n\r"), "a\rb\n\r");
  EXPECT_EQ(ReadAllText("a\r\r\nb"), "a\r\nb");
  EXPECT_EQ(ReadAllText("line\r\n\x1Ahidden\r\n"), "line\n");
  EXPECT_EQ(ReadAllText(""), "");
}

TEST_F(TextStreamTest, CrLfSplitAcrossReadAheadBlocksIsStillOneLineEnd) {
  for (size_t crAt : {65535u, 65536u, 131071u}) {
    std::string bytes(crAt, 'x');
    bytes += "\r\nend";
    std::string expected(crAt, 'x');
    expected += "\nend";
    EXPECT_EQ(ReadAllText(bytes), expected) << "CR at " << crAt;
  }
}

TEST_F(TextStreamTest, WritingTurnsEveryLfIntoCrLf) {
  std::FILE* stream =
      Open("out.txt", "wt", {kAccessWrite, kShareNone, Disposition::kCreateTruncate});
  ASSERT_NE(stream, nullptr);
  std::fputs("one\ntwo\n\nthree", stream);
  std::fprintf(stream, "%s\n", "");
  ASSERT_EQ(std::fclose(stream), 0);
  EXPECT_EQ(ReadFile(Path("out.txt")), "one\r\ntwo\r\n\r\nthree\r\n");
}

TEST_F(TextStreamTest, LinesReadWithFgetsAndPositionsAreDiskOffsets) {
  WriteFile(Path("in.txt"), "first\r\nsecond\r\n");
  std::FILE* stream = Open("in.txt", "rt", {});
  ASSERT_NE(stream, nullptr);
  char line[32];
  ASSERT_NE(std::fgets(line, sizeof line, stream), nullptr);
  EXPECT_STREQ(line, "first\n");
  ASSERT_EQ(std::fseek(stream, 7, SEEK_SET), 0);
  ASSERT_NE(std::fgets(line, sizeof line, stream), nullptr);
  EXPECT_STREQ(line, "second\n");
  std::fclose(stream);
}

// One write that fails (a full disk for a moment) is reported by the call that made it and
// again by fclose, and leaves nothing of its text in the file: the writes around it land whole.
TEST_F(TextStreamTest, FailedWriteIsReportedAndWritesNoStrayBytes) {
  using Write = int (*)(std::FILE*);
  const std::pair<const char*, Write> writes[] = {
      {"fputs", [](std::FILE* s) { return std::fputs("lost\n", s) == EOF ? -1 : 0; }},
      {"fwrite", [](std::FILE* s) { return std::fwrite("lost\n", 1, 5, s) == 5 ? 0 : -1; }},
      {"fprintf", [](std::FILE* s) { return std::fprintf(s, "%s\n", "lost") < 0 ? -1 : 0; }},
      {"fputc", [](std::FILE* s) { return std::fputc('\n', s) == EOF ? -1 : 0; }},
  };
  for (const auto& [name, write] : writes) {
    SCOPED_TRACE(name);
    std::FILE* stream =
        Open("out.txt", "wt", {kAccessWrite, kShareNone, Disposition::kCreateTruncate});
    ASSERT_NE(stream, nullptr);
    ASSERT_NE(std::fputs("before\n", stream), EOF);
    {
      bool failed = false;
      ScopedFaultHook hook([&](FileOp op, std::string_view) {
        return op == FileOp::kWrite && !std::exchange(failed, true) ? ENOSPC : 0;
      });
      EXPECT_EQ(write(stream), -1);
      EXPECT_TRUE(std::ferror(stream));
    }
    std::clearerr(stream);
    ASSERT_NE(std::fputs("after\n", stream), EOF);
    EXPECT_EQ(std::fclose(stream), EOF);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(ReadFile(Path("out.txt")), "before\r\nafter\r\n");
  }
}

TEST_F(TextStreamTest, AppendingTextGoesToTheEnd) {
  WriteFile(Path("log.txt"), "old\r\n");
  std::FILE* stream =
      Open("log.txt", "at", {kAccessWrite, kShareRead, Disposition::kOpenAlways, true});
  ASSERT_NE(stream, nullptr);
  std::fputs("new\n", stream);
  std::fclose(stream);
  EXPECT_EQ(ReadFile(Path("log.txt")), "old\r\nnew\r\n");
}

}  // namespace
}  // namespace platform
