#include "util/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/fault.h"
#include "platform/wall_clock.h"
#include "testsupport/file_test.h"
#include "testsupport/message_boxes.h"
#include "testsupport/other_process.h"
#include "testsupport/time_zone.h"
#include "util/file_open_internal.h"

namespace {

using namespace std::chrono_literals;
using platform::FileOp;
using platform::ScopedFaultHook;
using testsupport::FileExists;
using testsupport::Packed;
using testsupport::ReadFile;
using testsupport::Utc;
using testsupport::WriteFile;

class FilesTest : public testsupport::FileTest {
 protected:
  // Berlin time: 2024-05-17 13:45:30 local is 11:45:30 UTC.
  FilesTest() : zone_("Europe/Berlin") {}

  std::string Make(const std::string& name, const std::string& bytes = "0123456789") {
    WriteFile(Path(name), bytes);
    return Path(name);
  }
  std::string Folder(const std::string& name) {
    ::mkdir(Path(name).c_str(), 0755);
    return Path(name);
  }
  static void SetModified(const std::string& path, int64_t seconds, long nanoseconds = 0) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  }
  static timespec Modified(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mtim;
  }
  static std::tm LocalModified(const std::string& path) {
    const time_t seconds = Modified(path).tv_sec;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
  }
  // Another process holding `path` open the way the card store does (shared reading).
  static testsupport::OtherProcess HeldElsewhere(const std::string& path) {
    return testsupport::OtherProcess([path] {
      static FILE* stream = util::Fopen(path.c_str(), "rb", false, util::FopenGeneration::kCurrent);
      return stream != nullptr;
    });
  }
  // A writable copy of `text`, for the functions that take char*.
  static std::vector<char> Writable(const std::string& text) {
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
  }

 private:
  testsupport::ScopedTimeZone zone_;
};

TEST_F(FilesTest, RemovesFilesThatAreNotHeldElsewhere) {
  const std::string readOnly = Make("ro.txt");
  ::chmod(readOnly.c_str(), 0444);
  EXPECT_EQ(FILE_saveremove(readOnly.c_str()), 0);
  EXPECT_FALSE(FileExists(readOnly));
  EXPECT_EQ(FILE_saveremove(Path("missing").c_str()), 0);
  EXPECT_EQ(saveremove(Path("missing/below").c_str()), 0);
  EXPECT_EQ(FILE_saveremove(Folder("folder").c_str()), -1);
  const std::string held = Make("held.dat");
  {
    testsupport::OtherProcess holder = HeldElsewhere(held);
    EXPECT_EQ(FILE_saveremove(held.c_str()), -1);
    EXPECT_TRUE(FileExists(held));
  }
  EXPECT_EQ(saveremove(held.c_str()), 0);
}

TEST_F(FilesTest, ProbesSizeAndTimeOfTheFirstMatch) {
  const std::string file = Make("a.log", std::string(1234, 'x'));
  SetModified(file, Utc(2024, 5, 17, 11, 45, 31));
  EXPECT_EQ(FILE_GetSize(file.c_str()), 1234);
  EXPECT_EQ(MyGetFileSize(Path("*.log").c_str()), 1234);
  EXPECT_EQ(FILE_GetSize(Folder("dir").c_str()), 0);
  EXPECT_EQ(FILE_GetTime(file.c_str()), 0x58B16DAFu);  // 13:45:30, two-second steps
  EXPECT_EQ(MyGetFileTime(Path("a.*").c_str()), 0x58B16DAFu);
  EXPECT_EQ(FILE_GetSeconds(file.c_str(), -1), 31);
  EXPECT_EQ(GetFileSeconds(file.c_str()), 31);

  SetModified(file, Utc(1975, 1, 1));  // before packed times begin
  EXPECT_EQ(FILE_GetTime(file.c_str()), 0u);
  const std::string missing = Path("missing");
  EXPECT_EQ(FILE_GetSize(missing.c_str()), 0);
  EXPECT_EQ(FILE_GetTime(missing.c_str()), 0u);
  EXPECT_EQ(FILE_GetSeconds(missing.c_str(), 77), 77);
  EXPECT_EQ(GetFileSeconds(missing.c_str()), 0);
}

