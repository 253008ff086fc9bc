// The safety net in the Windows program: the question before a sync that would delete much,
// the refusal of a backup folder that cannot be used and of folders that overlap, and the main menu's item "Move deleted
// files to the Recycle Bin", whose state lives in the settings (the registry value
// "recycleBin").
#ifndef FERRYWICK_APP_SAFETY_NET_H
#define FERRYWICK_APP_SAFETY_NET_H

#include <windows.h>

namespace fw {

// The menu command of the recycle-bin item (beside the resource script's ids).
inline constexpr int kRecycleBinCommand = 40030;
inline constexpr wchar_t kRecycleBinItemText[] = L"Move deleted files to the &Recycle Bin";

// Just before a sync starts: false when it must not, because the user answered No to the
// mass-deletion question (No is the default) or the backup folder is refused (said in an
// "Error" box). Both boxes are owned by owner.
bool confirmSyncSafety(HWND owner);

// Just before a comparison starts: false when it must not, because folder roots of the
// project's sides are one folder or lie one inside the other (said in an "Error" box owned by
// owner).
bool confirmRootsApart(HWND owner);

// Puts the recycle-bin item into the File menu of the window's menu, after "Options...",
// checked as the settings say.
void addSafetyMenuItems(HWND window);

// The item's command: turns the setting over and checks or unchecks the item. False for any
// other command.
bool onSafetyCommand(HWND window, int id);

}  // namespace fw

#endif  // FERRYWICK_APP_SAFETY_NET_H
