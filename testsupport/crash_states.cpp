#include "testsupport/crash_states.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <stdexcept>

#include "platform/boot_id.h"
#include "platform/change_recorder.h"
#include "testsupport/crash_model.h"
#include "testsupport/temp_dir.h"

namespace testsupport {

using crash::Inode;
using crash::InodeId;
using crash::Step;
using crash::Tree;

namespace {

constexpr size_t kExamples = 5;
constexpr size_t kLostNamed = 8;
constexpr const char* kRestartedBootId = "00000000-0000-0000-0000-restarted000";

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("crash states: " + what);
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (!::getcwd(buffer, sizeof buffer)) Fail("no current directory");
  return std::string(buffer) + "/";
}

// The names and contents under `dir` (absolute, ending in '/'), each file hard-linked into the
// pool so that its inode outlives whatever the operation does to it.
void Snapshot(const std::string& dir, const std::string& relative, const std::string& pool,
              Tree* tree, std::vector<Inode>* inodes,
              std::map<std::pair<dev_t, ino_t>, InodeId>* identities) {
  DIR* listing = ::opendir(dir.c_str());
  if (!listing) Fail("cannot list " + dir);
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(listing);
  for (const std::string& name : names) {
    const std::string path = dir + name;
    const std::string key = relative.empty() ? name : relative + "/" + name;
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) Fail("cannot look at " + path);
    const InodeId id = static_cast<InodeId>(inodes->size());
    if (S_ISDIR(status.st_mode)) {
      inodes->push_back(Inode{true, {}, {}, {}});
      tree->names[key] = id;
      Snapshot(path + "/", key, pool, tree, inodes, identities);
      continue;
    }
    if (!S_ISREG(status.st_mode)) Fail(path + " is neither a file nor a folder");
    const std::string pooled = pool + std::to_string(id);
    if (::link(path.c_str(), pooled.c_str()) != 0) Fail("cannot link " + path);
    inodes->push_back(Inode{false, pooled, ReadFile(path), status.st_mtim});
    tree->names[key] = id;
    tree->contents[id] = inodes->back().before;
    (*identities)[{status.st_dev, status.st_ino}] = id;
  }
}

// A path as the change recorder reports it, made absolute.
std::string Absolute(std::string_view path, bool folder) {
  if (path.empty()) return folder ? CurrentDirectory() : std::string();
  if (path[0] == '/') return std::string(path);
  return CurrentDirectory() + std::string(path);
}

void WriteNewFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot create " + path);
  const bool written =
      ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (::close(fd) != 0 || !written) Fail("cannot write " + path);
}

// What tells one state from another: every name with its folder mark or its file's contents.
std::string StateKey(const Tree& tree, const std::vector<Inode>& inodes) {
  std::string key;
  for (const auto& [name, id] : tree.names) {
    key += name;
    if (inodes[static_cast<size_t>(id)].folder) {
      key += "/\n";
      continue;
    }
    const auto contents = tree.contents.find(id);
    const std::string_view bytes =
        contents == tree.contents.end() ? std::string_view() : std::string_view(contents->second);
    key += '=' + std::to_string(bytes.size()) + ':' +
           std::to_string(std::hash<std::string_view>()(bytes)) + '\n';
  }
  return key;
}

// Writes `tree` into the fresh folder `dir`. Files that were there before the operation are
// the pool's inodes, linked in and given the state's contents (and their old time while the
// contents are the old ones); names in folders that the state does not have are left out.
void Materialize(const Tree& tree, const std::vector<Inode>& inodes, const std::string& dir) {
  RemoveTree(dir);
  if (::mkdir(dir.c_str(), 0755) != 0) Fail("cannot make " + dir);
  std::set<std::string> folders = {""};
  std::map<InodeId, std::string> written;  // the first name of each new file
  for (const auto& [name, id] : tree.names) {
    if (!folders.count(crash::ParentOf(name))) continue;
    const Inode& inode = inodes[static_cast<size_t>(id)];
    const std::string path = dir + name;
    if (inode.folder) {
      if (::mkdir(path.c_str(), 0755) != 0) Fail("cannot make " + path);
      folders.insert(name);
      continue;
    }
    const auto found = tree.contents.find(id);
    const std::string contents = found == tree.contents.end() ? std::string() : found->second;
    if (inode.pooled.empty()) {
      const auto first = written.find(id);
      if (first == written.end()) {
        WriteNewFile(path, contents);
        written[id] = path;
      } else if (::link(first->second.c_str(), path.c_str()) != 0) {
        Fail("cannot link " + path);
      }
      continue;
    }
    if (::link(inode.pooled.c_str(), path.c_str()) != 0) Fail("cannot link " + path);
    if (ReadFile(inode.pooled) != contents) WriteFile(inode.pooled, contents);
    if (contents == inode.before) {
      const struct timespec times[2] = {inode.modified, inode.modified};
      if (::utimensat(AT_FDCWD, inode.pooled.c_str(), times, 0) != 0) Fail("cannot set times");
    }
  }
}

