#include "platform/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "testsupport/file_test.h"
#include "testsupport/other_process.h"
#include "testsupport/temp_dir.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr const char* kDefault = "(default)";

std::set<std::string> NamesIn(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

ino_t InodeOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_ino;
}

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mode & 07777;
}

// Sets or clears an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class ProfileTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    ini_ = Path("test.ini");
  }

  // What a read returns, checked against the terminated text in the buffer.
  std::string Get(const char* section, const char* key, const char* def = kDefault) {
    return GetFrom(ini_, section, key, def);
  }
  static std::string GetFrom(const std::string& file, const char* section, const char* key,
                             const char* def = kDefault) {
    char buffer[256];
    uint32_t count = ReadProfileString(section, key, def, buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(count, std::strlen(buffer));
    return std::string(buffer, count);
  }
  bool Put(const char* section, const char* key, const char* value) {
    return WriteProfileString(section, key, value, ini_.c_str());
  }
  // The whole buffer after a read into `size` bytes, with one guard byte behind it.
  std::string Raw(const char* section, const char* key, uint32_t size, uint32_t* count,
                  const char* def = "") {
    std::string buffer(size + 1, 'X');
    *count = ReadProfileString(section, key, def, buffer.data(), size, ini_.c_str());
    EXPECT_EQ(buffer.back(), 'X') << "wrote past the size";
    buffer.pop_back();
    return buffer;
  }

  std::string ini_;
};

TEST_F(ProfileTest, ParsesSectionsKeysCommentsAndDuplicates) {
  WriteFile(ini_,
            "orphan=before any section\r\n"
            "[ section1 ]\r\n"
            "key1 = value1 \r\n"
            "\tTabbed\t=\tt v\t\r\n"
            "empty=\r\n"
            "semi=v ;x\r\n"
            ";commented=c\r\n"
            "  ; indented=c\r\n"
            "#hash=h\r\n"
            "noequals\r\n"
            "key1=second\r\n"
            "a=b=c\r\n"
            "=nameless\r\n"
            "[s]k=v\r\n"
            "s]\r\n"
            "inS=1\r\n"
            "[unclosed \r\n"
            "u=2\r\n"
            "[SECTION1]\r\n"
            "dup=second section\r\n"
            "[]\r\n"
            "e=empty section\r\n");
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"section1", "key1", "value1"},
      {"SECTION1", "KEY1", "value1"},
      {"  section1 ", " key1  ", "value1"},  // the caller's spaces are stripped
      {"\tsection1", "key1", kDefault},      // but not its tabs
      {"section1", "tabbed", "t v"},
      {"section1", "empty", ""},
      {"section1", "semi", "v ;x"},
      {"section1", ";commented", kDefault},
      {"section1", "#hash", "h"},
      {"section1", "noequals", kDefault},
      {"section1", "a", "b=c"},
      {"section1", "dup", kDefault},  // first section only
      {"section1", "", kDefault},
      {"s", "k", kDefault},  // rest of a header is ignored
      {"s", "inS", "1"},     // "s]" is not a header
      {"unclosed", "u", "2"},
      {"", "e", "empty section"},
      {"", "orphan", kDefault},
      {"section1", "orphan", kDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(Get(c.section, c.key), c.expected);
  }
}

TEST_F(ProfileTest, EveryLineEndEndsALine) {
  const std::vector<std::string> lineEnds[] = {
      {"\r\n"}, {"\n"}, {"\r"}, {"\r", "\n", "\r\n", "\n\r"}};
  for (const auto& ends : lineEnds) {
    const char* lines[] = {"[A]", "k1=1", "", "[B]", "k2=2", "k3=3"};
    std::string text;
    for (size_t i = 0; i < std::size(lines); ++i) text += lines[i] + ends[i % ends.size()];
    SCOPED_TRACE(::testing::PrintToString(text));
    WriteFile(ini_, text);
    EXPECT_EQ(Get("A", "k1"), "1");
    EXPECT_EQ(Get("A", "k2"), kDefault);
    EXPECT_EQ(Get("B", "k2"), "2");
    EXPECT_EQ(Get("B", "k3"), "3");
    uint32_t count = 0;
    EXPECT_EQ(Raw(nullptr, nullptr, 10, &count), "A\0B\0\0XXXXX"s);
  }
}

TEST_F(ProfileTest, DropsBlanksAndOnePairOfQuotes) {
  const std::pair<const char*, const char*> cases[] = {
      {"  \"  v  \"  ", "  v  "},
      {"'\"v\"'", "\"v\""},
      {"\"v'", "\"v'"},
      {"\"hello\" world", "\"hello\" world"},
      {"\"", "\""},
      {"\"\"", ""},
      {"''", ""},
      {"'v'", "v"},
      {"\"a\"b\"", "a\"b"},
      {"\t 'v '\t", "v "},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value);
    WriteFile(ini_, "[Q]\r\nk=" + std::string(value) + "\r\n");
    EXPECT_EQ(Get("Q", "k"), expected);
  }
}

