#include <windows.h>

#include "platform/testing/wine.h"

namespace fw {

// Wine's ntdll exports its version; Windows' does not.
bool runningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace fw