// How a crash point's uncertain steps may end up: each step kept or lost, and for a kept write
// that was torn, which of its sectors (or pages) were kept.
struct Outcome {
  std::vector<bool> kept;  // by step index
  std::map<size_t, std::vector<bool>> torn;
};

}  // namespace

struct CrashExplorer::Recording {
  TempDir base;
  std::string run = base / "run/";
  std::string pool = base / "pool/";
  std::string state = base / "state/";
  std::vector<Inode> inodes;
  Tree before;
  std::vector<Step> steps;
};

const char* CrashModelName(CrashModel model) {
  return model == CrashModel::kOrdered ? "ordered" : "posix";
}

CrashExplorer::CrashExplorer(CrashScenario scenario)
    : scenario_(std::move(scenario)), recording_(std::make_unique<Recording>()) {
  Recording& r = *recording_;
  if (::mkdir(r.run.c_str(), 0755) != 0 || ::mkdir(r.pool.c_str(), 0755) != 0) {
    Fail("cannot make the scene's folders");
  }
  scenario_.prepare(r.run);
  std::map<std::pair<dev_t, ino_t>, InodeId> identities;
  Snapshot(r.run, "", r.pool, &r.before, &r.inodes, &identities);
  crash::StepBuilder builder(r.run, r.before, &r.inodes, std::move(identities));
  {
    platform::ScopedChangeRecorder recorder([&](const platform::FileChange& change) {
      const bool folder = change.kind == platform::ChangeKind::kSyncDirectory;
      const std::string path = Absolute(change.path, folder),
                        target = Absolute(change.target, false);
      platform::FileChange absolute = change;
      absolute.path = path;
      absolute.target = target;
      builder.Add(absolute);
    });
    scenario_.operation(r.run);
  }
  r.steps = builder.steps();
}

CrashExplorer::~CrashExplorer() = default;

std::string CrashExplorer::Changes() const {
  std::string text;
  for (size_t i = 0; i < recording_->steps.size(); ++i) {
    text += std::to_string(i + 1) + ". " + recording_->steps[i].text + "\n";
  }
  return text;
}

namespace {

using StepList = std::vector<Step>;

// For each step, the first crash point at which it is surely on the disk: right after the
// first later sync that covers it under `model` (INT_MAX when none does).
std::vector<size_t> DurableFrom(const StepList& steps, CrashModel model) {
  std::vector<size_t> from(steps.size(), SIZE_MAX);
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    if (step.kind == Step::Kind::kSyncFile || step.kind == Step::Kind::kSyncFolder) continue;
    const bool names = step.kind == Step::Kind::kNames;
    const bool metadata = names || step.kind == Step::Kind::kTruncate;
    // The folders whose sync this step still waits for (POSIX names).
    std::set<std::string> waiting;
    if (names && model == CrashModel::kPosix) {
      for (const auto& [name, id] : step.names) waiting.insert(crash::ParentOf(name));
    }
    for (size_t j = i + 1; j < steps.size(); ++j) {
      const Step& sync = steps[j];
      const bool syncsFile = sync.kind == Step::Kind::kSyncFile;
      const bool syncsFolder = sync.kind == Step::Kind::kSyncFolder;
      if (!syncsFile && !syncsFolder) continue;
      bool covered;
      if (model == CrashModel::kOrdered && metadata) {
        covered = true;  // any sync commits the whole journal
      } else if (names) {
        if (syncsFolder) waiting.erase(sync.folder);
        covered = waiting.empty();
      } else {
        covered = syncsFile && sync.inode == step.inode;
      }
      if (covered) {
        from[i] = j + 1;
        break;
      }
    }
  }
  return from;
}