TEST_F(ProfileTest, UsesTheDefaultOnlyForMissingThings) {
  // Missing file: the default loses trailing spaces only.
  EXPECT_EQ(Get("S", "k", "default  "), "default");
  EXPECT_EQ(Get("S", "k", "  lead  "), "  lead");
  EXPECT_EQ(Get("S", "k", "tab\t"), "tab\t");
  EXPECT_EQ(Get("S", "k", nullptr), "");
  EXPECT_EQ(Get("S", "k", "   "), "");

  WriteFile(ini_, "[S]\r\nempty=\r\nquoted=\"\"\r\n");
  EXPECT_EQ(Get("S", "empty"), "");
  EXPECT_EQ(Get("S", "quoted"), "");
  EXPECT_EQ(Get("S", "missing"), kDefault);
  EXPECT_EQ(Get("T", "empty"), kDefault);
  EXPECT_EQ(GetFrom("", "S", "empty", "d "), "d");

  char buffer[8];
  EXPECT_EQ(ReadProfileString("S", "k", "dflt", buffer, sizeof buffer, nullptr), 4u);
  EXPECT_STREQ(buffer, "dflt");
}

TEST_F(ProfileTest, ComparesNamesCaseInsensitivelyOverWindows1252Letters) {
  struct Case {
    const char* upper;
    const char* lower;
    bool same;
  } cases[] = {
      {"A", "a", true},        {"Z", "z", true},        {"\xC0", "\xE0", true},
      {"\xC4", "\xE4", true},  {"\xDE", "\xFE", true},  {"\x8A", "\x9A", true},
      {"\x8C", "\x9C", true},  {"\x8E", "\x9E", true},  {"\x9F", "\xFF", true},
      {"\xD7", "\xF7", false},  // multiplication and division sign are no letters
      {"\xDF", "\xFF", false}, {"[", "{", false},       {"@", "`", false},
      {"\x80", "\xA0", false}, {"\xBF", "\xDF", false}, {"\xC4", "A", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.upper) + "/" + c.lower));
    std::string expected = c.same ? "1" : kDefault;
    WriteFile(ini_, std::string("[S") + c.upper + "]\r\nK" + c.upper + "=1\r\n");
    EXPECT_EQ(Get(("s" + std::string(c.lower)).c_str(), ("k" + std::string(c.lower)).c_str()),
              expected);
    WriteFile(ini_, std::string("[S") + c.lower + "]\r\nK" + c.lower + "=1\r\n");
    EXPECT_EQ(Get(("s" + std::string(c.upper)).c_str(), ("k" + std::string(c.upper)).c_str()),
              expected);
  }
}

TEST_F(ProfileTest, CutsValuesToTheBufferSize) {
  WriteFile(ini_, "[S]\r\nk=hello\r\n");
  uint32_t count = 0;
  EXPECT_EQ(Raw("S", "k", 6, &count), "hello\0"s);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(Raw("S", "k", 5, &count), "hell\0"s);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(Raw("S", "k", 1, &count), "\0"s);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Raw("S", "k", 0, &count), "");  // the guard byte proves nothing was written
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Raw("S", "x", 4, &count, "defaults"), "def\0"s);
  EXPECT_EQ(count, 3u);
}

TEST_F(ProfileTest, ListsSectionAndKeyNames) {
  WriteFile(ini_,
            "top=0\r\n[One]\r\na=1\r\n;c=2\r\nnoeq\r\nbb=3\r\n=x\r\na=dup\r\n"
            "[]\r\n[Two]\r\n[one]\r\nlater=1\r\n");
  uint32_t count = 0;
  EXPECT_EQ(Raw(nullptr, "ignored", 20, &count), "One\0Two\0one\0\0XXXXXXX"s);
  EXPECT_EQ(count, 12u);
  EXPECT_EQ(Raw("ONE", nullptr, 10, &count), "a\0bb\0a\0\0XX"s);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(Raw("Two", nullptr, 4, &count, "def"), "\0XXX"s);  // present, but no keys
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Raw("Three", nullptr, 5, &count, "def"), "def\0X"s);
  EXPECT_EQ(count, 3u);

  // Overflow: the names are cut at size - 2 and closed with two terminators. Windows keeps one
  // byte in reserve for section names, so a list that fills the buffer exactly counts as cut
  // (same bytes, size - 2); key names may fill it.
  const std::pair<uint32_t, std::string> overflows[] = {
      {14, "One\0Two\0one\0\0X"s},
      {13, "One\0Two\0one\0\0"s},
      {12, "One\0Two\0on\0\0"s},
      {6, "One\0\0\0"s},
      {5, "One\0\0"s},
      {2, "\0\0"s},
      {1, "\0"s},
  };
  for (const auto& [size, expected] : overflows) {
    SCOPED_TRACE(size);
    EXPECT_EQ(Raw(nullptr, nullptr, size, &count), expected);
    EXPECT_EQ(count, size == 14 ? 12u : size < 2 ? 0u : size - 2);
  }
  EXPECT_EQ(Raw("ONE", nullptr, 8, &count), "a\0bb\0a\0\0"s);  // key names fill it exactly
  EXPECT_EQ(count, 7u);

  // Without the file both lists give the default.
  std::string missing = Path("missing.ini");
  EXPECT_EQ(GetFrom(missing, nullptr, nullptr, "d"), "d");
  EXPECT_EQ(GetFrom(missing, "One", nullptr, "d"), "d");
}

