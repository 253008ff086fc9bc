#include "formats/save_check.h"

#include "core/sibling_tree.h"
#include "formats/state_file.h"
#include "platform/text.h"

namespace fw {
namespace {

// A saved file holds its names as UTF-8, which has no form for a lone surrogate: what the
// POSIX layer makes of the bytes of a name that is not UTF-8 (platform/text.h), or a Windows
// name that is not valid UTF-16. Such a name could only be stored changed, and a sync from the
// file would then create or delete another entry than this one.
bool convertsToUtf8(const char16_t* name) {
  for (const char16_t* p = name; *p; ++p) {
    if (*p >= 0xD800 && *p <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) ++p;
    else if (*p >= 0xD800 && *p <= 0xDFFF) return false;
  }
  return true;
}

constexpr char kNotUtf8[] =
    "has a name that is not valid UTF-8 (on Windows, UTF-16) text, and a saved file holds "
    "names as UTF-8 only";

const char* entryProblem(const FileNode* n, int side) {
  if (n->flags & unlistedFlag(side))
    return isFolder(n) ? "could not be read completely, or is a link to a folder"
                       : "could not be read, or is no regular file (a FIFO, a device, a socket)";
  if (n->flags & Conflict)
    return "cannot be paired: a file against a folder, or a name that differs only in letter "
           "case from another";
  const char16_t* name = sideName(n, side);
  size_t units = length16(name);
  if (units > kMaxStoredName || !isValidStoredName(name, units))
    return "has a name the saved file cannot hold";
  if (!convertsToUtf8(name)) return kNotUtf8;
  if (!isFolder(n) && n->side[side].modified == 0) return "has a time the saved file cannot hold";
  return nullptr;
}

// The first problem below tree, with path extended by the names on the way.
bool findProblem(FileNode* tree, int side, uint32_t absent, std::u16string& path,
                 SaveProblem* problem) {
  bool found = false;
  walkInOrder(tree, [&](FileNode* n) {
    if (n->flags & absent) return Rc::Ok;
    size_t mark = path.size();
    path += kPathSeparator;
    path += sideName(n, side);
    if (const char* why = entryProblem(n, side)) {
      problem->entry = path;
      problem->reason = why;
      found = true;
      return Rc::Failed;  // ends the walk
    }
    if (n->children && findProblem(n->children, side, absent, path, problem)) {
      found = true;
      return Rc::Failed;
    }
    path.resize(mark);
    return Rc::Ok;
  });
  return found;
}

}  // namespace

Rc checkSavable(Fs& fs, FileNode* roots, int side, const SideInput* input, SaveProblem* problem) {
  uint32_t absent = side == 0 ? OnlyInTarget : OnlyInSource;
  size_t row = 0;
  for (FileNode* root = roots; root; root = root->link[1], ++row) {
    bool own = input && !input->hasSavedFile() && row < input->roots.size();
    std::u16string path = own ? input->roots[row] : std::u16string(root->name);
    if (own && isMissingRoot(fs, path)) {
      problem->entry = path;
      problem->reason = "does not exist";
      return Rc::BadRequest;
    }
    if (root->flags & unlistedFlag(side)) {
      problem->entry = path;
      problem->reason = "could not be read completely";
      return Rc::BadRequest;
    }
    if (!convertsToUtf8(root->name)) {  // the name the file keeps for the row
      problem->entry = root->name;
      problem->reason = kNotUtf8;
      return Rc::BadRequest;
    }
    if (findProblem(root->children, side, absent, path, problem)) return Rc::BadRequest;
  }
  return Rc::Ok;
}

}  // namespace fw
