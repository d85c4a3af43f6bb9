// The crash-state explorer against small operations whose weak spots are known: it must find
// the states that break them under the model that allows those states, and none where the
// operation syncs what its promise needs.
#include "testsupport/crash_states.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/share.h"
#include "testsupport/temp_dir.h"

namespace testsupport {
namespace {

using platform::Disposition;
using platform::OpenRequest;
using platform::SharedFile;

constexpr const char* kOld = "the old contents\n";

std::string NewContents() { return std::string(700, 'n'); }

// Writes `bytes` to a new file `path`, synced when asked.
void WriteNew(const std::string& path, const std::string& bytes, bool sync) {
  SharedFile file;
  ASSERT_EQ(
      SharedFile::Open(
          path, {platform::kAccessWrite, platform::kShareReadWrite, Disposition::kCreateTruncate},
          &file),
      0);
  ASSERT_TRUE(file.WriteAt(bytes.data(), bytes.size(), 0));
  if (sync) {
    ASSERT_EQ(platform::SyncFile(file.fd(), path), 0);
  }
}

void Append(const std::string& path, const std::string& bytes) {
  SharedFile file;
  ASSERT_EQ(
      SharedFile::Open(
          path, {platform::kAccessWrite, platform::kShareReadWrite, Disposition::kOpenAlways, true},
          &file),
      0);
  ASSERT_TRUE(file.WriteAt(bytes.data(), bytes.size(), 0));
}

std::string OldOrNew(const std::string& path) {
  const std::string now = ReadFile(path);
  return now == kOld || now == NewContents() ? "" : "neither old nor new";
}

// g's contents are in g, or in f, which took them over.
std::string GKept(const std::string& dir) {
  return FileExists(dir + "g") || ReadFile(dir + "f").find("g's") == 0 ? "" : "g is lost";
}

struct Case {
  const char* name;
  std::function<void(const std::string& dir)> operation;
  std::function<std::string(const std::string& dir)> check;
  bool brokenWhenOrdered;
  bool brokenUnderPosix;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"replaced without any sync: the name may come before the data",
       [](const std::string& dir) {
         WriteNew(dir + "f.new", NewContents(), false);
         ASSERT_EQ(platform::ReplaceShared(dir + "f.new", dir + "f"), 0);
       },
       [](const std::string& dir) { return OldOrNew(dir + "f"); }, true, true},
      {"replaced after a sync of the data: old or new",
       [](const std::string& dir) {
         WriteNew(dir + "f.new", NewContents(), true);
         ASSERT_EQ(platform::ReplaceShared(dir + "f.new", dir + "f"), 0);
       },
       [](const std::string& dir) { return OldOrNew(dir + "f"); }, false, false},
      {"a file removed before the rename that took its place was synced",
       [](const std::string& dir) {
         WriteNew(dir + "f.new", ReadFile(dir + "g") + NewContents(), true);
         ASSERT_EQ(platform::ReplaceShared(dir + "f.new", dir + "f"), 0);
         ASSERT_EQ(platform::RemoveShared(dir + "g"), 0);
       },
       GKept, false, true},
      {"a file removed after the rename was synced in its folder",
       [](const std::string& dir) {
         WriteNew(dir + "f.new", ReadFile(dir + "g") + NewContents(), true);
         ASSERT_EQ(platform::ReplaceShared(dir + "f.new", dir + "f"), 0);
         platform::SyncDirectory(dir);
         ASSERT_EQ(platform::RemoveShared(dir + "g"), 0);
       },
       GKept, false, false},
      {"appends without a sync: kept from the end on, or in any order and torn",
       [](const std::string& dir) {
         for (char c : {'a', 'b', 'c'}) Append(dir + "f", std::string(300, c));
       },
       [](const std::string& dir) {
         const std::string whole =
             kOld + std::string(300, 'a') + std::string(300, 'b') + std::string(300, 'c');
         const std::string now = ReadFile(dir + "f");
         return whole.compare(0, now.size(), now) == 0 ? "" : "not a prefix of the appends";
       },
       false, true},
  };
  return cases;
}

