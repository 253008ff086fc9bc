// The safety net in the Windows program: the question before a sync (what it will do, and what
// to beware of: missing folders, entries left alone, much to delete), the refusal of a backup
// folder that cannot be used and of folders that overlap, and the main menu's items "Move
// deleted files to the Recycle Bin" and "Ask before every sync", whose states live in the
// settings (the registry values "recycleBin" and "askBeforeSync"), and the Safety dialog that
// edits all of its settings.
#ifndef FERRYWICK_APP_SAFETY_NET_H
#define FERRYWICK_APP_SAFETY_NET_H

#include <windows.h>

namespace fw {

// The menu command of the recycle-bin item (beside the resource script's ids).
inline constexpr int kRecycleBinCommand = 40030;
inline constexpr wchar_t kRecycleBinItemText[] = L"Move deleted files to the &Recycle Bin";
inline constexpr int kAskBeforeSyncCommand = 40031;
inline constexpr wchar_t kAskBeforeSyncItemText[] = L"&Ask before every sync";

// Before a sync starts, while everything the user chose is still open: false when it must not,
// because the backup folder is refused (said in an "Error" box) or the user answered No (the
// default) to the question "Before the sync". That question says what the sync will do on each
// side (syncPlanText) after any warnings (syncWarnings, the mass-deletion sentence of the
// deletion guard); it is asked whenever there is a warning, and otherwise unless "Do not ask
// again" was ticked in it (turned back on by the menu item). Both are owned by owner.
bool confirmSync(HWND owner);

// Just before a comparison starts: false when it must not, because folder roots of the
// project's sides are one folder or lie one inside the other (said in an "Error" box owned by
// owner).
bool confirmRootsApart(HWND owner);

// Puts the recycle-bin item and the ask-before-sync item into the File menu of the window's
// menu, after "Safety..." (or "Options..."), checked as the settings say.
void addSafetyMenuItems(HWND window);

// An item's command: turns its setting over and checks or unchecks the item; "Safety..." opens
// the Safety dialog. False for any other command.
bool onSafetyCommand(HWND window, int id);

// Checks or unchecks the two items as the settings say.
void showSafetyChecks(HWND window);

// The Safety dialog over the window: the backup folder (refused inside or around a folder of
// the project), the recycle bin, the mass-deletion limits, the hour-shift tolerance and the
// question before every sync. OK makes them the settings (saved with the others at the end),
// Cancel changes nothing.
void runSafetyDialog(HWND owner);

}  // namespace fw

#endif  // FERRYWICK_APP_SAFETY_NET_H
