#include "app/logic/project_model.h"

#include <algorithm>

#include "app/logic/project_session.h"
#include "core/root_overlap.h"
#include "formats/project_file.h"
#include "platform/fs.h"

namespace fw {

bool hasPlacement(const PlacementBytes& p) {
  return p[0] != 0 || p[1] != 0 || p[2] != 0 || p[3] != 0;
}

Workspace::Workspace() {
  task.fs = &systemFs();
  for (auto& side : kindLabels)
    for (size_t k = 0; k < kSideKinds; ++k) side[k] = sideKindLabel(static_cast<SideKind>(k));
  fitKindBoxChars(*this);
}

namespace {

// One direction of padRows: makes `shorter` as long as `longer` or trims `longer`'s empty tail.
void padOne(std::vector<std::u16string>& shorter, std::vector<std::u16string>& longer) {
  while (shorter.size() < longer.size()) {
    if (!longer.back().empty())
      shorter.emplace_back();
    else
      longer.pop_back();
  }
}

}  // namespace

void padRows(std::vector<std::u16string>& s, std::vector<std::u16string>& t) {
  padOne(s, t);
  padOne(t, s);
}

void padSelectedRows(Workspace& ws) {
  padRows(ws.sides[kSourceSide].selected().roots, ws.sides[kTargetSide].selected().roots);
}

void clearInputs(Workspace& ws, int n) {
  ws.task.pool.releaseAll();
  ws.task.firstRoot = nullptr;
  for (auto& side : ws.sides)
    for (int k = 0; k < n && k < static_cast<int>(kSideKinds); ++k) {
      side.inputs[k].roots.clear();
      side.inputs[k].savedFile.clear();
    }
}

void newProject(Workspace& ws) {
  clearInputs(ws, 1);
  ws.project = ProjectDocument{};
  for (auto& labels : ws.kindLabels) labels[0] = sideKindLabel(SideKind::FileSystem);
  fitKindBoxChars(ws);
}

void fitKindBoxChars(Workspace& ws) {
  for (int s = 0; s < 2; ++s) {
    size_t longest = 0;
    for (const auto& label : ws.kindLabels[s]) longest = std::max(longest, label.size());
    ws.kindBoxChars[s] = static_cast<int>(longest);
  }
}

int sideWithoutSavedFile(const Workspace& ws) {
  for (int side = 0; side < 2; ++side)
    if (lacksSavedFile(ws.sides[side].kind, ws.sides[side].selected())) return side;
  return -1;
}

ButtonStates buttonStates(const Workspace& ws, int selection, bool workerRunning) {
  ButtonStates b;
  b.add = ws.sides[kSourceSide].kind == SideKind::FileSystem ||
          ws.sides[kTargetSide].kind == SideKind::FileSystem;
  b.edit = b.remove = selection >= 0;
  b.compare = !ws.sides[kSourceSide].selected().roots.empty() && !workerRunning &&
              sideWithoutSavedFile(ws) < 0;
  return b;
}

std::u16string fileNamePart(const std::u16string& path) {
  size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

FileKind fileKindFor(SideKind kind) {
  switch (kind) {
    case SideKind::FileSystem: return FileKind::ProjectFile;
    case SideKind::SavedState: return FileKind::StateFile;
    case SideKind::SavedDifference: return FileKind::DifferenceFile;
  }
  return FileKind::ProjectFile;
}

FileFilter fileFilterFor(SideKind kind) {
  using namespace std::string_literals;
  switch (kind) {
    case SideKind::SavedState:
      return {u"Ferrywick State (*.fws)\0*.fws;\0All Files (*.*)\0*.*;\0\0"s, u"fws"};
    case SideKind::SavedDifference:
      return {u"Ferrywick Diff (*.fwd)\0*.fwd;\0All Files (*.*)\0*.*;\0\0"s, u"fwd"};
    case SideKind::FileSystem:
      break;
  }
  return {u"Ferrywick Project (*.fwp)\0*.fwp;\0All Files (*.*)\0*.*;\0\0"s, u"fwp"};
}

namespace {

// Reads path as a file of the kind into the side's input; a project's two columns go to the
// folder lists of both sides.
Rc readSideFile(Workspace& ws, const char16_t* path, int side, SideKind kind) {
  Fs& fs = *ws.task.fs;
  if (kind == SideKind::FileSystem) {
    Project project;
    Rc rc = loadProject(fs, path, &project);
    if (rc != Rc::Ok) return rc;
    newProject(ws);
    ws.sides[kSourceSide].inputs[0].roots = std::move(project.source);
    ws.sides[kTargetSide].inputs[0].roots = std::move(project.target);
    return rc;
  }
  SideInput& input = ws.sides[side].inputs[static_cast<int>(kind)];
  Rc rc = readStringList(fs, &input.roots, path, fileKindFor(kind));
  if (rc == Rc::Ok)
    input.savedFile = path;
  else
    input.savedFile.clear();
  return rc;
}

}  // namespace

Rc loadSideFile(Workspace& ws, const char16_t* path, int side, SideKind kind) {
  Rc rc = readSideFile(ws, path, side, kind);
  // A project that cannot be read leaves the one shown as it was.
  if (kind == SideKind::FileSystem && rc != Rc::Ok) return rc;

  std::u16string label = sideKindLabel(kind);
  if (rc == Rc::Ok) {
    std::u16string full;
    if (ws.task.fs->fullPath(path, &full) != FsStatus::Ok) full = path;
    label = fileNamePart(full);
    if (kind == SideKind::FileSystem) {
      markProjectSaved(ws, full);
      rememberRecent(ws.shell.recentProjects, full);
    }
  }
  const int k = static_cast<int>(kind);
  if (kind == SideKind::FileSystem) {
    ws.kindLabels[kSourceSide][k] = label;
    ws.kindLabels[kTargetSide][k] = label;
  } else {
    ws.kindLabels[side][k] = label;
  }
  fitKindBoxChars(ws);
  padSelectedRows(ws);
  return rc;
}

bool loadStartupFile(Workspace& ws, const char16_t* path) {
  SideKind kind = SideKind::FileSystem;
  if (loadSideFile(ws, path, kSourceSide, kind) != Rc::Ok) {
    std::vector<std::u16string> roots;
    if (readSavedRoots(*ws.task.fs, path, &roots, &kind) != Rc::Ok) return false;
    if (loadSideFile(ws, path, kSourceSide, kind) != Rc::Ok) return false;
  }
  ws.sides[kSourceSide].kind = kind;
  padSelectedRows(ws);
  return true;
}

void swapSides(Workspace& ws) {
  std::swap(ws.sides[kSourceSide], ws.sides[kTargetSide]);
  for (size_t k = 0; k < kSideKinds; ++k)
    std::swap(ws.kindLabels[kSourceSide][k], ws.kindLabels[kTargetSide][k]);
  std::swap(ws.kindBoxChars[kSourceSide], ws.kindBoxChars[kTargetSide]);
  padSelectedRows(ws);
}

int removeRow(Workspace& ws, int row) {
  auto& s = ws.sides[kSourceSide].selected().roots;
  auto& t = ws.sides[kTargetSide].selected().roots;
  if (row < 0) return -1;
  const size_t r = static_cast<size_t>(row);
  if (r < s.size()) s.erase(s.begin() + row);
  if (r < t.size()) t.erase(t.begin() + row);
  const size_t rows = std::max(s.size(), t.size());
  return r < rows ? row : -1;
}

FolderPairRecord folderPairFor(const Workspace& ws) {
  FolderPairRecord pair;
  pair.sourceEditable = ws.sides[kSourceSide].kind == SideKind::FileSystem;
  pair.targetEditable = ws.sides[kTargetSide].kind == SideKind::FileSystem;
  if (!ws.addMode) {
    const auto& s = ws.sides[kSourceSide].selected().roots;
    const auto& t = ws.sides[kTargetSide].selected().roots;
    const size_t r = static_cast<size_t>(ws.currentRow);
    if (ws.currentRow >= 0 && r < s.size()) pair.source = s[r];
    if (ws.currentRow >= 0 && r < t.size()) pair.target = t[r];
  }
  return pair;
}

void storeFolderPair(Workspace& ws, const FolderPairRecord& pair) {
  auto& s = ws.sides[kSourceSide].selected().roots;
  auto& t = ws.sides[kTargetSide].selected().roots;
  const size_t r = static_cast<size_t>(std::max(ws.currentRow, 0));
  auto put = [&](std::vector<std::u16string>& list, const std::u16string& text) {
    std::u16string cut = text.substr(0, 259);
    if (ws.addMode) {
      list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min(r, list.size())), cut);
    } else {
      if (list.size() <= r) list.resize(r + 1);
      list[r] = cut;
    }
  };
  put(s, pair.source);
  put(t, pair.target);
}