TEST_F(FilesTest, ExistCountsMatchingFilesAndSumsTheirSizes) {
  Make("a.LOG", "12");
  Make("b.LOG", "345");
  Make(".hidden.LOG", "6");
  Make("c.log", "7");
  Folder("folder.LOG");
  const std::string dir = Dir().substr(0, Dir().size() - 1);  // without the trailing '/'
  int32_t sum = 100;
  EXPECT_EQ(FILE_Exist(dir.c_str(), "*.LOG", &sum), 3);
  EXPECT_EQ(sum, 106);
  EXPECT_EQ(FILE_Exist(Path("*.LOG").c_str(), nullptr, nullptr), 3);
  EXPECT_EQ(FILE_Exist(Dir().c_str(), "a.LOG", nullptr), 1);
  EXPECT_EQ(FILE_Exist(Dir().c_str(), "*.TXT", nullptr), 0);
  EXPECT_EQ(FILE_Exist(Path("folder.LOG").c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(ExistFile(dir.c_str(), "*.LOG"), 1);
  EXPECT_EQ(ExistFile(Path("none").c_str(), nullptr), 0);
}

TEST_F(FilesTest, TestExclusiveSeesFilesHeldByAnotherProcess) {
  const std::string file = Make("PREPAID.DAT");
  Folder("data");
  const std::string inside = Make("data/one.txt");
  Make("data/two.txt");
  Folder("data/sub");
  const std::string below = Make("data/sub/held.txt");
  EXPECT_EQ(FILES_TestExclusive(file.c_str(), Path("data").c_str()), 1);
  {
    testsupport::OtherProcess holder = HeldElsewhere(file);
    EXPECT_EQ(FILES_TestExclusive(file.c_str(), nullptr), 0);
    EXPECT_EQ(FILES_TestExclusive(nullptr, Path("data").c_str()), 1);
  }
  {
    testsupport::OtherProcess holder = HeldElsewhere(inside);
    EXPECT_EQ(FILES_TestExclusive(nullptr, Path("data/").c_str()), 0);
  }
  testsupport::OtherProcess holder = HeldElsewhere(below);  // subfolders are not entered
  EXPECT_EQ(FILES_TestExclusive(file.c_str(), Path("data").c_str()), 1);
  EXPECT_EQ(FILES_TestExclusive(Path("missing").c_str(), nullptr), 0);
  EXPECT_EQ(FILES_TestExclusive(nullptr, Path("missing").c_str()), 1);
}

TEST_F(FilesTest, DirectoryTestModes) {
  const struct {
    std::string path;
    int32_t mode;
    int32_t result;
    bool exists;  // whether the folder exists afterwards
  } cases[] = {
      {"a/b/c/", 0, 0, false},   {"a/b/c/", 1, 0, false}, {"a/b/c/", 2, 1, true},
      {"a/b/c", 0, 1, true},     {"a/b", 1, 1, true},     {"x", 1, 1, true},
      {"file/sub", 2, 0, false}, {"file", 2, 0, false},   {"file", 3, 1, true},
  };
  Make("file");
  for (const auto& c : cases) {
    std::vector<char> path = Writable(Path(c.path));
    EXPECT_EQ(FILE_DirectoryTest(path.data(), c.mode), c.result) << c.path << " " << c.mode;
    EXPECT_STREQ(path.data(), Path(c.path).c_str()) << "the caller's text stays";
    struct stat status {};
    EXPECT_EQ(::stat(Path(c.path).c_str(), &status) == 0 && S_ISDIR(status.st_mode), c.exists)
        << c.path;
  }
  char root[] = "/";
  EXPECT_EQ(FILE_DirectoryTest(root, 0), 1);

  // The balance query's: no mode 3, so a file in the way stays.
  Make("other");
  std::vector<char> other = Writable(Path("other"));
  EXPECT_EQ(DirectoryTest(other.data(), 3), 0);
  EXPECT_EQ(ReadFile(Path("other")), "0123456789");
  std::vector<char> deep = Writable(Path("p/q/r/"));
  EXPECT_EQ(DirectoryTest(deep.data(), 2), 1);
  if (::geteuid() != 0) {  // the superuser may enter every folder
    ::chmod(Path("p/q").c_str(), 0600);
    std::vector<char> closed = Writable(Path("p/q"));
    EXPECT_EQ(FILE_DirectoryTest(closed.data(), 0), 1);
    EXPECT_EQ(DirectoryTest(closed.data(), 0), 0);
    ::chmod(Path("p/q").c_str(), 0755);
  }
}

TEST_F(FilesTest, CopyKeepsTimeAndScramblesReversibly) {
  const std::string text = "Zeile 1\r\nZeile 2 \x01\x1F mit \xE4\r\n";
  const std::string source = Make("source.txt", text);
  SetModified(source, Utc(2024, 5, 17, 11, 45, 31), 123456789);
  int32_t copied = -1;
  EXPECT_EQ(FILE_Copy(Path("copy.txt").c_str(), source.c_str(), 0, 1, 0, &copied), 1);
  EXPECT_EQ(copied, static_cast<int32_t>(text.size()));
  EXPECT_EQ(ReadFile(Path("copy.txt")), text);
  EXPECT_EQ(Modified(Path("copy.txt")).tv_sec, Modified(source).tv_sec);
  EXPECT_EQ(Modified(Path("copy.txt")).tv_nsec, 123456789);

  EXPECT_EQ(FILE_Copy(Path("once").c_str(), source.c_str(), 0, 0, 1, nullptr), 1);
  EXPECT_NE(ReadFile(Path("once")), text);
  EXPECT_EQ(ReadFile(Path("once")).substr(7, 2), "\r\n") << "control characters pass";
  EXPECT_NE(Modified(Path("once")).tv_sec, Modified(source).tv_sec);
  EXPECT_EQ(FILE_Copy(Path("twice").c_str(), Path("once").c_str(), 0, 0, 1, nullptr), 1);
  EXPECT_EQ(ReadFile(Path("twice")), text);

  EXPECT_EQ(FileCopy(Path("old.txt").c_str(), source.c_str(), 0, 0), 1);
  EXPECT_EQ(ReadFile(Path("old.txt")), text);
  EXPECT_EQ(Modified(Path("old.txt")).tv_sec, Modified(source).tv_sec) << "always keeps time";
}

TEST_F(FilesTest, CopyIsNeverReadableByMoreThanItsSource) {
  const auto mode = [](const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
  };
  const mode_t previousMask = ::umask(0);  // a new file would be 0666 without the source's say
  const struct {
    mode_t source;
    int existing;  // mode of a destination that exists before, -1: none
    mode_t copy;
  } cases[] = {
      {0600, -1, 0600},   {0640, -1, 0640},   {0644, -1, 0644},   {0755, -1, 0644},
      {0600, 0666, 0600}, {0640, 0604, 0600}, {0444, 0644, 0444},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " over " + std::to_string(c.existing));
    const std::string source = Make("private", "secret");
    ::chmod(source.c_str(), c.source);
    for (const bool older : {false, true}) {
      const std::string copy = Path(older ? "old-copy" : "copy");
      ::unlink(copy.c_str());
      if (c.existing >= 0) ::chmod(Make(older ? "old-copy" : "copy", "old").c_str(), c.existing);
      EXPECT_EQ(older ? FileCopy(copy.c_str(), source.c_str(), 0, 0)
                      : FILE_Copy(copy.c_str(), source.c_str(), 0, 0, 0, nullptr),
                1);
      EXPECT_EQ(mode(copy), c.copy) << (older ? "FileCopy" : "FILE_Copy");
      EXPECT_EQ(ReadFile(copy), "secret");
    }
  }
  ::umask(previousMask);

  // A folder that hands another group to its files: that group gets what everybody gets.
  if (::geteuid() != 0) GTEST_SKIP() << "giving a folder another group needs the superuser";
  const std::string shared = Folder("shared") + "/";
  ASSERT_EQ(::chown(shared.c_str(), static_cast<uid_t>(-1), 4242), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 02775), 0);
  for (const auto& [source, copy] : {std::pair<mode_t, mode_t>{0640, 0600}, {0664, 0644}}) {
    const std::string from = Make("grouped", "secret");
    ::chmod(from.c_str(), source);
    ::unlink((shared + "copy").c_str());
    EXPECT_EQ(FILE_Copy((shared + "copy").c_str(), from.c_str(), 0, 0, 0, nullptr), 1);
    EXPECT_EQ(mode(shared + "copy"), copy) << source;
  }
}

