#include "util/line_edit.h"

#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/fault.h"
#include "testsupport/file_test.h"
#include "util/file_open_internal.h"

namespace {

using platform::FileOp;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

TEST(LineEditTest, LineEnds) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\r\nb\r\n", "ab\r\n"}, {"\n\r", ""}, {"a\rb", "ab"}, {"abc", "abc"}, {"", ""}};
  for (const auto& [in, out] : cases) {
    char text[16];
    std::strcpy(text, in.c_str());
    CONVERT_RemoveCRLF(text);
    EXPECT_STREQ(text, out.c_str());
    EXPECT_STREQ(CONVERT_AddCRLF(text), (out + "\r\n").c_str());
  }
}

class FileEditTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    file_ = Path("data.txt");
    work_ = Path("data.bak");
  }
  std::string file_, work_;
};

TEST_F(FileEditTest, FputsEndsTheLineWithOneCrLf) {
  for (const char* line : {"line", "line\n", "line\r\n"}) {
    std::FILE* binary = util::Fopen(file_.c_str(), "wb", false, util::FopenGeneration::kCurrent);
    char text[16];
    std::strcpy(text, line);
    EXPECT_GE(CONVERT_fputs(text, binary), 0);
    util::Fclose(&binary);
    EXPECT_STREQ(text, "line\r\n");
    EXPECT_EQ(ReadFile(file_), "line\r\n") << line;
  }
  std::FILE* textMode = util::Fopen(file_.c_str(), "wt", false, util::FopenGeneration::kCurrent);
  char text[16] = "line";
  CONVERT_fputs(text, textMode);
  util::Fclose(&textMode);
  EXPECT_EQ(ReadFile(file_), "line\r\r\n");  // the stream translates the LF once more

  // A failed write is reported, on a text-mode stream too.
  textMode = util::Fopen(file_.c_str(), "wt", false, util::FopenGeneration::kCurrent);
  {
    platform::ScopedFaultHook hook(
        [](FileOp op, std::string_view) { return op == FileOp::kWrite ? EIO : 0; });
    EXPECT_EQ(CONVERT_fputs(text, textMode), EOF);
  }
  util::Fclose(&textMode);
  EXPECT_EQ(CONVERT_fputs(nullptr, stdout), EOF);
}

TEST(LineEditTest, SwitchStringNeverGrowsBeyondItsCapacity) {
  const struct {
    std::string text;
    uint32_t capacity;
    std::string find, replacement, result;
    bool replaced;
  } cases[] = {
      {"Tel: 123", 20, "123", "4567", "Tel: 4567", true},
      {"Tel: 123", 8, "123", "4567", "Tel: 123", false},
      {"Tel: 123", 9, "123", "4567", "Tel: 123", false},  // 8 + 4 - 3 = 9 is not below 9
      {"Tel: 123", 10, "123", "4567", "Tel: 4567", true},
      {"a", 5, "a", "ab", "abbb", true},  // found again until the buffer is full
      {"xyz", 10, "", "-", "------xyz", true},
      {"a-a-a", 10, "a", "", "--", true},
      {"ab ab", 10, "ab", "ba", "ba ba", true},
      {"abc", 10, "b", "b", "abc", false},
      {"abc", 10, "x", "y", "abc", false},
      {"abc", 0, "b", "", "abc", false},
  };
  for (const auto& c : cases) {
    char text[32] = {};
    std::strcpy(text, c.text.c_str());
    EXPECT_EQ(CONVERT_SwitchString(text, c.capacity, c.find.c_str(), c.replacement.c_str()),
              c.replaced)
        << c.text << " " << c.capacity;
    EXPECT_STREQ(text, c.result.c_str());
  }

  // At most 2000 bytes are used, whatever capacity the caller gives.
  for (auto [capacity, length] : {std::pair{1999u, 1998u}, {2000u, 1999u}, {2001u, 1999u}}) {
    std::string buffer(2100, '#');
    std::strcpy(buffer.data(), "a");
    EXPECT_TRUE(CONVERT_SwitchString(buffer.data(), capacity, "a", "aa"));
    EXPECT_EQ(std::strlen(buffer.c_str()), length);
    EXPECT_EQ(buffer.substr(length + 1), std::string(2099 - length, '#'));
  }

  // Every round restarts at the beginning: "ba" to "ab" sorts the text.
  std::string sorted = std::string(999, 'b') + std::string(999, 'a');
  EXPECT_TRUE(CONVERT_SwitchString(sorted.data(), 2000, "ba", "ab"));
  EXPECT_EQ(sorted, std::string(999, 'a') + std::string(999, 'b'));
}

