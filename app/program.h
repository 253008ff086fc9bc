// Program start, the message loop and shutdown. wWinMain runs all three; the GUI tests run
// them on a thread of their own, once per test.
#ifndef FERRYWICK_APP_PROGRAM_H
#define FERRYWICK_APP_PROGRAM_H

#include <windows.h>

namespace fw {

// Everything up to the message loop: locale, COM, the workspace, the settings, fonts, the
// window class, the main window and the file named by the command line's first token. False
// when the main window cannot be created (shutdownProgram has run then).
bool startProgram(HINSTANCE instance, const wchar_t* commandLine, int showCommand);

// Until the main window is destroyed; returns the quit code.
int runMessageLoop();

// Frees what startProgram made (waiting for a worker that still runs).
void shutdownProgram();

}  // namespace fw

#endif  // FERRYWICK_APP_PROGRAM_H
