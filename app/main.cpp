// Ferrywick.exe: start, run the message loop, shut down.
#include <windows.h>

#include "app/program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
  if (!fw::startProgram(instance, commandLine, showCommand)) return 1;
  const int code = fw::runMessageLoop();
  fw::shutdownProgram();
  return code;
}