TEST_F(FileEditTest, EditsCrLfFiles) {
  WriteFile(file_, "Tel: 123\r\nkein\nTreffer\r\n123 123\r\n");
  EXPECT_TRUE(CONVERT_FileReplace(file_.c_str(), work_.c_str(), "123", "4567"));
  EXPECT_EQ(ReadFile(file_), "Tel: 4567\r\nkein\r\nTreffer\r\n4567 4567\r\n");
  EXPECT_FALSE(FileExists(work_));

  WriteFile(work_, "older");
  EXPECT_TRUE(CONVERT_FileReplace(file_.c_str(), work_.c_str(), "x", "x"));
  EXPECT_EQ(ReadFile(work_), "older");

  const std::string original = "one abc\r\nAbc\r\nzwei\r\naBC drei\r\nab c\r\n";
  WriteFile(file_, original);
  char keyword[] = "abc";
  EXPECT_TRUE(CONVERT_RemoveLineByKeyword(file_.c_str(), work_.c_str(), keyword));
  EXPECT_STREQ(keyword, "ABC");
  EXPECT_EQ(ReadFile(file_), "zwei\r\nab c\r\n");
  EXPECT_EQ(ReadFile(work_), original);

  const std::pair<int32_t, std::string> removals[] = {
      {1, "one\r\nthree\n"}, {0, "two\r\nthree\n"},        {-5, "two\r\nthree\n"},
      {2, "one\r\ntwo\r\n"}, {3, "one\r\ntwo\r\nthree\n"}, {1000, "one\r\ntwo\r\nthree\n"}};
  for (const auto& [keep, result] : removals) {
    WriteFile(file_, "one\r\ntwo\r\nthree\n");
    EXPECT_TRUE(CONVERT_RemoveLineByLinenumber(file_.c_str(), work_.c_str(), keep));
    EXPECT_EQ(ReadFile(file_), result) << keep;
    EXPECT_FALSE(FileExists(work_));
  }
}

TEST_F(FileEditTest, LongLinesAreReadInPiecesOfTheLineLength) {
  // The match "ab" ends on the last character of a 299-character piece, across two pieces, or
  // inside the second piece.
  for (auto [before, replaced] : {std::pair{297, true}, {298, false}, {299, true}}) {
    const std::string line = std::string(before, 'x') + "ab";
    WriteFile(file_, line + "\r\n");
    CONVERT_FileReplace(file_.c_str(), work_.c_str(), "ab", "AB");
    EXPECT_EQ(ReadFile(file_), std::string(before, 'x') + (replaced ? "AB" : "ab") + "\r\n");
  }
  // A replacement grows a line up to 998 characters and its terminator.
  WriteFile(file_, "a\r\n");
  CONVERT_FileReplace(file_.c_str(), work_.c_str(), "a", "aa");
  EXPECT_EQ(ReadFile(file_), std::string(997, 'a') + "\r\n");

  // The keyword fills a 499-character piece with or without the line feed, or is split.
  const std::pair<int, std::string> keywordPieces[] = {
      {495, "next\r\n"}, {496, "\r\nnext\r\n"}, {497, ""}};
  for (const auto& [before, result] : keywordPieces) {
    const std::string original = std::string(before, 'x') + "KEY\r\nnext\r\n";
    WriteFile(file_, original);
    char keyword[] = "key";
    CONVERT_RemoveLineByKeyword(file_.c_str(), work_.c_str(), keyword);
    EXPECT_EQ(ReadFile(file_), result.empty() ? original : result) << before;
  }
  // A first line of 25998, 25999 and 26000 bytes: the last is two lines.
  for (auto [bytes, result] :
       {std::pair{25998, "two\r\n"}, {25999, "two\r\n"}, {26000, "\ntwo\r\n"}}) {
    WriteFile(file_, std::string(bytes - 2, 'x') + "\r\ntwo\r\n");
    CONVERT_RemoveLineByLinenumber(file_.c_str(), work_.c_str(), 0);
    EXPECT_EQ(ReadFile(file_), result) << bytes;
  }
}

