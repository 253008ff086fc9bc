// The program-wide state that the window thread owns for the whole run: the two project sides
// with the texts of their kind boxes, the shared task state that a worker reads, and the parts
// of the settings that only the shell keeps (placements, whether an ignore list exists).
// Plain data, reached through workspace() (app/app_state.h). The window code reads it to show
// it and also writes the single fields a control stands for (a side's kind, the row and mode of
// Add and Edit, the save file name, the placements, settings through the Options dialog); what
// changes several parts together (loading files, rows, swapping, clearing) goes through the
// functions of app/logic, which are tested without windows.
#ifndef FERRYWICK_APP_LOGIC_WORKSPACE_H
#define FERRYWICK_APP_LOGIC_WORKSPACE_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/comparison.h"
#include "sync/task.h"

namespace fw {

inline constexpr int kSourceSide = 0;
inline constexpr int kTargetSide = 1;

// One column of the main window: an input per SideKind and the kind its box selects. The
// selected input is what the list shows, what a comparison reads and what Add, Edit and Delete
// change.
struct ProjectSide {
  SideInput inputs[kSideKinds];
  SideKind kind = SideKind::FileSystem;

  SideInput& selected() { return inputs[static_cast<int>(kind)]; }
  const SideInput& selected() const { return inputs[static_cast<int>(kind)]; }
};

// The 44-byte window placement record as the registry stores it; all zeros: none saved.
inline constexpr size_t kPlacementBytes = 44;
using PlacementBytes = std::array<uint8_t, kPlacementBytes>;
bool hasPlacement(const PlacementBytes& p);  // its length field is not zero

inline constexpr uint32_t kDefaultIgnoreCapacity = 32;

// What the settings store keeps beside the engine's SyncSettings.
struct ShellSettings {
  // False: there is no ignore list at all (SyncSettings::ignore is then empty), which is not
  // the same as an empty one: saved as an empty "ignore", and compared as absent.
  bool hasIgnore = true;
  uint32_t ignoreCapacity = kDefaultIgnoreCapacity;  // units of the buffer holding the text
  PlacementBytes mainPlacement{};
  PlacementBytes fileTreePlacement{};
  // 1: the File Tree window asks before every sync, saying what it will do; 0: only when
  // there is something to warn about ("Do not ask again", the File menu turns it back on).
  uint32_t askBeforeSync = 1;
  // The File menu's recently used projects, most recent first (project_session.h).
  std::vector<std::u16string> recentProjects;
};

// The project's file and the folder columns as last opened from it or saved to it (or as a new
// project started), which tell whether there are changes to save.
struct ProjectDocument {
  std::u16string path;  // empty: not saved yet ("Untitled")
  std::vector<std::u16string> savedSource;
  std::vector<std::u16string> savedTarget;
};

struct Workspace {
  ProjectSide sides[2];
  std::u16string kindLabels[2][kSideKinds];  // the entries of each kind box
  int kindBoxChars[2] = {0, 0};              // length of each box's longest entry
  int currentRow = 0;                        // the row Add, Edit and Delete work on
  bool addMode = false;
  TaskState task;
  ShellSettings shell;
  ProjectDocument project;

  Workspace();
  SyncSettings& settings() { return task.settings; }
};

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_WORKSPACE_H