// The choices at one crash point: a list of dimensions, each with its number of values, and
// what a value keeps.
class Choices {
 public:
  Choices(const StepList& steps, const std::vector<size_t>& durableFrom, size_t point,
          CrashModel model)
      : steps_(steps), point_(point), model_(model) {
    std::vector<size_t> metadata, overwrites;
    std::map<InodeId, std::vector<size_t>> appends;
    for (size_t i = 0; i < point; ++i) {
      const Step& step = steps[i];
      if (durableFrom[i] <= point || step.kind == Step::Kind::kSyncFile ||
          step.kind == Step::Kind::kSyncFolder) {
        continue;
      }
      pending_.push_back(i);
      if (model == CrashModel::kPosix) {
        dimensions_.push_back({i});  // kept or lost, on its own
      } else if (step.kind != Step::Kind::kData) {
        metadata.push_back(i);
      } else if (step.extends) {
        appends[step.inode].push_back(i);
      } else {
        overwrites.push_back(i);
      }
    }
    if (model == CrashModel::kOrdered) {
      // The journal keeps a prefix of the names and sizes; a file's appended bytes are kept from
      // its old end on; overwrites each on their own.
      if (!metadata.empty()) dimensions_.push_back(metadata);
      for (auto& [inode, list] : appends) dimensions_.push_back(list);
      for (size_t i : overwrites) dimensions_.push_back({i});
    }
  }

  const std::vector<size_t>& pending() const { return pending_; }

  // The number of combinations, or `limit` + 1 when there are more than `limit`.
  uint64_t Count(uint64_t limit) const {
    uint64_t count = 1;
    for (const auto& dimension : dimensions_) {
      count *= dimension.size() + 1;
      if (count > limit) return limit + 1;
    }
    return count;
  }

  // Combination `values` (one value per dimension: how many of its steps are kept, from the
  // front). Kept writes are torn with `tear` (null: none torn).
  Outcome Make(const std::vector<size_t>& values, std::mt19937* tear) const {
    Outcome outcome;
    outcome.kept.assign(point_, false);
    for (size_t d = 0; d < dimensions_.size(); ++d) {
      for (size_t n = 0; n < values[d]; ++n) outcome.kept[dimensions_[d][n]] = true;
    }
    if (tear) {
      const size_t unit = model_ == CrashModel::kPosix ? 512 : 4096;
      for (size_t i : pending_) {
        const Step& step = steps_[i];
        if (!outcome.kept[i] || step.kind != Step::Kind::kData) continue;
        if (model_ == CrashModel::kOrdered && step.extends) continue;
        const size_t pieces = PieceCount(step, unit);
        if (pieces < 2 || (*tear)() % 2 == 0) continue;
        std::vector<bool> kept(pieces);
        for (size_t p = 0; p < pieces; ++p) kept[p] = (*tear)() % 2 == 1;
        outcome.torn[i] = Sectors(step, unit, kept);
      }
    }
    return outcome;
  }

  size_t dimensions() const { return dimensions_.size(); }
  size_t Size(size_t dimension) const { return dimensions_[dimension].size() + 1; }

  // Whether any pending write could be torn.
  bool Tearable() const {
    const size_t unit = model_ == CrashModel::kPosix ? 512 : 4096;
    for (size_t i : pending_) {
      const Step& step = steps_[i];
      if (step.kind != Step::Kind::kData) continue;
      if (model_ == CrashModel::kOrdered && step.extends) continue;
      if (PieceCount(step, unit) > 1) return true;
    }
    return false;
  }

 private:
  // The pieces of `unit` bytes (sectors, pages) of the file that the write touches.
  static size_t PieceCount(const Step& step, size_t unit) {
    if (step.bytes.empty()) return 0;
    const size_t first = static_cast<size_t>(step.offset) / unit;
    const size_t last = (static_cast<size_t>(step.offset) + step.bytes.size() - 1) / unit;
    return last - first + 1;
  }
  // Piece flags turned into the 512-byte sector flags that crash::Apply takes.
  static std::vector<bool> Sectors(const Step& step, size_t unit, const std::vector<bool>& kept) {
    const size_t firstSector = static_cast<size_t>(step.offset) / 512;
    std::vector<bool> sectors(crash::SectorCount(step));
    for (size_t s = 0; s < sectors.size(); ++s) {
      const size_t piece = (firstSector + s) * 512 / unit - firstSector * 512 / unit;
      sectors[s] = kept[piece];
    }
    return sectors;
  }