// The three editors, each on a file where it changes something.
using Editor = std::function<uint8_t(const std::string& file, const std::string& work)>;
const std::pair<const char*, Editor> kEditors[] = {
    {"replace",
     [](const std::string& file, const std::string& work) {
       return CONVERT_FileReplace(file.c_str(), work.c_str(), "a", "b");
     }},
    {"keyword",
     [](const std::string& file, const std::string& work) {
       char keyword[] = "a";
       return CONVERT_RemoveLineByKeyword(file.c_str(), work.c_str(), keyword);
     }},
    {"number",
     [](const std::string& file, const std::string& work) {
       return CONVERT_RemoveLineByLinenumber(file.c_str(), work.c_str(), 0);
     }},
};

TEST_F(FileEditTest, AFailedEditLeavesTheOriginalInPlace) {
  std::string original;  // more than one block of every reader
  for (int i = 0; i < 6000; ++i) original += "a line\r\nother\r\n";
  // Reads and writes fail at their second call, after some work was done.
  const std::pair<FileOp, std::string> faults[] = {{FileOp::kOpen, "file"},
                                                   {FileOp::kOpen, "work"},
                                                   {FileOp::kWrite, "file"},
                                                   {FileOp::kRead, "work"},
                                                   {FileOp::kRename, "file"}};
  for (const auto& [name, edit] : kEditors) {
    for (const auto& [op, which] : faults) {
      WriteFile(file_, original);
      unlink(work_.c_str());
      const std::string failing = which == "file" ? file_ : work_;
      int calls = 0;
      bool failed;
      {
        platform::ScopedFaultHook hook([&, op = op](FileOp o, std::string_view path) {
          if (o != op || path != failing) return 0;
          return ++calls == (op == FileOp::kWrite || op == FileOp::kRead ? 2 : 1) ? EIO : 0;
        });
        failed = !edit(file_, work_);
      }
      EXPECT_TRUE(failed) << name << " " << static_cast<int>(op);
      EXPECT_TRUE(ReadFile(file_) == original) << name << " " << static_cast<int>(op);
      EXPECT_FALSE(FileExists(work_)) << name << " " << static_cast<int>(op);
    }
  }
}

TEST_F(FileEditTest, RefusesBeforeTouchingAnyFile) {
  for (const auto& [name, edit] : kEditors) {
    WriteFile(work_, "older");
    EXPECT_FALSE(edit(Path("missing"), work_)) << name;
    EXPECT_EQ(ReadFile(work_), "older");

    WriteFile(file_, "a\r\n");
    EXPECT_FALSE(edit(file_, file_)) << name;
    EXPECT_FALSE(edit(file_, Dir() + "./data.txt")) << name;
    unlink(Path("hard").c_str());
    link(file_.c_str(), Path("hard").c_str());
    EXPECT_FALSE(edit(file_, Path("hard"))) << name;
    EXPECT_EQ(ReadFile(file_), "a\r\n") << name;
  }
  char keyword[] = "a";
  EXPECT_FALSE(CONVERT_RemoveLineByKeyword(nullptr, work_.c_str(), keyword));
  EXPECT_FALSE(CONVERT_FileReplace(file_.c_str(), nullptr, "a", "b"));
  EXPECT_FALSE(CONVERT_RemoveLineByLinenumber(file_.c_str(), nullptr, 0));
  EXPECT_EQ(ReadFile(file_), "a\r\n");
}

}  // namespace