TEST_F(ProfileTest, ReadsNumbers) {
  const std::pair<std::string, uint32_t> cases[] = {
      {"1", 1},
      {"+1", 1},
      {"-1", 4294967295u},
      {"4294967296", 0},
      {"4294967295", 4294967295u},
      {"12345678901", 3755744309u},
      {"42A94967297", 42},
      {"B4294967297", 0},
      {"  7  ", 7},
      {"\"12\"", 12},
      {"' -3'", 4294967293u},
      {"0x1A", 0},
      {"", 0},
      {"+-1", 0},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value);
    WriteFile(ini_, "[N]\r\nk=" + value + "\r\n");
    EXPECT_EQ(ReadProfileInt("N", "k", 77, ini_.c_str()), expected);
  }
  EXPECT_EQ(ReadProfileInt("N", "missing", 77, ini_.c_str()), 77u);
  EXPECT_EQ(ReadProfileInt("M", "k", 77, ini_.c_str()), 77u);
  EXPECT_EQ(ReadProfileInt("N", nullptr, 77, ini_.c_str()), 77u);
  EXPECT_EQ(ReadProfileInt("N", "k", 77, Path("none.ini").c_str()), 77u);
}

// One write on a file (nullopt: no file) and the exact bytes it leaves.
struct WriteCase {
  std::optional<std::string> before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

class ProfileWriteTest : public ProfileTest {
 protected:
  void Check(const std::vector<WriteCase>& cases) {
    for (const WriteCase& c : cases) {
      SCOPED_TRACE(::testing::PrintToString(c.before.value_or("(no file)")));
      std::filesystem::remove(ini_);
      if (c.before) WriteFile(ini_, *c.before);
      EXPECT_TRUE(Put(c.section, c.key, c.value));
      EXPECT_EQ(ReadFile(ini_), c.after);
      EXPECT_EQ(NamesIn(Dir()), (std::set<std::string>{"config", "test.ini", ".test.ini.lock"}));
    }
  }
};

TEST_F(ProfileWriteTest, AddsSectionsAndKeys) {
  Check({
      {std::nullopt, "Sec", "Key", "Val", "[Sec]\r\nKey=Val\r\n"},
      {"", "Sec", "Key", "Val", "[Sec]\r\nKey=Val\r\n"},
      {"[A]\r\na=1\r\n", " B  ", "  b ", " v ", "[A]\r\na=1\r\n[B]\r\nb= v \r\n"},
      {"x=1\r\n[A]\r\na=1", "B", "b", "2", "x=1\r\n[A]\r\na=1\r\n[B]\r\nb=2\r\n"},
      {"[A]\r\na=1\r\n\r\n", "B", "b", "2", "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n"},
      {"[A]\ra=1\r", "B", "b", "2", "[A]\ra=1\r[B]\r\nb=2\r\n"},
      {"[A]\na=1\n", "B", "b", "2", "[A]\na=1\n[B]\r\nb=2\r\n"},
      {"[A]\r\n", "A", "e", "", "[A]\r\ne=\r\n"},
      {"[A]", "a", "k", "v", "[A]\r\nk=v\r\n"},
      {"[A]\na=1", "A", "n", "v", "[A]\na=1\r\nn=v\r\n"},
      // After the last key line of the first matching section; what follows it stays behind.
      {"[A]\r\na=1\r\n; c\r\n\r\n[B]\r\nb=1\r\n", "a", "n", "v",
       "[A]\r\na=1\r\nn=v\r\n; c\r\n\r\n[B]\r\nb=1\r\n"},
      {"[A]\r\n; c\r\nnoeq\r\n=x\r\n[B]\r\n", "a", "n", "v",
       "[A]\r\nn=v\r\n; c\r\nnoeq\r\n=x\r\n[B]\r\n"},
      {"[A]\r\na=1\r\n[B]\r\n[a]\r\nx=1\r\n", "A", "n", "v",
       "[A]\r\na=1\r\nn=v\r\n[B]\r\n[a]\r\nx=1\r\n"},
      {"n=0\r\n[A]\r\n;n=c\r\n", "A", "n", "v", "n=0\r\n[A]\r\nn=v\r\n;n=c\r\n"},
      {"\0\xFF\x81\r\n[A]\r\n"s, "A", "k", "v", "\0\xFF\x81\r\n[A]\r\nk=v\r\n"s},
  });
}

TEST_F(ProfileWriteTest, ReplacesValuesInPlace) {
  Check({
      {"; top\r\n[SEC]\r\n  KEY = old \r\nother=1\r\n", "sec", "key", "new",
       "; top\r\n[SEC]\r\nKEY=new\r\nother=1\r\n"},
      {"[S]\nk=1\nz=2\n", "S", "K", "2", "[S]\nk=2\r\nz=2\n"},
      {"[S]\rk=1\rz=2", "S", "k", "2", "[S]\rk=2\r\nz=2"},
      {"[S]\r\nk=1", "S", "k", "22", "[S]\r\nk=22\r\n"},
      {"[S]\r\nk=1\r\n\nz=2\r\n", "S", "k", "9", "[S]\r\nk=9\r\n\nz=2\r\n"},
      {"[S]\r\nk=1\r\nk=2\r\n", "S", "k", "3", "[S]\r\nk=3\r\nk=2\r\n"},
      {"[S]\r\nk=1\r\n[s]\r\nk=2\r\n", "s", "k", "3", "[S]\r\nk=3\r\n[s]\r\nk=2\r\n"},
      {"[\xC4RGER]\r\n\xC4=1\r\n", "\xE4rger", "\xE4", "2", "[\xC4RGER]\r\n\xC4=2\r\n"},
      {"[S]\r\nk=\"quoted\"\r\n", "S", "k", "", "[S]\r\nk=\r\n"},
  });
}

TEST_F(ProfileWriteTest, DeletesKeysAndSections) {
  Check({
      {"[A]\r\na=1\r\nb=2\r\n", "A", "a", nullptr, "[A]\r\nb=2\r\n"},
      {"[A]\r\na=1\r\n[B]\r\n", "a", "A", nullptr, "[A]\r\n[B]\r\n"},
      {"[A]\r\na=1\r\na=2\r\n", "A", "a", nullptr, "[A]\r\na=2\r\n"},
      {"[A]\r\nx=0\r\na=1", "A", "a", nullptr, "[A]\r\nx=0\r\n"},
      // The lone CR before the dropped line must not join the LF after it.
      {"[A]\ra=1\r\n\nz=2\n", "A", "a", nullptr, "[A]\r\n\nz=2\n"},
      {"[A]\r\na=1\r\n;c\r\n\r\nb=2\r\njunk\r\n[B]\r\nx=1\r\n", "a", nullptr, nullptr,
       ";c\r\n\r\njunk\r\n[B]\r\nx=1\r\n"},
      {"[A]\r\na=1\r\n[B]\r\nb=1\r\n[C]\r\nc=1", "B", nullptr, nullptr, "[A]\r\na=1\r\n[C]\r\nc=1"},
      {"[A]\r\na=1\r\n[A]\r\na=2\r\n", "A", nullptr, nullptr, "[A]\r\na=2\r\n"},
      {"[A]\r\na=1\r\n[B]\r\nb=1", "B", nullptr, nullptr, "[A]\r\na=1\r\n"},
  });
}

TEST_F(ProfileTest, LeavesTheFileAloneWhenNothingChanges) {
  const std::string text = "[A]\r\na=1\r\n";
  WriteFile(ini_, text);
  ino_t inode = InodeOf(ini_);
  EXPECT_TRUE(Put("A", "b", nullptr));
  EXPECT_TRUE(Put("B", "a", nullptr));
  EXPECT_TRUE(Put("B", nullptr, nullptr));
  EXPECT_TRUE(Put("A", "a", "1"));
  EXPECT_EQ(InodeOf(ini_), inode) << "rewritten without a change";
  EXPECT_EQ(ReadFile(ini_), text);

  std::string missing = Path("missing.ini");
  EXPECT_TRUE(WriteProfileString("A", "a", nullptr, missing.c_str()));
  EXPECT_TRUE(WriteProfileString("A", nullptr, nullptr, missing.c_str()));
  EXPECT_FALSE(FileExists(missing));
}

TEST_F(ProfileTest, RejectsWritesThatCannotSucceed) {
  const std::string text = "[A]\r\na=1\r\n";
  WriteFile(ini_, text);
  EXPECT_FALSE(Put(nullptr, "a", "2"));
  EXPECT_FALSE(Put("A", "", "2"));
  EXPECT_FALSE(Put("A", "   ", nullptr));
  EXPECT_EQ(ReadFile(ini_), text);
  EXPECT_FALSE(WriteProfileString(nullptr, "a", "1", Path("new.ini").c_str()));
  EXPECT_FALSE(FileExists(Path("new.ini")));
  EXPECT_FALSE(WriteProfileString("A", "a", "1", ""));
  EXPECT_FALSE(WriteProfileString("A", "a", "1", nullptr));

  EXPECT_FALSE(WriteProfileString("A", "a", "1", Path("missing/x.ini").c_str()));
  EXPECT_FALSE(FileExists(Path("missing")));
  ::mkdir(Path("dir.ini").c_str(), 0755);
  EXPECT_FALSE(WriteProfileString("A", "a", "1", Path("dir.ini").c_str()));
  EXPECT_EQ(NamesIn(Path("dir.ini")), std::set<std::string>{});
}

TEST_F(ProfileTest, ResolvesBareNamesIntoTheConfigurationDirectory) {
  EXPECT_EQ(ResolveProfilePath("a.ini"), ConfigDir() + "a.ini");
  EXPECT_EQ(ResolveProfilePath("sub/a.ini"), "sub/a.ini");
  EXPECT_EQ(ResolveProfilePath("sub\\a.ini"), "sub\\a.ini");
  EXPECT_EQ(ResolveProfilePath(""), "");

  EXPECT_TRUE(WriteProfileString("S", "k", "v", "bare.ini"));
  EXPECT_EQ(ReadFile(ConfigDir() + "bare.ini"), "[S]\r\nk=v\r\n");
  EXPECT_EQ(GetFrom("bare.ini", "S", "k"), "v");

  EXPECT_TRUE(WriteUserProfileString("Lindavox", "n", " 12 "));
  EXPECT_EQ(ReadFile(ConfigDir() + "win.ini"), "[Lindavox]\r\nn= 12 \r\n");
  char buffer[8];
  EXPECT_EQ(ReadUserProfileString("lindavox", "N", "", buffer, sizeof buffer), 2u);
  EXPECT_STREQ(buffer, "12");
  EXPECT_EQ(ReadUserProfileInt("Lindavox", "n", 5), 12u);
  EXPECT_EQ(ReadUserProfileInt("Lindavox", "m", 5), 5u);

  // Names with a separator are relative to the current directory.
  std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(Dir());
  bool relative = WriteProfileString("S", "k", "v", "./rel.ini");
  bool backslash = WriteProfileString("S", "k", "v", "a\\b.ini");
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(relative);
  EXPECT_TRUE(backslash);
  EXPECT_EQ(ReadFile(Path("rel.ini")), "[S]\r\nk=v\r\n");
  EXPECT_TRUE(FileExists(Path("a\\b.ini")));
}

TEST_F(ProfileTest, FindsTheConfigurationDirectoryInTheEnvironment) {
  ScopedEnv home("HOME", "/home/u");
  {
    ScopedEnv own("LINDAVOX_CONFIG_DIR", "/x/y");
    EXPECT_EQ(ConfigDirectory(), "/x/y/");
  }
  {
    ScopedEnv own("LINDAVOX_CONFIG_DIR", "/x/y/");
    EXPECT_EQ(ConfigDirectory(), "/x/y/");
  }
  ScopedEnv own("LINDAVOX_CONFIG_DIR", "");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(ConfigDirectory(), "/xdg/lindavox/");
    EXPECT_EQ(ResolveProfilePath("win.ini"), "/xdg/lindavox/win.ini");
  }
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(ConfigDirectory(), "/home/u/.config/lindavox/");
}

