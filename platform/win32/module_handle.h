// The module (DLL, or the executable in tests) this code was linked into.
#pragma once

#include <windows.h>

namespace km4r::platform::win32 {

HMODULE ThisModule();

// Removes the child window class; the module calls it before it is unloaded,
// since the system keeps a DLL's classes (and their stale window procedure)
// registered after FreeLibrary.
void UnregisterChildWindowClass();

}  // namespace km4r::platform::win32
