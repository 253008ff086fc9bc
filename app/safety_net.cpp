#include "app/safety_net.h"

#include <string>

#include "app/app_state.h"
#include "app/logic/task_flow.h"
#include "app/resources/resource_ids.h"
#include "platform/text.h"
#include "sync/deletion_guard.h"
#include "sync/discard.h"

namespace fw {
namespace {

// The popup that holds the item with this command, and the item's position in it.
HMENU popupHolding(HMENU bar, UINT command, int* position) {
  const int popups = GetMenuItemCount(bar);
  for (int i = 0; i < popups; ++i) {
    HMENU popup = GetSubMenu(bar, i);
    if (!popup) continue;
    const int items = GetMenuItemCount(popup);
    for (int j = 0; j < items; ++j) {
      if (GetMenuItemID(popup, j) == command) {
        *position = j;
        return popup;
      }
    }
  }
  return nullptr;
}

void showCheck(HWND window) {
  HMENU bar = GetMenu(window);
  if (!bar) return;
  const bool on = workspace().settings().recycleBin != 0;
  CheckMenuItem(bar, kRecycleBinCommand, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

}  // namespace

bool confirmSyncSafety(HWND owner) {
  Workspace& ws = workspace();
  TaskState& task = ws.task;
  const SideInput& target = task.inputs[1][static_cast<int>(SideKind::FileSystem)];
  if (!task.settings.backupDir.empty() && task.fs) {
    std::u16string longForm;
    std::string why;
    if (prepareBackupFolder(*task.fs, task.settings.backupDir, task.currentInput(0), target,
                            &longForm, &why) != Rc::Ok) {
      std::u16string text = toUtf16("The sync cannot keep old versions: " + why + ".");
      MessageBoxW(owner, wide(text), L"Error", MB_OK | MB_ICONERROR);
      return false;
    }
  }
  const MassDeleteLimits limits{task.settings.massDeletePercent, task.settings.massDeleteFiles,
                                task.settings.massDeleteShareFiles};
  const DeletionCount count = countDeletions(task.firstRoot, task.currentInput(0), target, limits);
  if (!count.needsConfirmation()) return true;
  const std::u16string text = massDeletionText(count, limits) + u"\n\nSync anyway?";
  return MessageBoxW(owner, wide(text), L"Warning", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) ==
         IDYES;
}

bool confirmRootsApart(HWND owner) {
  Workspace& ws = workspace();
  if (!ws.task.fs) return true;
  // The sides as the comparison will read them (published when its worker starts).
  const std::u16string text = overlappingRootsText(*ws.task.fs, ws.sides[kSourceSide].selected(),
                                                   ws.sides[kTargetSide].selected());
  if (text.empty()) return true;
  MessageBoxW(owner, wide(text), L"Error", MB_OK | MB_ICONERROR);
  return false;
}

void addSafetyMenuItems(HWND window) {
  HMENU bar = GetMenu(window);
  int position = 0;
  HMENU file = bar ? popupHolding(bar, IDM_OPTIONS, &position) : nullptr;
  if (!file) return;
  InsertMenuW(file, static_cast<UINT>(position + 1), MF_BYPOSITION | MF_STRING,
              static_cast<UINT_PTR>(kRecycleBinCommand), kRecycleBinItemText);
  showCheck(window);
}

bool onSafetyCommand(HWND window, int id) {
  if (id != kRecycleBinCommand) return false;
  uint32_t& on = workspace().settings().recycleBin;
  on = on ? 0 : 1;
  showCheck(window);
  return true;
}

}  // namespace fw