TEST_F(FilesTest, CopyFailuresLeaveTheDestinationAlone) {
  const std::string source = Make("source", "new");
  const std::string destination = Make("destination", "old");
  testsupport::RecordedMessageBoxes boxes;
  EXPECT_EQ(FILE_Copy(destination.c_str(), Path("missing").c_str(), 0, 1, 0, nullptr), 0);
  EXPECT_EQ(FileCopy(destination.c_str(), Path("missing").c_str(), 0, 0), 0);
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(FileCopy(destination.c_str(), Path("missing").c_str(), 0, 1), 0);
  EXPECT_EQ(boxes.Take(),
            (std::vector<testsupport::ShownBox>{{Path("missing"), "Folgende Datei fehlt:", 0x10}}));
  EXPECT_EQ(FILE_Copy(source.c_str(), source.c_str(), 0, 1, 0, nullptr), 0) << "onto itself";
  EXPECT_EQ(ReadFile(source), "new");
  {
    testsupport::OtherProcess holder = HeldElsewhere(destination);
    EXPECT_EQ(FILE_Copy(destination.c_str(), source.c_str(), 0, 1, 0, nullptr), 0);
  }
  EXPECT_EQ(ReadFile(destination), "old");
  {
    ScopedFaultHook hook([](FileOp op, std::string_view) { return op == FileOp::kRead ? EIO : 0; });
    EXPECT_EQ(FILE_Copy(Path("copy").c_str(), source.c_str(), 0, 1, 0, nullptr), 0);
    EXPECT_EQ(FileCopy(Path("copy").c_str(), source.c_str(), 0, 1), 0);
  }
  EXPECT_TRUE(boxes.shown().empty()) << "an existing source is not reported missing";
}

