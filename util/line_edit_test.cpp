#include "util/line_edit.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"
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
  // The name of a file of new content left in the folder, "" when there is none.
  std::string NewContentLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(Dir())) {
      const std::string name = entry.path().filename().string();
      if (name.find(".edit") != std::string::npos) return name;
    }
    return "";
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
  EXPECT_EQ(ReadFile(file_), "Tel: 4567\r\nkein\nTreffer\r\n4567 4567\r\n");
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

TEST_F(FileEditTest, KeepsEveryByteItDoesNotChange) {
  // A Ctrl-Z is a byte like any other, and line ends stay as they were: CR LF, a lone LF, none.
  const std::string zero("z\0abc\n", 6);
  const std::string original = "a abc\r\nb\x1A tail\r\nc\nlone\rCR\r\n" + zero + "abc";
  const struct {
    const char* find;
    const char* replacement;
    std::string result;
  } replacements[] = {
      {"abc", "X", "a X\r\nb\x1A tail\r\nc\nlone\rCR\r\n" + zero + "X"},
      {"tail", "end", "a abc\r\nb\x1A end\r\nc\nlone\rCR\r\n" + zero + "abc"},
      {"c\n", "C\n", "a abC\r\nb\x1A tail\r\nC\nlone\rCR\r\n" + zero + "abc"},
      // A line feed put into a line is written as that line's own end.
      {" ", "\n", "a\r\nabc\r\nb\x1A\r\ntail\r\nc\nlone\rCR\r\n" + zero + "abc"},
      {"c", "\n", "a ab\r\n\r\nb\x1A tail\r\n\n\nlone\rCR\r\n" + zero + "ab\r\n"},
  };
  for (const auto& c : replacements) {
    SCOPED_TRACE(c.find);
    WriteFile(file_, original);
    EXPECT_EQ(CONVERT_FileReplace(file_.c_str(), work_.c_str(), c.find, c.replacement), 1);
    EXPECT_EQ(ReadFile(file_), c.result);
    EXPECT_FALSE(FileExists(work_));
  }
  const std::pair<const char*, std::string> keywords[] = {
      {"TAIL", "a abc\r\nc\nlone\rCR\r\n" + zero + "abc"},
      {"c", "b\x1A tail\r\n"},
      {"\r", "a abc\r\nb\x1A tail\r\nc\n" + zero + "abc"},  // the lone CR is text
  };
  for (const auto& [word, result] : keywords) {
    SCOPED_TRACE(word);
    WriteFile(file_, original);
    std::string keyword = word;
    EXPECT_EQ(CONVERT_RemoveLineByKeyword(file_.c_str(), work_.c_str(), keyword.data()), 1);
    EXPECT_EQ(ReadFile(file_), result);
    EXPECT_EQ(ReadFile(work_), original);
  }
  WriteFile(file_, original);
  EXPECT_EQ(CONVERT_RemoveLineByLinenumber(file_.c_str(), work_.c_str(), 1), 1);
  EXPECT_EQ(ReadFile(file_), "a abc\r\nc\nlone\rCR\r\n" + zero + "abc");
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

TEST_F(FileEditTest, AFailedEditLeavesEveryFileAsItWas) {
  std::string original;  // more than one block of every reader and writer
  for (int i = 0; i < 12000; ++i) original += "a line\r\nother\r\n";
  // Reads and writes fail at their second call, after some work was done. "new" is the file
  // the new content is written to, beside the file.
  const std::pair<FileOp, std::string> faults[] = {
      {FileOp::kOpen, "file"},   {FileOp::kRead, "file"},  {FileOp::kOpen, "new"},
      {FileOp::kWrite, "new"},   {FileOp::kSync, "new"},   {FileOp::kClose, "new"},
      {FileOp::kRename, "file"}, {FileOp::kRename, "new"},
  };
  for (const auto& [name, edit] : kEditors) {
    for (const auto& [op, which] : faults) {
      SCOPED_TRACE(std::string(name) + " " + which + " " + std::to_string(static_cast<int>(op)));
      WriteFile(file_, original);
      WriteFile(work_, "older");
      int calls = 0;
      bool failed;
      {
        platform::ScopedFaultHook hook(
            [&, op = op, which = which](FileOp o, std::string_view path) {
              const bool isNew = path.find(".data.txt.edit") != std::string_view::npos;
              if (o != op || (which == "new" ? !isNew : path != file_)) return 0;
              return ++calls == (op == FileOp::kWrite || op == FileOp::kRead ? 2 : 1) ? EIO : 0;
            });
        failed = !edit(file_, work_);
      }
      EXPECT_TRUE(failed);
      EXPECT_TRUE(ReadFile(file_) == original);
      if (op == FileOp::kRename && which == "new") {
        // The file had replaced the work file before the new content failed to take its place.
        EXPECT_FALSE(FileExists(work_));
      } else {
        EXPECT_TRUE(ReadFile(work_) == "older");
      }
      EXPECT_EQ(NewContentLeft(), "") << "the file the new content went to is removed";
    }
  }
}

TEST_F(FileEditTest, AFailedMoveKeepsWhatLiesAtTheWorkPath) {
  const std::string original = "a\r\nb\r\n";
  // Held through these libraries by another program: the file, or the file at the work path.
  for (const std::string& held : {file_, work_}) {
    for (const auto& [name, edit] : kEditors) {
      SCOPED_TRACE(std::string(name) + " holding " + held);
      WriteFile(file_, original);
      WriteFile(work_, "older backup");
      testsupport::OtherProcess holder([held] {
        static FILE* stream =
            util::Fopen(held.c_str(), "rb", false, util::FopenGeneration::kCurrent);
        return stream != nullptr;
      });
      ASSERT_TRUE(holder.succeeded());
      EXPECT_EQ(edit(file_, work_), 0);
      EXPECT_EQ(ReadFile(file_), original);
      EXPECT_EQ(ReadFile(work_), "older backup");
    }
  }
  // A work path on another file system.
  const std::string elsewhere = OnAnotherFileSystem("lindavox-edit");
  if (elsewhere.empty()) GTEST_SKIP() << "no second file system at /dev/shm";
  for (const auto& [name, edit] : kEditors) {
    SCOPED_TRACE(name);
    WriteFile(file_, original);
    WriteFile(elsewhere, "older backup");
    EXPECT_EQ(edit(file_, elsewhere), 0);
    EXPECT_EQ(ReadFile(file_), original);
    EXPECT_EQ(ReadFile(elsewhere), "older backup");
  }
  ::unlink(elsewhere.c_str());
}

TEST_F(FileEditTest, KeepsOwnerAndModeAndEditsTheTargetOfALink) {
  const auto status = [](const std::string& path) {
    struct stat s {};
    ::lstat(path.c_str(), &s);
    return s;
  };
  for (const auto& [name, edit] : kEditors) {
    SCOPED_TRACE(name);
    WriteFile(file_, "a\r\nb\r\n");
    ::chmod(file_.c_str(), 0600);
    const bool superuser = ::geteuid() == 0;  // who may give the file another owner
    if (superuser) {
      ASSERT_EQ(::chown(file_.c_str(), 4243, 4243), 0);
    }
    EXPECT_EQ(edit(file_, work_), 1);
    EXPECT_EQ(status(file_).st_mode & 07777, 0600u);
    if (superuser) {
      EXPECT_EQ(status(file_).st_uid, 4243u);
      EXPECT_EQ(status(file_).st_gid, 4243u);
    }
    EXPECT_EQ(ReadFile(file_).size(), std::string(name) == "replace" ? 6u : 3u);

    // A link: its target is edited, the link stays.
    ::mkdir(Path("real").c_str(), 0755);
    const std::string target = Path("real/target.txt");
    WriteFile(target, "a\r\nb\r\n");
    ::unlink(Path("link.txt").c_str());
    ASSERT_EQ(::symlink(target.c_str(), Path("link.txt").c_str()), 0);
    EXPECT_EQ(edit(Path("link.txt"), Path("link.bak")), 1);
    EXPECT_TRUE(S_ISLNK(status(Path("link.txt")).st_mode));
    EXPECT_EQ(ReadFile(target), std::string(name) == "replace" ? "b\r\nb\r\n" : "b\r\n");
  }

  // Who may not give the new file the file's owner leaves the file as it was.
  if (::geteuid() != 0) GTEST_SKIP() << "a second user needs the superuser";
  ::chmod(Dir().c_str(), 0777);
  WriteFile(file_, "a\r\nb\r\n");
  ::chmod(file_.c_str(), 0666);
  ASSERT_EQ(::chown(file_.c_str(), 4243, 4243), 0);
  for (const auto& [name, edit] : kEditors) {
    SCOPED_TRACE(name);
    const std::optional<bool> refused = testsupport::RunWithin(std::chrono::seconds(30), [&] {
      return ::setgroups(0, nullptr) == 0 && ::setresgid(4244, 4244, 4244) == 0 &&
             ::setresuid(4244, 4244, 4244) == 0 && edit(file_, work_) == 0;
    });
    EXPECT_EQ(refused, true);
    EXPECT_EQ(ReadFile(file_), "a\r\nb\r\n");
    EXPECT_EQ(status(file_).st_uid, 4243u);
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
