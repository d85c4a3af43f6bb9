#include "testsupport/crash_model.h"

#include <algorithm>
#include <string_view>

namespace testsupport::crash {
namespace {

constexpr off_t kSector = 512;

// The components of an absolute path, with "." and ".." resolved.
std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  return parts;
}

void WriteAt(std::string* contents, off_t offset, std::string_view bytes) {
  const size_t at = static_cast<size_t>(offset);
  if (contents->size() < at + bytes.size()) contents->resize(at + bytes.size(), '\0');
  std::copy(bytes.begin(), bytes.end(), contents->begin() + static_cast<ptrdiff_t>(at));
}

}  // namespace

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

size_t SectorCount(const Step& step) {
  if (step.bytes.empty()) return 0;
  const off_t first = step.offset / kSector;
  const off_t last = (step.offset + static_cast<off_t>(step.bytes.size()) - 1) / kSector;
  return static_cast<size_t>(last - first + 1);
}

void Apply(const Step& step, Tree* tree, const std::vector<bool>* kept) {
  switch (step.kind) {
    case Step::Kind::kNames:
      for (const auto& [name, inode] : step.names) {
        if (inode == kNoInode) {
          tree->names.erase(name);
        } else {
          tree->names[name] = inode;
        }
      }
      return;
    case Step::Kind::kData: {
      std::string& contents = tree->contents[step.inode];
      if (!kept) {
        WriteAt(&contents, step.offset, step.bytes);
        return;
      }
      const off_t end = step.offset + static_cast<off_t>(step.bytes.size());
      off_t sectorStart = step.offset / kSector * kSector;
      for (size_t i = 0; i < kept->size(); ++i, sectorStart += kSector) {
        if (!(*kept)[i]) continue;
        const off_t from = std::max(sectorStart, step.offset);
        const off_t to = std::min(sectorStart + kSector, end);
        WriteAt(
            &contents, from,
            std::string_view(step.bytes)
                .substr(static_cast<size_t>(from - step.offset), static_cast<size_t>(to - from)));
      }
      return;
    }
    case Step::Kind::kTruncate:
      tree->contents[step.inode].resize(static_cast<size_t>(step.length), '\0');
      return;
    case Step::Kind::kSyncFile:
    case Step::Kind::kSyncFolder:
      return;
  }
}

StepBuilder::StepBuilder(std::string root, Tree tree, std::vector<Inode>* inodes,
                         std::map<std::pair<dev_t, ino_t>, InodeId> identities)
    : root_(std::move(root)),
      now_(std::move(tree)),
      inodes_(inodes),
      identities_(std::move(identities)) {}

bool StepBuilder::Relative(std::string_view path, std::string* relative) const {
  const std::vector<std::string_view> root = Components(root_);
  const std::vector<std::string_view> parts = Components(path);
  if (parts.size() < root.size() || !std::equal(root.begin(), root.end(), parts.begin())) {
    return false;
  }
  relative->clear();
  for (size_t i = root.size(); i < parts.size(); ++i) {
    if (!relative->empty()) *relative += '/';
    *relative += parts[i];
  }
  return true;
}

InodeId StepBuilder::Known(const platform::FileIdentity& file) const {
  const auto found = identities_.find({file.device, file.inode});
  return found == identities_.end() ? kNoInode : found->second;
}

InodeId StepBuilder::NewInode(const platform::FileIdentity& file, bool folder) {
  const InodeId id = static_cast<InodeId>(inodes_->size());
  inodes_->push_back(Inode{folder, {}, {}, {}});
  if (!folder) {
    identities_[{file.device, file.inode}] = id;  // a number the system gave out again
    now_.contents[id];
  }
  return id;
}

void StepBuilder::AddNames(std::vector<std::pair<std::string, InodeId>> names, std::string text) {
  Step step;
  step.names = std::move(names);
  step.text = std::move(text);
  Apply(step, &now_);
  steps_.push_back(std::move(step));
}

void StepBuilder::Add(const platform::FileChange& change) {
  using platform::ChangeKind;
  std::string path, target;
  const bool inPath = Relative(change.path, &path);
  const bool inTarget = Relative(change.target, &target);
  // A file's current name, for the reports.
  const auto nameOf = [this](InodeId inode) {
    for (const auto& [name, id] : now_.names) {
      if (id == inode) return name;
    }
    return "#" + std::to_string(inode);
  };
  const InodeId known = Known(change.file);
  Step step;
  switch (change.kind) {
    case ChangeKind::kOpenCreating: {
      const auto named = now_.names.find(path);
      if (!inPath || (named != now_.names.end() && named->second == known)) return;
      AddNames({{path, NewInode(change.file, false)}}, "create " + path);
      return;
    }
    case ChangeKind::kCreateUnnamed:
      if (inPath) NewInode(change.file, false);
      return;
    case ChangeKind::kWrite:
      if (known == kNoInode) return;
      step.kind = Step::Kind::kData;
      step.inode = known;
      step.offset = change.offset;
      step.bytes = change.bytes;
      step.extends =
          static_cast<size_t>(change.offset) + change.bytes.size() > now_.contents[known].size();
      step.text = "write " + nameOf(known) + " at " + std::to_string(change.offset) + ", " +
                  std::to_string(change.bytes.size()) + " bytes";
      break;
    case ChangeKind::kTruncate:
      if (known == kNoInode) return;
      step.kind = Step::Kind::kTruncate;
      step.inode = known;
      step.length = change.length;
      step.text = "truncate " + nameOf(known) + " to " + std::to_string(change.length);
      break;
    case ChangeKind::kRename: {
      const auto named = now_.names.find(path);
      if (!inPath || !inTarget || named == now_.names.end() || path == target) return;
      // A folder takes everything in it along.
      std::vector<std::pair<std::string, InodeId>> names = {{path, kNoInode}};
      std::vector<std::pair<std::string, InodeId>> moved = {{target, named->second}};
      for (const auto& [name, id] : now_.names) {
        if (name.size() > path.size() && name.compare(0, path.size() + 1, path + "/") == 0) {
          names.emplace_back(name, kNoInode);
          moved.emplace_back(target + name.substr(path.size()), id);
        }
      }
      names.insert(names.end(), moved.begin(), moved.end());
      AddNames(std::move(names), "rename " + path + " to " + target);
      return;
    }
    case ChangeKind::kLink:
      if (inTarget && known != kNoInode) AddNames({{target, known}}, "link " + target);
      return;
    case ChangeKind::kRemove:
    case ChangeKind::kRemoveDirectory:
      if (inPath && now_.names.count(path)) AddNames({{path, kNoInode}}, "remove " + path);
      return;
    case ChangeKind::kMakeDirectory:
      if (inPath && !path.empty()) AddNames({{path, NewInode({}, true)}}, "make folder " + path);
      return;
    case ChangeKind::kSyncFile:
      if (known == kNoInode) return;
      step.kind = Step::Kind::kSyncFile;
      step.inode = known;
      step.text = "sync " + nameOf(known);
      break;
    case ChangeKind::kSyncDirectory:
      if (!inPath) return;
      step.kind = Step::Kind::kSyncFolder;
      step.folder = path;
      step.text = "sync folder " + (path.empty() ? std::string(".") : path);
      break;
  }
  Apply(step, &now_);
  steps_.push_back(std::move(step));
}

}  // namespace testsupport::crash