TEST_F(FilesTest, MoveRenamesOverTheDestinationInOneStep) {
  const std::string destination = Make("destination", "old");
  Make("source", "new");
  {
    // A move that cannot finish keeps both files (no removal before the rename).
    ScopedFaultHook hook(
        [](FileOp op, std::string_view) { return op == FileOp::kRename ? EIO : 0; });
    EXPECT_EQ(FILE_Copy(destination.c_str(), Path("source").c_str(), 1, 0, 0, nullptr), 0);
  }
  {
    testsupport::OtherProcess holder = HeldElsewhere(destination);
    ASSERT_TRUE(holder.succeeded());
    EXPECT_EQ(FILE_Copy(destination.c_str(), Path("source").c_str(), 1, 0, 0, nullptr), 0);
  }
  EXPECT_EQ(ReadFile(destination), "old");
  EXPECT_EQ(ReadFile(Path("source")), "new");
  EXPECT_EQ(FILE_Copy(destination.c_str(), Path("source").c_str(), 1, 0, 0, nullptr), 2);
  EXPECT_EQ(ReadFile(destination), "new");
  EXPECT_FALSE(FileExists(Path("source")));
  EXPECT_EQ(FileCopy(Path("moved").c_str(), destination.c_str(), 1, 0), 1);
  EXPECT_EQ(ReadFile(Path("moved")), "new");

  // To another file system a move copies, and the source stays.
  const std::string elsewhere = OnAnotherFileSystem("lindavox-move");
  if (elsewhere.empty()) GTEST_SKIP() << "no second file system at /dev/shm";
  EXPECT_EQ(FILE_Copy(elsewhere.c_str(), Path("moved").c_str(), 1, 0, 0, nullptr), 1);
  EXPECT_EQ(ReadFile(elsewhere), "new");
  EXPECT_TRUE(FileExists(Path("moved")));
  ::unlink(elsewhere.c_str());
}

TEST_F(FilesTest, TruncateKeepsTimePermissionsAndNothingElse) {
  const struct {
    const char* name;
    uint32_t length;
    const char* left;
  } cases[] = {
      {"data.dat", 4, "0123"}, {"data.dat", 20, "0123456789"}, {"noext", 0, ""},
      {"x.TRU", 3, "012"},     {".profile", 5, "01234"},
  };
  Folder("sub.d");
  for (const auto& c : cases) {
    const std::string file = Make(std::string("sub.d/") + c.name);
    ::chmod(file.c_str(), 0600);
    SetModified(file, Utc(2024, 5, 17, 11, 45, 31));
    EXPECT_EQ(FILE_Truncate(file.c_str(), c.length), 1) << c.name;
    EXPECT_EQ(ReadFile(file), c.left) << c.name;
    EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 5, 17, 11, 45, 31)) << c.name;
    struct stat status {};
    ::stat(file.c_str(), &status);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << c.name;
    EXPECT_EQ(FILE_Exist(Path("sub.d").c_str(), "*TRU*", nullptr), c.name[0] == 'x' ? 1 : 0);
    ::unlink(file.c_str());
  }
  EXPECT_FALSE(FileExists(Path("sub.TRU"))) << "the temporary file stays in the file's folder";
  EXPECT_FALSE(FileExists("TRU"));

  // A symbolic link: the file it names is truncated, the link stays.
  const std::string target = Make("target.txt");
  ASSERT_EQ(::symlink(target.c_str(), Path("link.txt").c_str()), 0);
  EXPECT_EQ(TruncateFile(Path("link.txt").c_str(), 2), 1);
  EXPECT_EQ(ReadFile(target), "01");
  struct stat link {};
  EXPECT_TRUE(::lstat(Path("link.txt").c_str(), &link) == 0 && S_ISLNK(link.st_mode));

  // Whatever lies at the temporary file's name is never touched: the temporary file is created
  // anew under another name (and gone afterwards).
  const std::string ten = Make("ten.dat");
  WriteFile(Path("ten.TRU"), "unrelated");
  const std::string victim = Make("victim", "victim");
  ASSERT_EQ(::symlink(victim.c_str(), Path("nine.TRU").c_str()), 0);
  const std::string nine = Make("nine.dat");
  EXPECT_EQ(FILE_Truncate(ten.c_str(), 4), 1);
  EXPECT_EQ(FILE_Truncate(nine.c_str(), 3), 1);
  EXPECT_EQ(ReadFile(ten), "0123");
  EXPECT_EQ(ReadFile(nine), "012");
  EXPECT_EQ(ReadFile(Path("ten.TRU")), "unrelated");
  EXPECT_EQ(ReadFile(victim), "victim");
  EXPECT_EQ(FILE_Exist(Dir().c_str(), "*.TRU.*", nullptr), 0);
}

TEST_F(FilesTest, FailedTruncationChangesNothing) {
  const std::string file = Make("card.dat");
  const auto unchanged = [&](const char* why) {
    EXPECT_EQ(ReadFile(file), "0123456789") << why;
    EXPECT_FALSE(FileExists(Path("card.TRU"))) << why;
  };
  {
    testsupport::OtherProcess holder = HeldElsewhere(file);
    EXPECT_EQ(FILE_Truncate(file.c_str(), 4), 0);
    unchanged("held elsewhere");
  }
  for (FileOp failing : {FileOp::kRename, FileOp::kWrite, FileOp::kRead, FileOp::kClose}) {
    ScopedFaultHook hook(
        [failing](FileOp op, std::string_view) { return op == failing ? EIO : 0; });
    EXPECT_EQ(FILE_Truncate(file.c_str(), 4), 0);
    unchanged("injected fault");
  }
  EXPECT_EQ(FILE_Truncate(Path("missing.dat").c_str(), 4), 0);
  EXPECT_FALSE(FileExists(Path("missing.TRU")));
}

