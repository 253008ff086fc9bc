// The settings store on the Windows registry: key "SOFTWARE\Ferrywick" of the current user,
// else of the machine.
#ifndef FERRYWICK_APP_SETTINGS_REGISTRY_H
#define FERRYWICK_APP_SETTINGS_REGISTRY_H

#include <windows.h>

namespace fw {

// Once at start, before any window exists: the workspace's settings and placements.
void loadSettings();
// Once while the main window is destroyed: its placement and every setting, into both hives.
void saveSettings(HWND mainWindow);
// The key every setting lives under in both hives, "SOFTWARE\\Ferrywick". Test runs that share
// one registry and run at once each name a key of their own before the program starts.
const wchar_t* settingsKey();
void useSettingsKey(const wchar_t* key);

}  // namespace fw

#endif  // FERRYWICK_APP_SETTINGS_REGISTRY_H
