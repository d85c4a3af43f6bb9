// The file system as the crash-state explorer (crash_states.h) sees it: a tree of names and
// file contents, and the recorded changes translated into steps on that tree.
#ifndef LINDAVOX_TESTSUPPORT_CRASH_MODEL_H
#define LINDAVOX_TESTSUPPORT_CRASH_MODEL_H

#include <sys/types.h>
#include <time.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/change_recorder.h"

namespace testsupport::crash {

using InodeId = int;
inline constexpr InodeId kNoInode = -1;

// A file or folder. Those that were there before the operation have a hard link in the pool.
struct Inode {
  bool folder = false;
  std::string pooled;  // the pool's link ("" for an inode the operation created)
  std::string before;  // the contents before the operation
  struct timespec modified {};
};

// Names (paths relative to the scene's folder, "" being that folder itself and never a name)
// and the contents of files.
struct Tree {
  std::map<std::string, InodeId> names;
  std::map<InodeId, std::string> contents;
};

// One recorded change, as a step on the tree.
struct Step {
  enum class Kind { kNames, kData, kTruncate, kSyncFile, kSyncFolder };
  Kind kind = Kind::kNames;
  // kNames: every name it sets, with its new inode (kNoInode: the name is removed); all of them
  // together or none (a rename).
  std::vector<std::pair<std::string, InodeId>> names;
  InodeId inode = kNoInode;  // kData, kTruncate, kSyncFile
  off_t offset = 0;          // kData
  std::string bytes;         // kData
  off_t length = 0;          // kTruncate
  bool extends = false;      // kData: the write made the file longer
  std::string folder;        // kSyncFolder
  std::string text;          // what it did, for reports
};

// The folder part of a relative path ("" for a name in the root).
std::string ParentOf(const std::string& path);

// Applies `step` to `tree`; a kData step only with the sectors that `kept` marks (one flag per
// 512-byte sector of the file that the write touches; all of them when `kept` is null).
void Apply(const Step& step, Tree* tree, const std::vector<bool>* kept = nullptr);

// The 512-byte sectors of the file that a kData step touches.
size_t SectorCount(const Step& step);

// Translates recorded changes into steps, following the names and contents as the operation
// saw them. Changes outside the scene's folder, and writes to files that were never in it, are
// left out.
class StepBuilder {
 public:
  // `root`: the scene's folder, absolute, ending in '/'. `tree` and `inodes`: the scene before
  // the operation.
  StepBuilder(std::string root, Tree tree, std::vector<Inode>* inodes,
              std::map<std::pair<dev_t, ino_t>, InodeId> identities);

  // `change` with its paths made absolute.
  void Add(const platform::FileChange& change);
  const std::vector<Step>& steps() const { return steps_; }

 private:
  bool Relative(std::string_view path, std::string* relative) const;
  InodeId Known(const platform::FileIdentity& file) const;
  InodeId NewInode(const platform::FileIdentity& file, bool folder);
  void AddNames(std::vector<std::pair<std::string, InodeId>> names, std::string text);

  const std::string root_;
  Tree now_;  // as the operation sees the files
  std::vector<Inode>* inodes_;
  std::map<std::pair<dev_t, ino_t>, InodeId> identities_;
  std::vector<Step> steps_;
};

}  // namespace testsupport::crash

#endif