// A fresh account: no configuration directory, no $XDG_CONFIG_HOME folder, only a home.
TEST_F(ProfileTest, FirstWriteCreatesTheConfigurationDirectory) {
  const mode_t oldMask = ::umask(022);
  ::mkdir(Path("home").c_str(), 0755);
  ScopedEnv home("HOME", Path("home").c_str());
  ScopedEnv own("LINDAVOX_CONFIG_DIR", nullptr);
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    char buffer[8];
    EXPECT_EQ(ReadUserProfileString("S", "k", "d", buffer, sizeof buffer), 1u);
    EXPECT_FALSE(FileExists(Path("home/.config"))) << "a read created something";
    EXPECT_TRUE(WriteUserProfileString("Lindavox", "quillet_pos", "1,2,3,4"));
    EXPECT_EQ(ReadFile(Path("home/.config/lindavox/win.ini")),
              "[Lindavox]\r\nquillet_pos=1,2,3,4\r\n");
    EXPECT_EQ(ModeOf(Path("home/.config")), 0700u);
    EXPECT_EQ(ModeOf(Path("home/.config/lindavox")), 0700u);
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", Path("xdg/config").c_str());
    EXPECT_TRUE(WriteProfileString("Common", "LogDirectory", "/var/log", "TARNWELL.INI"));
    EXPECT_TRUE(FileExists(Path("xdg/config/lindavox/TARNWELL.INI")));
    EXPECT_EQ(ModeOf(Path("xdg")), 0700u);
    EXPECT_EQ(ModeOf(Path("xdg/config/lindavox")), 0700u);
    // Existing folders keep their permissions.
    ::chmod(Path("xdg").c_str(), 0755);
    std::filesystem::remove_all(Path("xdg/config/lindavox"));
    EXPECT_TRUE(WriteUserProfileString("S", "k", "v"));
    EXPECT_EQ(ModeOf(Path("xdg")), 0755u);
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv noHome("HOME", Path("no-such-home").c_str());
    EXPECT_FALSE(WriteUserProfileString("S", "k", "v")) << "the home directory itself was made";
    EXPECT_FALSE(FileExists(Path("no-such-home")));
  }
  ::umask(oldMask);
}