TEST(CrashStates, FindsWhatEachModelAllowsAndNothingWhereTheSyncsAreRight) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    CrashExplorer explorer({c.name,
                            [](const std::string& dir) {
                              WriteFile(dir + "f", kOld);
                              WriteFile(dir + "g", "g's contents\n");
                            },
                            c.operation, c.check, nullptr});
    for (auto [model, broken] : {std::pair{CrashModel::kOrdered, c.brokenWhenOrdered},
                                 std::pair{CrashModel::kPosix, c.brokenUnderPosix}}) {
      const CrashReport report = explorer.Explore(model, CrashBudget{64, 1});
      SCOPED_TRACE(CrashModelName(model));
      SCOPED_TRACE(explorer.Changes());
      EXPECT_GE(report.states, 2);
      EXPECT_EQ(report.broken > 0, broken) << (report.examples.empty() ? "" : report.examples[0]);
    }
  }
}

// What the seam reports for each kind of change, and how the explorer names it: the offset of
// an append through a descriptor opened to append, the removal of a replaced name, the syncs.
TEST(CrashStates, RecordsEveryChangeOfTheFileSystem) {
  CrashExplorer explorer({"every change",
                          [](const std::string& dir) { WriteFile(dir + "log", "12345"); },
                          [](const std::string& dir) {
                            Append(dir + "log", "678");
                            WriteNew(dir + "sub.new", "x", true);
                            ASSERT_EQ(platform::RenameShared(dir + "sub.new", dir + "sub"), 0);
                            platform::SyncDirectory(dir);
                            ASSERT_EQ(platform::RemoveShared(dir + "log"), 0);
                          },
                          [](const std::string&) { return std::string(); }, nullptr});
  EXPECT_EQ(explorer.Changes(),
            "1. write log at 5, 3 bytes\n"
            "2. create sub.new\n"
            "3. truncate sub.new to 0\n"
            "4. write sub.new at 0, 1 bytes\n"
            "5. sync sub.new\n"
            "6. rename sub.new to sub\n"
            "7. sync folder .\n"
            "8. remove log\n");
}

// Files that were there before keep their inode and time in every state while their contents
// are as before, as a journal that names a file by inode, size and time needs.
TEST(CrashStates, OldFilesKeepTheirIdentity) {
  struct stat original {};
  CrashExplorer explorer({"identity",
                          [&](const std::string& dir) {
                            WriteFile(dir + "orders", "A,1,5\n");
                            WriteFile(dir + "cards", "1234");
                            ASSERT_EQ(::stat((dir + "orders").c_str(), &original), 0);
                          },
                          [](const std::string& dir) {
                            WriteNew(dir + "cards.new", "5678", true);
                            ASSERT_EQ(platform::ReplaceShared(dir + "cards.new", dir + "cards"), 0);
                          },
                          [&](const std::string& dir) -> std::string {
                            struct stat now {};
                            if (::stat((dir + "orders").c_str(), &now) != 0) return "no orders";
                            if (now.st_ino != original.st_ino) return "another inode";
                            if (now.st_mtim.tv_sec != original.st_mtim.tv_sec ||
                                now.st_mtim.tv_nsec != original.st_mtim.tv_nsec) {
                              return "another time";
                            }
                            ::utimensat(AT_FDCWD, (dir + "orders").c_str(), nullptr, 0);
                            return "";
                          },
                          nullptr});
  for (CrashModel model : {CrashModel::kOrdered, CrashModel::kPosix}) {
    const CrashReport report = explorer.Explore(model, CrashBudget{64, 1});
    EXPECT_GE(report.states, 3);
    EXPECT_EQ(report.broken, 0) << (report.examples.empty() ? "" : report.examples[0]);
  }
}

}  // namespace
}  // namespace testsupport
