#include "app/logic/project_session.h"

#include <algorithm>
#include <cstring>

#include "app/logic/project_model.h"
#include "core/sibling_tree.h"
#include "formats/file_header.h"
#include "platform/text.h"

namespace fw {
namespace {

using Column = std::vector<std::u16string>;

// The rows as the file would hold them: both columns as long as the longer, then without the
// trailing rows that are empty on both sides.
std::pair<Column, Column> storedRows(const Column& source, const Column& target) {
  std::pair<Column, Column> rows{source, target};
  const size_t n = std::max(source.size(), target.size());
  rows.first.resize(n);
  rows.second.resize(n);
  while (!rows.first.empty() && rows.first.back().empty() && rows.second.back().empty()) {
    rows.first.pop_back();
    rows.second.pop_back();
  }
  return rows;
}

bool samePath(const std::u16string& a, const std::u16string& b) {
  return compareNames(a.c_str(), b.c_str()) == 0;
}

}  // namespace

void markProjectSaved(Workspace& ws, const std::u16string& path) {
  if (!path.empty()) {
    for (auto& labels : ws.kindLabels) labels[0] = fileNamePart(path);
    fitKindBoxChars(ws);
  }
  ws.project.path = path;
  ws.project.savedSource = ws.sides[kSourceSide].inputs[0].roots;
  ws.project.savedTarget = ws.sides[kTargetSide].inputs[0].roots;
}

bool projectChanged(const Workspace& ws) {
  return storedRows(ws.sides[kSourceSide].inputs[0].roots, ws.sides[kTargetSide].inputs[0].roots) !=
         storedRows(ws.project.savedSource, ws.project.savedTarget);
}

std::u16string projectName(const Workspace& ws) {
  return ws.project.path.empty() ? u"Untitled" : fileNamePart(ws.project.path);
}

std::u16string projectTitle(const Workspace& ws) { return projectName(ws) + u" - Ferrywick"; }

std::u16string projectRefusalText(Fs& fs, const std::u16string& path, Rc rc) {
  const std::u16string wrong = u"Wrong file format! " + path;
  FileHandle file;
  FsFailure why;
  if (kept(fs, fs.openRead(path.c_str(), &file), &why) != FsStatus::Ok)
    return path + u" cannot be opened: " + toUtf16(fsFailureText(why));
  uint8_t header[kProjectHeaderSize] = {};
  uint32_t got = 0;
  const FsStatus read = kept(fs, fs.read(file, header, sizeof header, &got), &why);
  fs.close(file);
  if (read != FsStatus::Ok) return path + u" cannot be read: " + toUtf16(fsFailureText(why));
  const auto hasMagic = [&](FileKind kind) {
    return got == sizeof header && std::memcmp(header, fileMagic(kind), kMagicSize) == 0;
  };
  if (hasMagic(FileKind::StateFile)) return wrong + u" is a saved state, not a project";
  if (hasMagic(FileKind::DifferenceFile)) return wrong + u" is a saved difference, not a project";
  if (!hasMagic(FileKind::ProjectFile)) return wrong + u" is not a project of this program";
  if (header[kMagicSize] != kFormatVersion)
    return wrong + u" was written by another version of this program";
  if (rc == Rc::OutOfMemory) return path + u" cannot be read: out of memory";
  if (rc == Rc::CannotOpen) return path + u" cannot be read";
  return wrong + u" is damaged";
}

void rememberRecent(std::vector<std::u16string>& recent, const std::u16string& path) {
  forgetRecent(recent, path);
  recent.insert(recent.begin(), path);
  if (recent.size() > kRecentProjects) recent.resize(kRecentProjects);
}

void forgetRecent(std::vector<std::u16string>& recent, const std::u16string& path) {
  std::erase_if(recent, [&](const std::u16string& p) { return samePath(p, path); });
}

std::u16string recentMenuText(size_t index, const std::u16string& path) {
  std::u16string text = u"&" + toUtf16(std::to_string(index + 1)) + u" ";
  for (char16_t c : path) {
    if (c == u'&') text += u'&';
    text += c;
  }
  return text;
}

}  // namespace fw