TEST_F(ProfileTest, WhatIsNoOrdinaryFileOfAGoodSizeIsUnreadableAndUntouched) {
  ASSERT_EQ(::mkfifo(Path("pipe.ini").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("/dev/zero", Path("zero.ini").c_str()), 0);
  WriteFile(Path("big.ini"), "[A]\r\na=1\r\n");
  ASSERT_EQ(::truncate(Path("big.ini").c_str(), kMaxProfileFileSize + 1), 0);
  for (const char* name : {"pipe.ini", "zero.ini", "big.ini"}) {
    const std::string file = Path(name);
    std::optional<bool> refused = testsupport::RunWithin(10s, [&] {
      return GetFrom(file, "A", "a") == kDefault && GetFrom(file, nullptr, nullptr, "") == "" &&
             ReadProfileInt("A", "a", 7, file.c_str()) == 7 &&
             !WriteProfileString("A", "a", "2", file.c_str());
    });
    EXPECT_EQ(refused, true) << name;
  }
  struct stat status;
  ASSERT_EQ(::lstat(Path("pipe.ini").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("zero.ini")));
  EXPECT_EQ(std::filesystem::file_size(Path("big.ini")), kMaxProfileFileSize + 1);

  // Up to the limit a file is read.
  ASSERT_EQ(::truncate(Path("big.ini").c_str(), kMaxProfileFileSize), 0);
  EXPECT_EQ(GetFrom(Path("big.ini"), "A", "a"), "1");
}

TEST_F(ProfileTest, AByteOrderMarkIsSkippedWhenReadingAndKeptWhenWriting) {
  const std::string bom = "\xEF\xBB\xBF";
  WriteFile(ini_, bom + "[A]\r\na=1\r\n");
  EXPECT_EQ(Get("A", "a"), "1");
  uint32_t count = 0;
  EXPECT_EQ(Raw(nullptr, nullptr, 4, &count), "A\0\0X"s) << "the mark hid the first section";
  EXPECT_EQ(count, 2u);
  EXPECT_TRUE(Put("A", "b", "2"));
  EXPECT_TRUE(Put("B", "c", "3"));
  EXPECT_EQ(ReadFile(ini_), bom + "[A]\r\na=1\r\nb=2\r\n[B]\r\nc=3\r\n");
  EXPECT_TRUE(Put("A", nullptr, nullptr));
  EXPECT_EQ(ReadFile(ini_), bom + "[B]\r\nc=3\r\n");

  WriteFile(ini_, bom);
  EXPECT_TRUE(Put("S", "k", "v"));
  EXPECT_EQ(ReadFile(ini_), bom + "[S]\r\nk=v\r\n");
}

TEST_F(ProfileTest, LineBreaksInNamesAndValuesAreRefused) {
  const std::string text = "[Tarnwell]\r\nLanguage=English\r\n";
  WriteFile(ini_, text);
  const char* values[][3] = {
      {"Tarnwell", "Language", "x\r\n[Lindavox]\r\nquillet_pos=0,0,1,1"},
      {"Tarnwell", "Language", "x\n"},
      {"Tarnwell", "Lang\ruage", "x"},
      {"Tarn\nwell", "Language", "x"},
      {"Tarnwell\r\n[Other", nullptr, nullptr},
  };
  for (const auto& v : values) {
    EXPECT_FALSE(Put(v[0], v[1], v[2])) << ::testing::PrintToString(std::string(v[0]));
  }
  EXPECT_EQ(ReadFile(ini_), text);
}

TEST_F(ProfileTest, KeepsPermissionsAndSymbolicLinks) {
  WriteFile(ini_, "[A]\r\na=1\r\n");
  ::chmod(ini_.c_str(), 0640);
  EXPECT_TRUE(Put("A", "a", "2"));
  EXPECT_EQ(ModeOf(ini_), 0640u);

  mode_t oldMask = ::umask(027);
  bool created = WriteProfileString("A", "a", "1", Path("new.ini").c_str());
  ::umask(oldMask);
  EXPECT_TRUE(created);
  EXPECT_EQ(ModeOf(Path("new.ini")), 0640u);

  // A write through a link changes the target and keeps the link.
  ::mkdir(Path("real").c_str(), 0755);
  WriteFile(Path("real/target.ini"), "[A]\r\na=1\r\n");
  ASSERT_EQ(::symlink("real/target.ini", Path("link.ini").c_str()), 0);
  EXPECT_TRUE(WriteProfileString("A", "b", "2", Path("link.ini").c_str()));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.ini")));
  EXPECT_EQ(ReadFile(Path("real/target.ini")), "[A]\r\na=1\r\nb=2\r\n");
  EXPECT_EQ(NamesIn(Path("real")), (std::set<std::string>{"target.ini", ".target.ini.lock"}));

  ASSERT_EQ(::symlink("real/dangling.ini", Path("dangling.ini").c_str()), 0);
  EXPECT_TRUE(WriteProfileString("A", "a", "1", Path("dangling.ini").c_str()));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("dangling.ini")));
  EXPECT_EQ(ReadFile(Path("real/dangling.ini")), "[A]\r\na=1\r\n");
}

