// The project list of the main window as plain operations over the Workspace: rows, padding,
// loading files into sides, swapping, the buttons' states. The window code calls these and then
// shows the result; nothing here touches a window.
#ifndef FERRYWICK_APP_LOGIC_PROJECT_MODEL_H
#define FERRYWICK_APP_LOGIC_PROJECT_MODEL_H

#include <string>
#include <vector>

#include "app/logic/workspace.h"
#include "core/result.h"
#include "formats/file_header.h"

namespace fw {

// Row padding before the lists are shown: while one list is shorter, it gets an empty partner
// for the other's last string, unless that string is empty too, in which case that string is
// dropped. Trailing rows empty on both sides vanish; a row filled on one side only gets an
// empty partner.
void padRows(std::vector<std::u16string>& s, std::vector<std::u16string>& t);
// padRows on the selected inputs of both sides.
void padSelectedRows(Workspace& ws);

// Releases the last comparison and, for both sides, empties the first n inputs (roots and
// saved file): n = 1 the project's folder lists only, n = 3 everything.
void clearInputs(Workspace& ws, int n);

// New project: clearInputs(1), entry 0 of both kind boxes back to "File system", and an
// untitled project without changes.
void newProject(Workspace& ws);

// Each side's kindBoxChars: the length of the longest of its box's entries.
void fitKindBoxChars(Workspace& ws);

struct ButtonStates {
  bool add = false;
  bool edit = false;
  bool remove = false;
  bool compare = false;
};
// The first side (0 source, 1 target) set to a saved kind without its file (its Open was
// cancelled), or -1. Such a side cannot be compared (lacksSavedFile): it is not empty.
int sideWithoutSavedFile(const Workspace& ws);

// "Add" when either side is a folder side; "Edit" and "Delete" when a row is selected (selection
// >= 0); "Compare" when the source's selected input has rows, no earlier worker is still
// running (a cancelled one may be) and no side is a saved kind without its file.
ButtonStates buttonStates(const Workspace& ws, int selection, bool workerRunning);

// Loads a project (FileSystem), state or difference file into a side (see loadSideFile of the
// main window). A project is read by loadProject: its source column and its target column
// become the two sides' folder lists, whichever side was loaded, after newProject; the project
// then has that file, unchanged, and heads the recent projects. A project that cannot be read
// changes nothing. The kind box label becomes the file's name on success and, for a saved kind,
// the kind's own text on failure; for a project in both boxes. Returns the reader's result.
Rc loadSideFile(Workspace& ws, const char16_t* path, int side, SideKind kind);

// What start-up does with the command line's token: a project, else a state, else a
// difference, into the source side; on success the source's kind becomes the one that worked.
// Returns whether one did.
bool loadStartupFile(Workspace& ws, const char16_t* path);

// Exchanges the two sides wholesale (inputs and kinds) and the texts of their kind boxes.
void swapSides(Workspace& ws);

// Removes row `row` of both selected inputs. Returns the row to select in both lists
// afterwards: the one that took its place, or -1 when the deleted row was the last.
int removeRow(Workspace& ws, int row);

// The folder pair dialog's record for row currentRow (add mode: empty strings), and putting it
// back: add mode inserts a new row at currentRow, edit mode overwrites it.
struct FolderPairRecord {
  bool sourceEditable = true;  // the side is a folder side
  bool targetEditable = true;
  std::u16string source;
  std::u16string target;
};
FolderPairRecord folderPairFor(const Workspace& ws);
void storeFolderPair(Workspace& ws, const FolderPairRecord& pair);
// What the folder pair dialog warns of while the user types: a line for each pair of folder
// roots that are one folder or lie one inside the other (findOverlappingRoots, rootOverlapText:
// "Row 1: the target D:\A\sub lies inside the source D:\A") among the rows as OK would leave
// them, where one of the two is the row being edited. Empty when it lies apart from the rest.
// The comparison refuses such rows; the dialog still accepts them.
std::u16string folderPairOverlapText(Fs& fs, const Workspace& ws, const FolderPairRecord& pair);

// The last path component (after the last "\" or "/").
std::u16string fileNamePart(const std::u16string& path);

FileKind fileKindFor(SideKind kind);

// The Open and Save dialogs' filter (parts separated by NUL, ending in an extra NUL) and default
// extension for the files of a kind: project, state or difference.
struct FileFilter {
  std::u16string filter;
  const char16_t* defaultExtension;
};
FileFilter fileFilterFor(SideKind kind);

// Copies the sides into the task state, where the worker reads them.
void publishSides(Workspace& ws);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_PROJECT_MODEL_H
