#include "platform/dir_search.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "testsupport/file_test.h"
#include "testsupport/temp_dir.h"

namespace platform {
namespace {

using testsupport::WriteFile;

TEST(WildcardMatchTest, Rules) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      // "*" and "*.*" take every name, with or without a dot.
      {"*", "readme", true},
      {"*.*", "readme", true},
      {"*.*", "a.b.c", true},
      {"*.*", ".profile", true},
      // The last extension decides; a longer one is a different extension.
      {"*.txt", "a.b.txt", true},
      {"*.txt", "a.txt.bak", false},
      {"*.htm", "x.html", false},
      {"*.htm", "x.htm", true},
      {"*.txt", ".txt", true},
      // '?' is exactly one character, never zero, never two.
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"???", "ab", false},
      {"?rger", "\xE4rger", true},  // one Windows-1252 byte is one character
      // A trailing dot is dropped: "x." finds "x", and "*." the names without an extension.
      {"*.", "readme", true},
      {"*.", "a.txt", false},
      {"*.", ".profile", false},
      {"*.", "a.", false},
      {"a*.", "abc", true},
      {"a*.", "abc.txt", false},
      {"*.txt.", "a.txt", true},
      {"readme.", "readme", true},
      {"readme.", "readme.", false},
      // "." and ".." name the folder's own entries.
      {".", ".", true},
      {".", "..", false},
      {"..", "..", true},
      {"..", ".", false},
      // Case matters, also for letters beyond ASCII.
      {"*.TXT", "a.txt", false},
      {"Readme", "readme", false},
      {"\xC4*", "\xE4rger", false},
      // '*' may swallow nothing, or text that looks like the rest of the pattern.
      {"a*", "a", true},
      {"a*a", "a", false},
      {"*ab", "aab", true},
      {"a*b*c", "abxbxc", true},
      {"a*b*c", "abxbxcx", false},
      {"*a?c", "abac", false},
      {"*a?c", "abaxc", true},
      {"**x", "x", true},
      // Wildcard characters in a name are ordinary characters; only the pattern's are special.
      {"*b", "*ab", true},
      {"a?", "a*", true},
      {"x*", "*x", false},
      // No other wildcards: brackets are literal.
      {"[ab].txt", "a.txt", false},
      {"[ab].txt", "[ab].txt", true},
      // Nothing matches the empty pattern.
      {"", "", false},
      {"", "a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches)
        << "pattern \"" << c.pattern << "\", name \"" << c.name << "\"";
  }
}

// Number of descriptors this process has open.
int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

class DirSearchTest : public testsupport::FileTest {
 protected:
  // The searches run in a folder of their own: the fixture's folder also holds the
  // configuration folder.
  void SetUp() override {
    FileTest::SetUp();
    here_ = Path("search/");
    ASSERT_EQ(::mkdir(here_.c_str(), 0755), 0);
  }
  const std::string& Here() const { return here_; }
  std::string InHere(const std::string& name) const { return here_ + name; }

  void Touch(const std::string& name, const std::string& bytes = "x") {
    WriteFile(InHere(name), bytes);
  }
  void MakeFolder(const std::string& name) { ASSERT_EQ(::mkdir(InHere(name).c_str(), 0755), 0); }