std::u16string folderPairOverlapText(Fs& fs, const Workspace& ws, const FolderPairRecord& pair) {
  // The rows as OK would leave them, only the folder sides (a saved side holds no folders).
  SideInput sides[2];
  const std::u16string* typed[2] = {&pair.source, &pair.target};
  const size_t r = static_cast<size_t>(std::max(ws.currentRow, 0));
  for (int side = 0; side < 2; ++side) {
    if (ws.sides[side].kind != SideKind::FileSystem) continue;
    std::vector<std::u16string>& list = sides[side].roots;
    list = ws.sides[side].selected().roots;
    const std::u16string cut = typed[side]->substr(0, 259);
    if (ws.addMode) {
      list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min(r, list.size())), cut);
    } else {
      if (list.size() <= r) list.resize(r + 1);
      list[r] = cut;
    }
  }
  const SideInput* source = ws.sides[0].kind == SideKind::FileSystem ? &sides[0] : nullptr;
  const SideInput* target = ws.sides[1].kind == SideKind::FileSystem ? &sides[1] : nullptr;
  if (!source && !target) return {};
  std::vector<RootOverlap> overlaps;
  if (findOverlappingRoots(fs, source, target, &overlaps) != Rc::Ok) return {};
  std::u16string text;
  for (const RootOverlap& o : overlaps) {
    if (o.inner.row != r && o.outer.row != r) continue;  // the other rows are not edited here
    std::u16string line = rootOverlapText(o);
    if (!line.empty()) line[0] = static_cast<char16_t>(line[0] == u'r' ? u'R' : line[0]);
    text += line + u".\n";
  }
  return text;
}

void publishSides(Workspace& ws) {
  for (int side = 0; side < 2; ++side) {
    ws.task.kind[side] = ws.sides[side].kind;
    for (size_t k = 0; k < kSideKinds; ++k) ws.task.inputs[side][k] = ws.sides[side].inputs[k];
  }
}

}  // namespace fw
