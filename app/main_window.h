// The main window: its class, its controls and layout, and the operations its commands run.
#ifndef FERRYWICK_APP_MAIN_WINDOW_H
#define FERRYWICK_APP_MAIN_WINDOW_H

#include <windows.h>

#include "core/comparison.h"
#include "core/result.h"

namespace fw {

inline constexpr wchar_t kMainWindowClass[] = L"Ferrywick_MainWnd";

bool registerMainWindowClass();
void unregisterMainWindowClass();
HWND createMainWindow();

// main_window.cpp: controls and layout.
void layoutMainWindow(HWND window);
void fitKindBoxes();
// Shows the side's kind box entries (the workspace's labels) and selects the side's kind.
void showKindBox(int side);

// project_commands.cpp: what the commands do.
int updateButtons(HWND list);  // list: the list whose selection counts, or null (source)
void refreshLists();
void newProjectCommand();
// Asks for a file for the side and loads it; one that cannot be used is named in an error box.
Rc chooseSideFile(int side, SideKind kind);
Rc loadSideFileCommand(const wchar_t* path, int side, SideKind kind);
void onKindChanged(int side);
void editRow(bool addMode);
void deleteRow();
void swapSidesCommand();
// Save As: asks for a file; Save: the project's file, or Save As when it has none. True when the
// project was written.
bool saveProjectAs();
bool saveProjectCommand();
// Before the project is replaced or the program ends: "Save changes to <name>?" when the folder
// columns changed since they were last opened or saved. False when the user cancels (or the
// save asked for fails): nothing may change then.
bool askToSaveChanges();
// The title naming the project's file, and the recent projects in the File menu above Exit.
void showProjectFile();
// Opens the recent project at index; a file that is gone is named and taken off the list.
void openRecentProject(size_t index);
void optionsCommand();
void openWebPage();
// Handles a command of the main window; false when it is not one.
bool onMainCommand(int id, int code, HWND control);

}  // namespace fw

#endif  // FERRYWICK_APP_MAIN_WINDOW_H