TEST_F(FilesTest, AppendOpensTheFileTheCallerNamed) {
  const std::string source = Make("source.txt", "cd");
  Make("lower.txt", "ab");
  std::vector<char> destination = Writable(Path("lower.txt"));
  EXPECT_EQ(FILE_Append(destination.data(), source.c_str()), 1);
  EXPECT_EQ(ReadFile(Path("lower.txt")), "abcd");
  EXPECT_FALSE(FileExists(Path("LOWER.TXT")));
  EXPECT_EQ(std::string(destination.data()).substr(Dir().size()), "LOWER.TXT");

  std::vector<char> created = Writable(Path("new.txt"));
  EXPECT_EQ(FileAppend(created.data(), source.c_str()), 1);
  EXPECT_EQ(ReadFile(Path("new.txt")), "cd");
  std::vector<char> self = Writable(source);
  EXPECT_EQ(FILE_Append(self.data(), source.c_str()), 1) << "a file appended to itself doubles";
  EXPECT_EQ(ReadFile(source), "cdcd");

  std::vector<char> untouched = Writable(Path("untouched.txt"));
  EXPECT_EQ(FILE_Append(untouched.data(), Path("missing").c_str()), 0);
  EXPECT_FALSE(FileExists(Path("untouched.txt")));
  ScopedFaultHook hook(
      [](FileOp op, std::string_view) { return op == FileOp::kWrite ? ENOSPC : 0; });
  std::vector<char> full = Writable(Path("lower.txt"));
  EXPECT_EQ(FILE_Append(full.data(), source.c_str()), 0) << "a failed write is no success";
}

TEST_F(FilesTest, SetsPackedTimesOnTheFile) {
  platform::ScopedWallClock clock({Utc(2024, 5, 17, 11, 45, 31), 0});
  const std::string file = Make("f.txt");
  const auto local = [&] { return LocalModified(file); };

  EXPECT_EQ(FILE_SetTime(file.c_str(), Packed(2024, 1, 2, 3, 4, 0) | 31), 1);
  EXPECT_EQ(local().tm_min, 4);
  EXPECT_EQ(local().tm_sec, 2) << "62 seconds stay in their minute";
  EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 1, 2, 2, 4, 2));
  EXPECT_EQ(FILE_SetTime(Path("created.txt").c_str(), Packed(2024, 1, 2, 3, 4, 6)), 1);
  EXPECT_EQ(ReadFile(Path("created.txt")), "");

  EXPECT_EQ(FILE_SetSeconds(file.c_str(), 59), 1);
  EXPECT_EQ(local().tm_sec, 58);
  EXPECT_EQ(FILE_SetSeconds(file.c_str(), 58), 0);
  EXPECT_EQ(SetFileSeconds(file.c_str(), 10), 1);
  EXPECT_EQ(local().tm_sec, 10);
  EXPECT_EQ(FILE_SetSeconds(Path("nothing.txt").c_str(), 10), 0);
  EXPECT_FALSE(FileExists(Path("nothing.txt")));

  EXPECT_EQ(FILE_SetRelativeTime(file.c_str(), 3600, -1, -1), 1);
  EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 5, 17, 12, 45, 30));
  EXPECT_EQ(FILE_SetRelativeTime(file.c_str(), -86400, 5, 7), 1);
  EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 5, 16, 5, 45, 10));
  EXPECT_EQ(SetRelativeFileTime(file.c_str(), 0, 0), 1);
  EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 5, 17, 11, 45, 0));

  EXPECT_EQ(MySetFileTime(file.c_str(), 7, 8, 9), 1);
  EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 5, 17, 5, 8, 8));
  EXPECT_EQ(MySetFileTime(file.c_str(), -1, 0, -1), 1);
  EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 5, 17, 11, 0, 30));

  // A field outside its range is refused, as Windows refuses to convert it: nothing changes,
  // nothing is created (a caller's FILE_SetTime(x, FILE_GetTime(missing)) fails).
  const std::string absent = Path("absent.txt");
  for (const PackedDateTime impossible :
       {0u, FILE_GetTime(absent.c_str()), Packed(2024, 13, 2, 3, 4), Packed(2024, 0, 2, 3, 4),
        Packed(2024, 1, 0, 3, 4), Packed(2023, 2, 29, 3, 4), Packed(2024, 4, 31, 3, 4),
        Packed(2024, 1, 2, 24, 0), Packed(2024, 1, 2, 31, 4), Packed(2024, 1, 2, 3, 60)}) {
    SCOPED_TRACE(impossible);
    EXPECT_EQ(FILE_SetTime(file.c_str(), impossible), 0);
    EXPECT_EQ(FILE_SetTime(absent.c_str(), impossible), 0);
  }
  EXPECT_EQ(FILE_SetTime(file.c_str(), Packed(2024, 2, 29, 23, 59, 58)), 1) << "a leap day";
  EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 2, 29, 22, 59, 58));
  for (const auto& [hour, minute, seconds] :
       {std::tuple{24, 0, 0}, {32, 0, 0}, {-2, 0, 0}, {7, 60, 0}, {7, 64, 0}, {7, 8, 60}}) {
    SCOPED_TRACE(std::to_string(hour) + ":" + std::to_string(minute) + ":" +
                 std::to_string(seconds));
    EXPECT_EQ(MySetFileTime(file.c_str(), hour, minute, seconds), 0);
    EXPECT_EQ(MySetFileTime(absent.c_str(), hour, minute, seconds), 0);
  }
  EXPECT_EQ(Modified(file).tv_sec, Utc(2024, 2, 29, 22, 59, 58));
  EXPECT_FALSE(FileExists(absent));
}