  // The names a search reports, in sorted order; a name reported twice appears twice.
  static std::vector<std::string> Found(const std::string& pattern,
                                        DirSearchOptions options = kOrdinaryFiles) {
    std::vector<std::string> names;
    DirSearch search;
    for (bool found = search.First(pattern, options); found; found = search.Next()) {
      names.push_back(search.entry().name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // The one entry that `pattern` finds; fails the test when there is not exactly one.
  static std::optional<DirEntry> FindOne(const std::string& pattern, DirSearchOptions options) {
    DirSearch search;
    if (!search.First(pattern, options)) {
      ADD_FAILURE() << "nothing found for " << pattern;
      return std::nullopt;
    }
    DirEntry entry = search.entry();
    if (search.Next()) {
      ADD_FAILURE() << "second entry " << search.entry().name << " found for " << pattern;
      return std::nullopt;
    }
    return entry;
  }

 private:
  std::string here_;
};

using NameList = std::vector<std::string>;

TEST_F(DirSearchTest, EnumeratesEveryMatchingEntryOnce) {
  NameList expected;
  for (int i = 0; i < 60; ++i) {
    std::string name = "card" + std::to_string(100 + i) + ".txt";
    Touch(name);
    expected.push_back(name);
  }
  Touch("card.dat");
  Touch("README");
  std::sort(expected.begin(), expected.end());

  EXPECT_EQ(Found(Here() + "*.txt"), expected);
  EXPECT_EQ(CountMatches(Here() + "*.txt"), 60);
  EXPECT_EQ(CountMatches(Here() + "*"), 62);
  EXPECT_EQ(CountMatches(Here() + "*.*"), 62);
  EXPECT_EQ(Found(Here() + "*."), (NameList{"README"}));  // the names without an extension
  EXPECT_EQ(CountMatches(Here() + "card1?9.txt"), 6);
  EXPECT_TRUE(AnyMatch(Here() + "*.dat"));
  EXPECT_FALSE(AnyMatch(Here() + "*.htm"));

  // Next() outside a search, after the end, and a fresh First() in the middle of a search.
  DirSearch search;
  EXPECT_FALSE(search.Next());
  ASSERT_TRUE(search.First(Here() + "*.txt"));
  ASSERT_TRUE(search.Next());
  NameList again;
  for (bool found = search.First(Here() + "*.txt"); found; found = search.Next()) {
    again.push_back(search.entry().name);
  }
  std::sort(again.begin(), again.end());
  EXPECT_EQ(again, expected);
  EXPECT_FALSE(search.Next());
}

TEST_F(DirSearchTest, OptionsSelectHiddenFilesAndFolders) {
  Touch("plain");
  Touch(".hidden");
  MakeFolder("sub");
  MakeFolder(".git");

  EXPECT_EQ(Found(Here() + "*", kOrdinaryFiles), (NameList{"plain"}));
  EXPECT_EQ(Found(Here() + "*", {true, false}), (NameList{".hidden", "plain"}));
  EXPECT_EQ(Found(Here() + "*", {false, true}), (NameList{"plain", "sub"}));
  EXPECT_EQ(Found(Here() + "*", kAllEntries),
            (NameList{".", "..", ".git", ".hidden", "plain", "sub"}));
  // The options decide, whatever the pattern names.
  EXPECT_EQ(CountMatches(Here() + ".hidden"), 0);
  EXPECT_EQ(CountMatches(Here() + ".*", {false, true}), 0);
  EXPECT_EQ(CountMatches(Here() + "sub", {true, false}), 0);

  std::optional<DirEntry> hidden = FindOne(Here() + ".h*", kAllEntries);
  ASSERT_TRUE(hidden);
  EXPECT_TRUE(hidden->isHidden);
  EXPECT_FALSE(hidden->isDirectory);
  std::optional<DirEntry> git = FindOne(Here() + ".g*", kAllEntries);
  ASSERT_TRUE(git);
  EXPECT_TRUE(git->isHidden);
  EXPECT_TRUE(git->isDirectory);
  std::optional<DirEntry> plain = FindOne(Here() + "plain", kAllEntries);
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->isHidden);
}

TEST_F(DirSearchTest, ReportsSizeTimeAndWriteProtection) {
  Touch("data.bin", std::string(1234, 'd'));
  const timespec times[2] = {{1'000'000'000, 0}, {1'200'000'000, 0}};  // access, modification
  ASSERT_EQ(::utimensat(AT_FDCWD, InHere("data.bin").c_str(), times, 0), 0);
  Touch("locked.txt");
  ASSERT_EQ(::chmod(InHere("locked.txt").c_str(), 0444), 0);
  MakeFolder("sub");
  Touch("sub/inner", std::string(5000, 'i'));

  std::optional<DirEntry> data = FindOne(Here() + "data.bin", kOrdinaryFiles);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->name, "data.bin");
  EXPECT_EQ(data->size, 1234u);
  EXPECT_EQ(data->lastWriteTime, 1'200'000'000);
  EXPECT_FALSE(data->isReadOnly);
  EXPECT_FALSE(data->isDirectory);

  std::optional<DirEntry> locked = FindOne(Here() + "locked.*", kOrdinaryFiles);
  ASSERT_TRUE(locked);
  EXPECT_TRUE(locked->isReadOnly);

  std::optional<DirEntry> sub = FindOne(Here() + "s?b", kAllEntries);
  ASSERT_TRUE(sub);
  EXPECT_TRUE(sub->isDirectory);
  EXPECT_EQ(sub->size, 0u);
}

TEST_F(DirSearchTest, FollowsSymbolicLinksAndLeavesOutDanglingOnes) {
  Touch("target.txt", "0123456789");
  MakeFolder("folder");
  ASSERT_EQ(::symlink("target.txt", InHere("file-link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("folder", InHere("folder-link").c_str()), 0);
  ASSERT_EQ(::symlink("missing.txt", InHere("dangling.txt").c_str()), 0);

  EXPECT_EQ(Found(Here() + "*"), (NameList{"file-link.txt", "target.txt"}));
  EXPECT_EQ(Found(Here() + "*", kAllEntries),
            (NameList{".", "..", "file-link.txt", "folder", "folder-link", "target.txt"}));
  EXPECT_FALSE(AnyMatch(Here() + "dangling.txt", kAllEntries));

  std::optional<DirEntry> fileLink = FindOne(Here() + "file-link.txt", kOrdinaryFiles);
  ASSERT_TRUE(fileLink);
  EXPECT_EQ(fileLink->size, 10u);  // the target's size, not the link's
  std::optional<DirEntry> folderLink = FindOne(Here() + "folder-link", kAllEntries);
  ASSERT_TRUE(folderLink);
  EXPECT_TRUE(folderLink->isDirectory && folderLink->isLink);
  EXPECT_TRUE(fileLink->isLink);
  EXPECT_FALSE(FindOne(Here() + "folder", kAllEntries)->isLink);
}

TEST_F(DirSearchTest, NameWithoutWildcardsFindsOnlyThatEntry) {
  Touch("report.txt");
  Touch("report.txt.bak");
  Touch("Report.TXT");
  MakeFolder("sub");

  EXPECT_EQ(Found(Here() + "report.txt"), (NameList{"report.txt"}));
  EXPECT_EQ(Found(Here() + "REPORT.TXT"), NameList{});
  EXPECT_EQ(Found(Here() + "report"), NameList{});
  EXPECT_EQ(Found(Here() + "report.txt."), (NameList{"report.txt"}));
  EXPECT_EQ(Found(Here() + "absent.txt"), NameList{});
  EXPECT_EQ(Found(Here() + "sub"), NameList{});
  EXPECT_EQ(Found(Here() + "sub", kAllEntries), (NameList{"sub"}));

  // "." and ".." find the folder's own entries, and only with hidden folders asked for.
  EXPECT_EQ(Found(Here() + ".", kAllEntries), (NameList{"."}));
  EXPECT_EQ(Found(Here() + "..", kAllEntries), (NameList{".."}));
  EXPECT_EQ(Found(Here() + ".", kOrdinaryFiles), NameList{});
  std::optional<DirEntry> self = FindOne(Here() + ".", kAllEntries);
  ASSERT_TRUE(self);
  EXPECT_TRUE(self->isDirectory);
}

TEST_F(DirSearchTest, SearchesTheFolderPartWithEitherSeparator) {
  Touch("outer.txt");
  MakeFolder("sub");
  Touch("sub/inner.txt");
  Touch("sub/inner.dat");

  EXPECT_EQ(Found(Here() + "sub/*.txt"), (NameList{"inner.txt"}));
  EXPECT_EQ(Found(Here() + "sub\\*.txt"), (NameList{"inner.txt"}));
  std::string windowsStyle = Here() + "sub\\*.txt";
  std::replace(windowsStyle.begin(), windowsStyle.end(), '/', '\\');
  EXPECT_EQ(Found(windowsStyle), (NameList{"inner.txt"}));
  EXPECT_EQ(Found(Here() + "sub/../*.txt"), (NameList{"outer.txt"}));
}

TEST_F(DirSearchTest, PatternWithoutFolderSearchesTheCurrentDirectory) {
  MakeFolder("here");
  Touch("here/local.txt");
  Touch("elsewhere.txt");
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(InHere("here"));

  NameList found = Found("*.txt");
  bool anyElsewhere = AnyMatch("elsewhere.txt");
  std::filesystem::current_path(previous);

  EXPECT_EQ(found, (NameList{"local.txt"}));
  EXPECT_FALSE(anyElsewhere);
}

TEST_F(DirSearchTest, MissingFolderOrEmptyNameGivesNoMatch) {
  Touch("file.txt");
  MakeFolder("sub");
  Touch("sub/inner.txt");

  const std::string patterns[] = {
      Here() + "missing/*",   // no such folder
      Here() + "file.txt/*",  // the "folder" is a file
      Here() + "sub/",        // nothing to match names against
      Here() + "sub\\",
      "",  // no name at all
  };
  for (const std::string& pattern : patterns) {
    DirSearch search;
    EXPECT_FALSE(search.First(pattern, kAllEntries)) << pattern;
    EXPECT_FALSE(search.Next()) << pattern;
    EXPECT_EQ(CountMatches(pattern, kAllEntries), 0) << pattern;
    EXPECT_FALSE(AnyMatch(pattern, kAllEntries)) << pattern;
  }
}

TEST_F(DirSearchTest, InjectedOpenFaultFailsTheSearch) {
  Touch("a.txt");
  MakeFolder("sub");
  Touch("sub/b.txt");
  std::vector<std::string> asked;
  {
    ScopedFaultHook hook([&](FileOp op, std::string_view path) {
      asked.emplace_back(path);
      return op == FileOp::kOpen && path == Here() ? EIO : 0;
    });
    DirSearch search;
    errno = 0;
    EXPECT_FALSE(search.First(Here() + "*.txt"));
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(AnyMatch(Here() + "a.txt"));
    // Only the folder the hook names fails.
    EXPECT_EQ(Found(Here() + "sub\\*.txt"), (NameList{"b.txt"}));
  }
  EXPECT_EQ(asked, (std::vector<std::string>{Here(), Here(), Here() + "sub/"}));
  EXPECT_EQ(Found(Here() + "*.txt"), (NameList{"a.txt"}));
}

TEST_F(DirSearchTest, ClosesTheFolderOnEveryPath) {
  for (int i = 0; i < 5; ++i) Touch("f" + std::to_string(i));
  const int baseline = OpenDescriptors();

  {  // destroyed in the middle of a search
    DirSearch search;
    ASSERT_TRUE(search.First(Here() + "*"));
    ASSERT_TRUE(search.Next());
  }
  EXPECT_EQ(OpenDescriptors(), baseline) << "destroyed mid-search";

  DirSearch search;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(search.First(Here() + "*"));  // restarted mid-search
  EXPECT_EQ(OpenDescriptors(), baseline + 1) << "restarted mid-search";

  while (search.Next()) {
  }
  EXPECT_EQ(OpenDescriptors(), baseline) << "run to the end";

  EXPECT_FALSE(search.First(Here() + "*.none"));
  EXPECT_EQ(OpenDescriptors(), baseline) << "nothing matched";

  ASSERT_TRUE(search.First(Here() + "f1"));
  EXPECT_FALSE(search.Next());
  EXPECT_EQ(OpenDescriptors(), baseline) << "single match";
}

TEST_F(DirSearchTest, ManyStarsDoNotExplode) {
  // A matcher that tries every way of splitting the name among the stars needs about
  // C(250, 12) steps for the file below and never finishes; the alarm turns that hang into a
  // failure. The matcher here needs a few thousand steps.
  const std::string pattern = "*a*a*a*a*a*a*a*a*a*a*a*a*b";
  ::alarm(20);
  Touch(std::string(250, 'a'));
  Touch(std::string(249, 'a') + "b");
  EXPECT_EQ(Found(Here() + pattern), (NameList{std::string(249, 'a') + "b"}));
  EXPECT_FALSE(WildcardMatch(pattern, std::string(20000, 'a')));
  EXPECT_TRUE(WildcardMatch(pattern, std::string(20000, 'a') + "b"));
  EXPECT_FALSE(WildcardMatch("*?*?*?*?*?*?*?*?*?*?*?*?*x", std::string(20000, 'y')));
  ::alarm(0);
}

}  // namespace
}  // namespace platform