// A fault in one file operation: the write fails and loses nothing.
enum class FaultTarget { kAny, kIniFile, kLockFile, kTempFile };

struct FaultCase {
  const char* name;
  FileOp op;
  FaultTarget target;
  bool hitsNewFile;  // the operation also happens when the file does not exist yet
  bool hitsReads;    // the operation also happens on a read
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

bool IsTarget(FaultTarget target, std::string_view path) {
  auto endsWith = [path](std::string_view end) {
    return path.size() >= end.size() && path.substr(path.size() - end.size()) == end;
  };
  switch (target) {
    case FaultTarget::kAny:
      return true;
    case FaultTarget::kIniFile:
      return endsWith("/test.ini");
    case FaultTarget::kLockFile:
      return endsWith("/.test.ini.lock");
    case FaultTarget::kTempFile:
      return path.find("/.test.ini.") != std::string_view::npos && !endsWith(".lock");
  }
  return false;
}

class ProfileFaultTest : public ProfileTest, public ::testing::WithParamInterface<FaultCase> {
 protected:
  // Installs the fault for the scope; counts how often it struck.
  ScopedFaultHook Inject() {
    return ScopedFaultHook([this](FileOp op, std::string_view path) {
      if (op != GetParam().op || !IsTarget(GetParam().target, path)) return 0;
      ++strikes_;
      return EIO;
    });
  }
  // Only the file and its lock file may be left; no temporary file.
  void ExpectNoStrayFiles() {
    for (const std::string& name : NamesIn(Dir())) {
      EXPECT_TRUE(name == "config" || name == "test.ini" || name == ".test.ini.lock") << name;
    }
  }
  int strikes_ = 0;
};

TEST_P(ProfileFaultTest, FailedOperationLosesNothing) {
  const std::string text = "; keep\r\n[A]\r\na=1\r\n";
  WriteFile(ini_, text);
  {
    ScopedFaultHook hook = Inject();
    EXPECT_FALSE(Put("A", "a", "2"));
    EXPECT_EQ(Get("A", "a"), GetParam().hitsReads ? kDefault : "1");
  }
  EXPECT_GT(strikes_, 0);
  EXPECT_EQ(ReadFile(ini_), text);
  ExpectNoStrayFiles();

  if (GetParam().hitsNewFile) {
    std::filesystem::remove(ini_);
    strikes_ = 0;
    {
      ScopedFaultHook hook = Inject();
      EXPECT_FALSE(Put("A", "a", "2"));
    }
    EXPECT_GT(strikes_, 0);
    EXPECT_FALSE(FileExists(ini_));
    ExpectNoStrayFiles();
  }

  // Nothing stays locked or broken: the next write works.
  EXPECT_TRUE(Put("A", "a", "3"));
  EXPECT_EQ(Get("A", "a"), "3");
}

INSTANTIATE_TEST_SUITE_P(
    ProfileFaults, ProfileFaultTest,
    ::testing::Values(FaultCase{"OpenFile", FileOp::kOpen, FaultTarget::kIniFile, false, true},
                      FaultCase{"OpenLock", FileOp::kOpen, FaultTarget::kLockFile, true, false},
                      FaultCase{"OpenTemp", FileOp::kOpen, FaultTarget::kTempFile, true, false},
                      FaultCase{"Read", FileOp::kRead, FaultTarget::kAny, false, true},
                      FaultCase{"Write", FileOp::kWrite, FaultTarget::kAny, true, false},
                      FaultCase{"Rename", FileOp::kRename, FaultTarget::kAny, true, false},
                      FaultCase{"Lock", FileOp::kLock, FaultTarget::kLockFile, true, false},
                      FaultCase{"Stat", FileOp::kStat, FaultTarget::kIniFile, false, true},
                      FaultCase{"CloseTemp", FileOp::kClose, FaultTarget::kTempFile, true, false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// A script holds the writers' lock file (flock(1) on it): a write gives up after the retry
// time and leaves the file as it was, and works again once the lock is let go.
TEST_F(ProfileTest, AForeignLockOnTheLockFileFailsTheWriteInTime) {
  ASSERT_TRUE(Put("Sec", "Key", "old"));
  const std::string before = ReadFile(ini_);
  testsupport::OtherProcess script([&] {
    const int fd = ::open(Path(".test.ini.lock").c_str(), O_RDONLY);
    return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
  });
  ASSERT_TRUE(script.succeeded());
  std::optional<bool> written =
      testsupport::RunWithin(20s, [&] { return Put("Sec", "Key", "new"); });
  EXPECT_EQ(written, false) << "waited for the lock without end, or wrote without it";
  EXPECT_EQ(ReadFile(ini_), before);
  script.Release();
  EXPECT_TRUE(Put("Sec", "Key", "new"));
  EXPECT_EQ(Get("Sec", "Key"), "new");
}

// Several processes write their own keys of one file at once while this one reads it.
constexpr int kWriters = 6;
constexpr int kRounds = 50;
constexpr int kKeysPerWriter = 3;

std::string SectionOf(int writer) { return "Group" + std::to_string(writer % 3); }
std::string KeyOf(int writer, int key) {
  return "W" + std::to_string(writer) + "K" + std::to_string(key);
}

// In a child: writes round r to key r % kKeysPerWriter and reads it back at once.
bool RunWriter(const std::string& ini, int writer) {
  for (int round = 0; round < kRounds; ++round) {
    std::string section = SectionOf(writer);
    std::string key = KeyOf(writer, round % kKeysPerWriter);
    std::string value = std::to_string(round);
    if (!WriteProfileString(section.c_str(), key.c_str(), value.c_str(), ini.c_str())) return false;
    char buffer[16];
    ReadProfileString(section.c_str(), key.c_str(), "", buffer, sizeof buffer, ini.c_str());
    if (value != buffer) return false;
  }
  return true;
}

// Every line of a snapshot is a group header or a key of its writer with a round it wrote.
bool IsValidSnapshot(const std::string& text) {
  if (!text.empty() && text.substr(text.size() - 2) != "\r\n") return false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    int writer = 0, key = 0, round = 0, group = 0, used = 0;
    if (std::sscanf(line.c_str(), "[Group%d]%n", &group, &used) == 1 &&
        used == static_cast<int>(line.size())) {
      continue;
    }
    if (std::sscanf(line.c_str(), "W%dK%d=%d%n", &writer, &key, &round, &used) != 3 ||
        used != static_cast<int>(line.size()) || round % kKeysPerWriter != key ||
        round >= kRounds) {
      return false;
    }
  }
  return true;
}

TEST_F(ProfileTest, ConcurrentWritersLoseNoUpdate) {
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(RunWriter(ini_, writer) ? 0 : 1);
    children.push_back(pid);
  }
  int snapshots = 0;
  int badSnapshots = 0;
  std::string firstBad;
  std::vector<std::optional<int>> statuses(children.size());
  while (std::count(statuses.begin(), statuses.end(), std::nullopt) > 0) {
    ++snapshots;
    std::string text = ReadFile(ini_);
    std::string probe = Get(SectionOf(1).c_str(), KeyOf(1, 1).c_str(), "");
    bool probeValid = probe.empty() || IsValidSnapshot(KeyOf(1, 1) + "=" + probe + "\r\n");
    if (!IsValidSnapshot(text) || !probeValid) {
      if (badSnapshots++ == 0) firstBad = text + " / read " + probe;
    }
    for (size_t i = 0; i < children.size(); ++i) {
      int status = 0;
      if (statuses[i]) continue;
      pid_t reaped = ::waitpid(children[i], &status, WNOHANG);
      if (reaped != 0) statuses[i] = reaped == children[i] ? status : -1;
    }
  }
  for (const std::optional<int>& status : statuses) {
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "a writer failed";
  }
  EXPECT_EQ(badSnapshots, 0) << snapshots
                             << " reads; first bad: " << ::testing::PrintToString(firstBad);

  for (int writer = 0; writer < kWriters; ++writer) {
    for (int key = 0; key < kKeysPerWriter; ++key) {
      int last = kRounds - 1 - (kRounds - 1 - key) % kKeysPerWriter;
      EXPECT_EQ(Get(SectionOf(writer).c_str(), KeyOf(writer, key).c_str()), std::to_string(last))
          << KeyOf(writer, key);
    }
  }
  EXPECT_EQ(NamesIn(Dir()), (std::set<std::string>{"config", "test.ini", ".test.ini.lock"}));
}

}  // namespace
}  // namespace platform