  const StepList& steps_;
  size_t point_;
  CrashModel model_;
  std::vector<size_t> pending_;
  std::vector<std::vector<size_t>> dimensions_;
};

}  // namespace

CrashReport CrashExplorer::Explore(CrashModel model, const CrashBudget& budget) {
  const Recording& r = *recording_;
  const StepList& steps = r.steps;
  const std::vector<size_t> durableFrom = DurableFrom(steps, model);
  CrashReport report;
  report.changes = static_cast<int64_t>(steps.size());
  std::set<std::string> seen;
  const uint64_t limit = static_cast<uint64_t>(std::max(budget.combinationsPerPoint, 2));

  const auto check = [&](size_t point, const Outcome& outcome) {
    Tree tree = r.before;
    for (size_t i = 0; i < point; ++i) {
      if (durableFrom[i] > point && !outcome.kept[i]) continue;
      const auto torn = outcome.torn.find(i);
      crash::Apply(steps[i], &tree, torn == outcome.torn.end() ? nullptr : &torn->second);
    }
    // After the operation returned, what it reported done must be there too.
    const bool returned = point == steps.size() && scenario_.returned;
    if (!seen.insert((returned ? "returned\n" : "") + StateKey(tree, r.inodes)).second) return;
    ++report.states;
    Materialize(tree, r.inodes, r.state);
    // The power cut restarted the system: what the recovery finds was written in another start
    // of it.
    const platform::ScopedBootId restarted(kRestartedBootId);
    std::string verdict = returned ? scenario_.returned(r.state) : std::string();
    if (verdict.empty()) verdict = scenario_.check(r.state);
    if (verdict.empty()) return;
    ++report.broken;
    if (report.examples.size() >= kExamples) return;
    std::string lost;
    size_t named = 0;
    for (size_t i = 0; i < point; ++i) {
      if (durableFrom[i] <= point || steps[i].kind == Step::Kind::kSyncFile ||
          steps[i].kind == Step::Kind::kSyncFolder) {
        continue;
      }
      const char* how = !outcome.kept[i] ? "lost" : outcome.torn.count(i) ? "torn" : nullptr;
      if (!how || named++ >= kLostNamed) continue;
      lost += std::string(lost.empty() ? "" : "; ") + how + " " + std::to_string(i + 1) + ". " +
              steps[i].text;
    }
    report.examples.push_back("power cut after change " + std::to_string(point) + " of " +
                              std::to_string(steps.size()) +
                              (point > 0 ? " (" + steps[point - 1].text + ")" : std::string()) +
                              (lost.empty() ? std::string() : ", with " + lost) + ": " + verdict);
  };

  for (size_t point = 0; point <= steps.size(); ++point) {
    const Choices choices(steps, durableFrom, point, model);
    std::mt19937 random(budget.seed * 7919u + static_cast<uint32_t>(point));
    const size_t dimensions = choices.dimensions();
    std::vector<size_t> values(dimensions, 0);
    if (choices.Count(limit) <= limit) {
      // Every combination, counted through like the digits of a number.
      for (;;) {
        check(point, choices.Make(values, nullptr));
        size_t d = 0;
        while (d < dimensions && ++values[d] == choices.Size(d)) values[d++] = 0;
        if (d == dimensions) break;
      }
    } else {
      // Everything kept, nothing kept, and a sample in between.
      for (size_t d = 0; d < dimensions; ++d) values[d] = choices.Size(d) - 1;
      check(point, choices.Make(values, nullptr));
      std::fill(values.begin(), values.end(), 0);
      check(point, choices.Make(values, nullptr));
      for (uint64_t n = 2; n < limit; ++n) {
        for (size_t d = 0; d < dimensions; ++d) values[d] = random() % choices.Size(d);
        check(point, choices.Make(values, nullptr));
      }
    }
    if (!choices.Tearable()) continue;
    // Torn writes: a quarter of the budget more.
    for (uint64_t n = 0; n < limit / 4 + 1; ++n) {
      for (size_t d = 0; d < dimensions; ++d) values[d] = random() % choices.Size(d);
      check(point, choices.Make(values, &random));
    }
  }
  return report;
}

}  // namespace testsupport