TEST_F(FilesTest, FindsUnusedNames) {
  Make("LOG00000.TXT");
  Make("ABCDEF00.dat");
  Make("ABCDEFFF.dat");
  Make("lower.TXT");
  for (char digit = '0'; digit <= '9'; ++digit) Make(std::string("X") + digit + ".tmp");
  char out[260];
  std::vector<char> dir = Writable(Dir());
  char* d = dir.data();
  const struct {
    std::function<char*()> find;
    std::string expected;  // "" for null
  } cases[] = {
      {[&] { return FILE_FindNewName(out, d, "LOG", "TXT", 0, 0, 0); }, "LOG00001.TXT"},
      {[&] { return FILE_FindNewName(out, d, "LOG", "TXT", 0, 0, 5); }, "LOG00005.TXT"},
      {[&] { return FILE_FindNewName(out, d, "ABCDEF", "txt", 1, 0, 0); }, "ABCDEF01.txt"},
      {[&] { return FILE_FindNewName(out, d, "ABCDEF", "dat", 0, 0, 0xFF); }, ""},
      {[&] { return FILE_FindNewName(out, d, "ABCDEFGHIJ", "x", 0, 0, 0); }, "ABCDEFGHIJ000.x"},
      {[&] { return FILE_FindNewName(out, d, "log", "txt", 0, 1, 0); }, "LOG00001.TXT"},
      {[&] { return FILE_FindNewName_1(out, d, "X", "tmp", 0); }, ""},
      {[&] { return FILE_FindNewName_1(out, d, "X", "dat", 3); }, "X3.dat"},
      {[&] { return FindNewFileName(out, d, "log", "txt", 0); }, "LOG00001.TXT"},
      {[&] { return FindNewFileName(out, d, "lower", "", 1); }, "LOWER000."},
      {[&] { return FindNewFileName(out, d, "ABCDEFGH", "txt", 0); }, ""},
  };
  for (const auto& c : cases) {
    const char* found = c.find();
    EXPECT_EQ(found ? std::string(found) : std::string(),
              c.expected.empty() ? "" : Path(c.expected))
        << c.expected;
  }
  // The folder is made first; its spelling is kept.
  std::vector<char> missing = Writable(Path("New/Sub/"));
  ASSERT_NE(FILE_FindNewName(out, missing.data(), "a", "b", 0, 1, 0), nullptr);
  EXPECT_STREQ(out, Path("New/Sub/A0000000.B").c_str());
}

TEST_F(FilesTest, TimeBasedNamesMoveOnWhenAPrefixIsUsedUp) {
  const int64_t now = 0x61234567;
  platform::ScopedWallClock clock({now, 0});
  char out[260];
  std::vector<char> dir = Writable(Dir());
  EXPECT_EQ(std::string(FILE_FindNewNameT(out, dir.data(), "log", 0, 'Q')), Path("Q3456700.log"));
  EXPECT_EQ(std::string(FindNewFileNameT(out, dir.data(), "log", 0)), Path("23456700.log"));
  for (int counter = 0; counter < 256; ++counter) {
    char name[16];
    std::snprintf(name, sizeof name, "Q34567%02X.x", counter);
    Make(name);
  }
  EXPECT_EQ(std::string(FILE_FindNewNameT(out, dir.data(), "log", 1, 'Q')), Path("Q3456800.log"));
  std::vector<char> tooLong = Writable(Path(std::string(250, 'd') + "/"));
  EXPECT_STREQ(FILE_FindNewNameT(out, tooLong.data(), "log", 0, 'Q'), "");
}

TEST_F(FilesTest, FullNameSpellsTheFileAsItsFolderDoes) {
  Folder("Data");
  Make("Data/ReadMe.TXT");
  Make("Data/a.txt");
  Make("Data/A.TXT");
  const std::string asked = Path("Data/README.txt");
  EXPECT_STREQ(FILE_GetFullName(asked.c_str()), Path("Data/ReadMe.TXT").c_str());
  EXPECT_STREQ(GetFullFilename(Path("Data/A.TXT").c_str()), Path("Data/A.TXT").c_str());
  const std::string unknown = Path("Data/none.txt");
  EXPECT_EQ(FILE_GetFullName(unknown.c_str()), unknown.c_str()) << "the argument itself";
}

class TreeTest : public FilesTest {
 protected:
  // top/ a.log(2) b.txt(3) sub/c.log(5) sub/deep/d.LOG(7) daemon/e.log(11)
  void SetUp() override {
    FilesTest::SetUp();
    Folder("top");
    Folder("top/sub");
    Folder("top/sub/deep");
    Folder("top/daemon");
    SetModified(Make("top/a.log", "aa"), Utc(2020, 1, 1));
    SetModified(Make("top/b.txt", "bbb"), Utc(2019, 6, 1));
    SetModified(Make("top/sub/c.log", "ccccc"), Utc(2018, 1, 1));
    Make("top/sub/deep/d.LOG", "ddddddd");
    Make("top/daemon/e.log", std::string(11, 'e'));
  }
};

