// Project files: the two columns of folder paths that the main window shows, and the one
// reader of string lists, which also reads the root names of a state or difference file.
//
// Inflated layout: N source strings, N target strings (the shorter column padded with " "),
// then an empty string; every string UTF-8 and a 0 byte, an empty one stored as " ". A stored
// string that begins with a space reads back as the empty string.
#ifndef FERRYWICK_FORMATS_PROJECT_FILE_H
#define FERRYWICK_FORMATS_PROJECT_FILE_H

#include <cstddef>
#include <string>
#include <vector>

#include "core/comparison.h"
#include "core/result.h"
#include "formats/file_header.h"
#include "platform/fs.h"

namespace fw {

// Longest string readStringList accepts, in UTF-16 units; longer ones fail the read.
inline constexpr size_t kMaxListString = 260;
// Most strings readStringList accepts; a list claiming more fails the read rather than fill
// memory from a small file (a real project has a few hundred).
inline constexpr size_t kMaxListStrings = 1u << 20;

// One row of a project. Either path may be empty.
struct FolderPair {
  std::u16string source;
  std::u16string target;
};

// A project as the main window keeps it: the source column and the target column; row i is
// (source[i], target[i]), a missing place counting as empty.
struct Project {
  std::vector<std::u16string> source;
  std::vector<std::u16string> target;
  size_t rows() const { return source.size() > target.size() ? source.size() : target.size(); }
  FolderPair row(size_t i) const;
};

// Writes the project file. BadRequest: no path, or a string over 259 units; CannotWrite;
// Failed (zlib, or a string that does not convert); OutOfMemory. The file is written under a
// temporary name and replaces one at path only when complete; after a failure it is as it was.
Rc saveProject(Fs& fs, const std::vector<std::u16string>& source,
               const std::vector<std::u16string>& target, const char16_t* path);
inline Rc saveProject(Fs& fs, const Project& project, const char16_t* path) {
  return saveProject(fs, project.source, project.target, path);
}

// Replaces *list by the strings stored in the file of the given kind, up to the list's empty
// string. A file that cannot be opened or is not of that kind: Failed. A damaged stream, a
// list that ends without its empty string, a string over kMaxListString units or more than
// kMaxListStrings strings: Failed. The file must also be whole after the list, as the tree
// readers require (CompressedReader::requireStreamEnd): a project's stream ends with its
// checksum at the end of the file; a state's or difference's tree section holds a tree for
// every root name (read past, its framing and names checked) and ends where its header says.
// Otherwise Failed. OutOfMemory. On any failure *list is empty.
Rc readStringList(Fs& fs, std::vector<std::u16string>* list, const char16_t* path,
                  FileKind kind);

// Reads the root names of a saved side's file, as a state file or else as a difference file,
// and sets *kind to SavedState or SavedDifference by the one it is. Neither: the result of the
// read as a difference file (see readStringList), *roots empty and *kind as it was.
Rc readSavedRoots(Fs& fs, const char16_t* path, std::vector<std::u16string>* roots,
                  SideKind* kind);

// Reads a project file: the first half of the stored list is the source column, the second
// half the target column. An odd number of strings: Failed.
Rc loadProject(Fs& fs, const char16_t* path, Project* project);

}  // namespace fw

#endif  // FERRYWICK_FORMATS_PROJECT_FILE_H
