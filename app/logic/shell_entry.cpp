#include "app/logic/shell_entry.h"

#include "platform/long_path.h"
#include "sync/as_compared.h"

namespace fw {

bool comparedOnSide(const FileNode* node, int side) {
  return !(node->flags & (side == 0 ? OnlyInTarget : OnlyInSource));
}

SidePaths sidePaths(const std::vector<const FileNode*>& chain, const std::u16string roots[2]) {
  SidePaths out;
  if (chain.empty()) return out;
  for (int s = 0; s < 2; ++s) {
    if (roots[s].empty()) continue;
    std::u16string path = roots[s];
    for (size_t k = 1; k < chain.size(); ++k) {
      if (path.back() != kPathSeparator) path += kPathSeparator;
      path += sideName(chain[k], s);
    }
    out.path[s] = std::move(path);
  }
  return out;
}

SidePaths copiesOnDisk(const std::vector<const FileNode*>& chain, const std::u16string roots[2],
                       const bool onDisk[2]) {
  SidePaths out = sidePaths(chain, roots);
  for (int s = 0; s < 2; ++s)
    if (!onDisk[s] || !comparedOnSide(chain.back(), s)) out.path[s].clear();
  return out;
}

int sideToOpen(const SidePaths& copies) {
  if (!copies.path[1].empty()) return 1;
  return copies.path[0].empty() ? -1 : 0;
}

std::u16string shellFormOf(const std::u16string& path,
                           const std::function<std::u16string(const std::u16string&)>& shortForm) {
  if (path.size() <= kShellPathLimit) return path;
  std::u16string longPath(path.size() + 9, u'\0');
  longPath.resize(toWindowsLongPath(longPath.data(), longPath.size(), path.c_str()));
  std::u16string shortPath = fromLongPath(shortForm(longPath).c_str());
  if (shortPath.empty() || shortPath.size() > kShellPathLimit) return {};
  return shortPath;
}

DiskState recheckSide(Fs& fs, const std::u16string& fsPath, const FileNode* node, int side) {
  // A conflicting entry is never acted on, and its two sides are of different kinds; a side
  // that could not be read as a whole (a link to a folder, a special file) was never taken for
  // what a plain look would find there.
  if (node->flags & (Conflict | unlistedFlag(side))) return DiskState::NotLooked;
  const bool present = comparedOnSide(node, side);
  FileStamp now;
  const FsStatus s = fs.getEntryStamp(fsPath.c_str(), &now);
  if (s == FsStatus::NotFound) return present ? DiskState::Gone : DiskState::AsCompared;
  if (s != FsStatus::Ok) return DiskState::Unknown;
  if (!present) return DiskState::Changed;
  switch (checkAsCompared(fs, fsPath.c_str(), node->side[side], isFolder(node))) {
    case Rc::Ok: return DiskState::AsCompared;
    case Rc::Failed: return DiskState::Changed;
    default: return DiskState::Unknown;
  }
}

bool changedOnDisk(const DiskState states[2]) {
  for (int s = 0; s < 2; ++s)
    if (states[s] == DiskState::Gone || states[s] == DiskState::Changed) return true;
  return false;
}

std::u16string changedLabel(const char16_t* name, const DiskState states[2]) {
  std::u16string label = name;
  if (states[0] == DiskState::Changed || states[1] == DiskState::Changed)
    return label + u" (changed since the comparison)";
  const bool gone[2] = {states[0] == DiskState::Gone, states[1] == DiskState::Gone};
  if (gone[0] && gone[1]) return label + u" (gone from both sides)";
  if (gone[0]) return label + u" (gone from the source)";
  if (gone[1]) return label + u" (gone from the target)";
  return label;
}

}  // namespace fw