TEST_F(TreeTest, SizeCountsByLevelFilterAndDaemonFolders) {
  const FILETIME late{0xFFFFFFFF, 0x7FFFFFFF};
  const struct {
    int32_t level;
    const char* filter;
    int32_t total, files, outside, matches;
    int64_t oldest;  // 0: unchanged
  } cases[] = {
      {1, nullptr, 28, 2, 2, 5, Utc(2019, 6, 1)},
      {2, nullptr, 28, 2, 1, 5, Utc(2018, 1, 1)},
      {0, nullptr, 28, 0, 0, 5, 0},
      {1, ".LOG", 25, 1, 1, 4, Utc(2020, 1, 1)},
      {3, ".txt", 3, 0, 0, 1, 0},
  };
  for (const auto& c : cases) {
    int32_t files = 0, outside = 0, matches = 0;
    FILETIME oldest = late;
    EXPECT_EQ(FILE_GetTreeSize(Path("top").c_str(), c.level, 0, &files, &oldest, &outside, c.filter,
                               &matches),
              c.total);
    EXPECT_EQ(files, c.files) << c.level;
    EXPECT_EQ(outside, c.outside) << c.level;
    EXPECT_EQ(matches, c.matches) << c.level;
    const uint64_t ticks =
        (static_cast<uint64_t>(oldest.dwHighDateTime) << 32) | oldest.dwLowDateTime;
    const uint64_t expected =
        c.oldest ? (static_cast<uint64_t>(c.oldest) + 11644473600u) * 10000000u
                 : (static_cast<uint64_t>(late.dwHighDateTime) << 32) | late.dwLowDateTime;
    EXPECT_EQ(ticks, expected) << c.level;
  }
  EXPECT_EQ(
      FILE_GetTreeSize(Path("top/").c_str(), 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
      28);
}

TEST_F(TreeTest, CopyAndRemoveWholeTrees) {
  ASSERT_EQ(FILE_CopyTree(Path("copy/of").c_str(), Path("top").c_str()), 1);
  EXPECT_EQ(ReadFile(Path("copy/of/sub/deep/d.LOG")), "ddddddd");
  EXPECT_EQ(Modified(Path("copy/of/sub/c.log")).tv_sec, Utc(2018, 1, 1));
  EXPECT_EQ(
      FILE_GetTreeSize(Path("copy/of").c_str(), 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
      28);
  EXPECT_EQ(FILE_CopyTree(Path("copy/2").c_str(), Path("missing").c_str()), 0);

  std::vector<char> copy = Writable(Path("copy/of"));
  EXPECT_EQ(FILE_DelFullTree(copy.data(), 1), 5);
  EXPECT_FALSE(FileExists(Path("copy/of")));

  // Only what was removed counts; a file held elsewhere keeps its folders.
  std::vector<char> top = Writable(Path("top/"));
  testsupport::OtherProcess holder = HeldElsewhere(Path("top/sub/c.log"));
  EXPECT_EQ(FILE_DelFullTree(top.data(), 0), 2 + 3 + 7 + 11);
  EXPECT_EQ(ReadFile(Path("top/sub/c.log")), "ccccc");
  EXPECT_FALSE(FileExists(Path("top/sub/deep")));
  EXPECT_FALSE(FileExists(Path("top/daemon")));
}

TEST_F(TreeTest, TreeFunctionsNeverFollowLinksToFolders) {
  Folder("outside");
  Make("outside/keep.txt", "keep");
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("top/link").c_str()), 0);
  ASSERT_EQ(::symlink(Path("top").c_str(), Path("top/sub/loop").c_str()), 0);
  EXPECT_EQ(
      FILE_GetTreeSize(Path("top").c_str(), 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 28);
  EXPECT_EQ(FILE_CopyTree(Path("copy").c_str(), Path("top").c_str()), 0) << "incomplete";
  EXPECT_EQ(ReadFile(Path("copy/sub/c.log")), "ccccc");
  std::vector<char> top = Writable(Path("top"));
  EXPECT_EQ(FILE_DelFullTree(top.data(), 1), 5 + 2);
  EXPECT_FALSE(FileExists(Path("top")));
  EXPECT_EQ(ReadFile(Path("outside/keep.txt")), "keep");

  char empty[] = "";
  char root[] = "//";
  EXPECT_EQ(FILE_DelFullTree(empty, 1), 0);
  EXPECT_EQ(FILE_DelFullTree(root, 1), 0);

  // A link given as the tree is not entered either: the full removal removes the link itself,
  // the removal of empty folders leaves it, and the target's contents stay.
  Folder("victim");
  Folder("victim/hollow");
  Make("victim/v.txt", "v");
  for (const char* given : {"to-victim", "to-victim/"}) {
    SCOPED_TRACE(given);
    ASSERT_EQ(::symlink(Path("victim").c_str(), Path("to-victim").c_str()), 0);
    std::vector<char> link = Writable(Path(given));
    EXPECT_EQ(FILE_DelEmptyTree(link.data()), 1);
    EXPECT_TRUE(FileExists(Path("to-victim")));
    EXPECT_EQ(FILE_DelFullTree(link.data(), 1), 1);
    EXPECT_FALSE(FileExists(Path("to-victim")));
    EXPECT_EQ(ReadFile(Path("victim/v.txt")), "v");
    EXPECT_TRUE(FileExists(Path("victim/hollow")));
  }
}

TEST_F(TreeTest, DelEmptyTreeRemovesOnlyEmptyFolders) {
  Folder("top/empty");
  Folder("top/empty/inner");
  ::unlink(Path("top/sub/deep/d.LOG").c_str());
  std::vector<char> top = Writable(Path("top"));
  EXPECT_EQ(FILE_DelEmptyTree(top.data()), 1);
  EXPECT_FALSE(FileExists(Path("top/empty")));
  EXPECT_FALSE(FileExists(Path("top/sub/deep")));
  EXPECT_EQ(ReadFile(Path("top/sub/c.log")), "ccccc");
  EXPECT_TRUE(FileExists(Path("top/daemon/e.log")));
}

TEST_F(FilesTest, ScanForWordsReportsTheFirstLineWithEither) {
  const std::string file = Make("scan.log", "one\r\ntwo\r\nsome warn here\r\nx\r\nan error\r\n" +
                                                std::string(997, 'y') + "split\r\n");
  const struct {
    const char* first;
    const char* second;
    int32_t result;
  } cases[] = {
      {"ERROR", "WARN", 2},  {"WARN", "ERROR", 1},  {"ERROR", nullptr, 1}, {"warn", nullptr, 0},
      {nullptr, nullptr, 0}, {"SPLIT", nullptr, 0}, {"LIT", nullptr, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FILE_ScanForWords(file.c_str(), c.first, c.second), c.result)
        << (c.first ? c.first : "-");
  }
  EXPECT_EQ(FILE_ScanForWords(Path("missing").c_str(), "A", "B"), 0);
}

// Pipes, devices, overlong paths and missing folders: every function gives its failure result
// at once, and nothing outside the test's folder changes.
TEST_F(FilesTest, NoPathBlocksOrOverruns) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
  const std::string good = Make("good.txt");
  const struct {
    std::string path;
    bool isFolderToBe;  // a missing folder: the functions that make folders may make it
  } cases[] = {
      {Path("fifo"), false},
      {"/dev/zero", false},
      {Path(std::string(10000, 'p')), false},
      {Path("missing/dir/file"), true},
  };
  for (const auto& c : cases) {
    const std::optional<bool> finished = testsupport::RunWithin(10s, [&] {
      const char* p = c.path.c_str();
      std::vector<char> w = Writable(c.path);
      std::vector<char> appendTo = Writable(Path("target.txt"));
      char out[260];
      int32_t size = 0;
      FILETIME oldest{};
      bool ok = FILE_GetSize(p) == 0 && FILE_GetTime(p) == 0 && FILE_GetSeconds(p, -7) == -7 &&
                FILE_Exist(p, "x", &size) == 0 && ExistFile(p, nullptr) == 0 &&
                FILES_TestExclusive(p, nullptr) == 0 && FILE_DirectoryTest(w.data(), 0) == 0 &&
                FILE_Copy(Path("c").c_str(), p, 0, 1, 0, nullptr) == 0 &&
                FILE_Copy(p, good.c_str(), 0, 1, 0, nullptr) == 0 &&
                FileCopy(p, good.c_str(), 0, 1) == 0 && FILE_Truncate(p, 1) == 0 &&
                FILE_Append(appendTo.data(), p) == 0 && FILE_Append(w.data(), good.c_str()) == 0 &&
                FILE_SetTime(p, 0x58B16DAF) == 0 && FILE_SetSeconds(p, 10) == 0 &&
                MySetFileTime(p, 1, 2, 3) == 0 && FILE_GetFullName(p) == p &&
                FILE_GetTreeSize(p, 1, 0, &size, &oldest, &size, nullptr, &size) == 0 &&
                FILE_CopyTree(Path("tree").c_str(), p) == 0 && FILE_ScanForWords(p, "A", "B") == 0;
      if (!c.isFolderToBe) {
        w = Writable(c.path);
        ok = ok && FILE_DirectoryTest(w.data(), 2) == 0 &&
             FILE_FindNewName(out, w.data(), "a", "b", 0, 0, 0) == nullptr &&
             FILE_CopyTree(p, Path("config").c_str()) == 0;
      }
      return ok && size == 0 && !FileExists(Path("c")) && !FileExists(Path("target.txt"));
    });
    EXPECT_EQ(finished, std::optional<bool>(true)) << c.path.substr(0, 80);
  }
  EXPECT_EQ(ReadFile(good), "0123456789");
  struct stat fifo {};
  EXPECT_TRUE(::stat(Path("fifo").c_str(), &fifo) == 0 && S_ISFIFO(fifo.st_mode));
}

}  // namespace
