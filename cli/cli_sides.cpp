#include "cli/cli_sides.h"

#include <cstdio>

#include "core/entry_action.h"
#include "formats/project_file.h"
#include "formats/volume_set.h"
#include "platform/text.h"

namespace fw {

std::u16string absolutePath(Fs& fs, const std::string& path) {
  return absolutePath(fs, toUtf16Escaped(path));
}

std::u16string absolutePath(Fs& fs, std::u16string given) {
#ifdef _WIN32
  for (char16_t& c : given)
    if (c == u'/') c = u'\\';
#endif
  std::u16string full;
  if (given.empty() || fs.fullPath(given.c_str(), &full) != FsStatus::Ok) return given;
  // A trailing separator ("dir/") would double up with the separators the engine adds.
  while (full.size() > 1 && full.back() == kPathSeparator && full[full.size() - 2] != u':')
    full.pop_back();
  return full;
}

namespace {

bool isFile(Fs& fs, const std::u16string& path) {
  uint32_t a;
  return fs.getAttributes(path.c_str(), &a) == FsStatus::Ok && !(a & attr::Directory);
}

Rc setUpSide(const CliOptions& options, TaskState& state, int side, std::string* error) {
  Fs& fs = *state.fs;
  const std::vector<std::string>& paths = side == 0 ? options.sources : options.targets;
  const char* name = side == 0 ? "source" : "target";
  std::vector<std::u16string> folders;
  std::u16string savedFile;
  for (const std::string& p : paths) {
    std::u16string full = absolutePath(fs, p);
    if (!isFile(fs, full)) {
      folders.push_back(full);
      continue;
    }
    if (!savedFile.empty()) {
      *error = std::string("only one saved file may stand for the ") + name;
      return Rc::BadRequest;
    }
    savedFile = full;
  }
  if (!savedFile.empty() && !folders.empty()) {
    *error = std::string("the ") + name + " is either folders or one saved file, not both";
    return Rc::BadRequest;
  }
  if (savedFile.empty()) {
    SideInput& input = state.inputs[side][static_cast<int>(SideKind::FileSystem)];
    input.roots.insert(input.roots.end(), folders.begin(), folders.end());
    state.kind[side] = SideKind::FileSystem;
    return Rc::Ok;
  }
  SideKind kind;
  std::vector<std::u16string> roots;
  if (readSavedRoots(fs, savedFile.c_str(), &roots, &kind) == Rc::Ok) {
    SideInput& input = state.inputs[side][static_cast<int>(kind)];
    input.roots = std::move(roots);
    input.savedFile = savedFile;
    state.kind[side] = kind;
    return Rc::Ok;
  }
  // Damaged, no saved file, or a later volume that its set does not reach.
  *error = refusedFileText(fs, savedFile);
  return Rc::Failed;
}

}  // namespace

Rc setUpSides(const CliOptions& options, TaskState& state, std::string* error) {
  if (!options.project.empty()) {
    Project project;
    std::u16string path = absolutePath(*state.fs, options.project);
    if (loadProject(*state.fs, path.c_str(), &project) != Rc::Ok) {
      *error = refusedFileText(*state.fs, path);
      return Rc::Failed;
    }
    SideInput* in[2] = {&state.inputs[0][0], &state.inputs[1][0]};
    for (size_t i = 0; i < project.rows(); ++i) {
      FolderPair row = project.row(i);
      in[0]->roots.push_back(row.source.empty() ? row.source
                                                : absolutePath(*state.fs, row.source));
      in[1]->roots.push_back(row.target.empty() ? row.target
                                                : absolutePath(*state.fs, row.target));
    }
  }
  for (int side = 0; side < 2; ++side)
    if (Rc rc = setUpSide(options, state, side, error); rc != Rc::Ok) return rc;
  // Rows pair by index: pad the shorter side, as the main window does.
  std::vector<std::u16string>& a = state.inputs[0][static_cast<int>(state.kind[0])].roots;
  std::vector<std::u16string>& b = state.inputs[1][static_cast<int>(state.kind[1])].roots;
  bool onlySources = options.targets.empty() && options.project.empty();
  if (!onlySources) {
    while (a.size() < b.size()) a.emplace_back();
    while (b.size() < a.size()) b.emplace_back();
  }
  return Rc::Ok;
}

size_t warnAboutSides(const CliOptions& options, const TaskState& state) {
  size_t leftOut = 0;
  const SideInput* sides[2] = {&state.currentInput(0), &state.currentInput(1)};
  auto warn = [&](const std::string& text) {
    ++leftOut;
    if (!options.quiet) std::fprintf(stderr, "ferrywick-cli: warning: %s\n", text.c_str());
  };
  const char* names[2] = {"source", "target"};
  const MarkMasks masks = makeMarkMasks(state.settings.flagsSrc, state.settings.flagsTrg, 0);
  for (const MissingRoot& m : missingRoots(*state.fs, sides[0], sides[1])) {
    const std::string folder = std::string(names[m.side]) + " folder " + toUtf8Escaped(m.path);
    // Left out only where its absence spares what the sync would have deleted; a folder that
    // is not there yet (a new backup folder) is simply made by what is copied into it.
    const MissingRootEffect effect = missingRootEffect(state.firstRoot, m, masks);
    if (effect.keepsEntries)
      warn(folder + " does not exist; nothing on the " + names[1 - m.side] +
           " side of that row is deleted because of it");
    else if (!options.quiet)
      std::fprintf(stderr, "ferrywick-cli: note: %s does not exist; %s\n", folder.c_str(),
                   effect.writesInto ? "a sync creates it" : "nothing is copied into it");
  }
  for (const UnlistedFolder& u :
       unlistedFolders(state.firstRoot, sides[0], sides[1], &state.listingFailures)) {
    if (u.why.failed())
      warn(std::string(names[u.side]) + " folder " + toUtf8Escaped(u.path) +
           " could not be listed: " + fsFailureText(u.why) +
           "; it and what lies below it are left alone");
    else
      warn(std::string(names[u.side]) + " entry " + toUtf8Escaped(u.path) +
           " could not be read (an unreadable folder, a link to a folder or a special file); "
           "it and what lies below it are left alone");
  }
  for (const std::u16string& c : conflictingEntries(state.firstRoot))
    warn("entry " + toUtf8Escaped(c) +
         " cannot be paired (a file against a folder, or a name that differs only in letter "
         "case from another); it is left alone on both sides");
  return leftOut;
}

}  // namespace fw
