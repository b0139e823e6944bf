// The module's load and unload hooks.
#include <windows.h>

#include "platform/win32/module_handle.h"
#include "platform/win32/sockets.h"

using namespace km4r::platform::win32;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      return StartSockets(SystemSocketApi()) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved non-null) other DLLs may already be gone;
      // the system reclaims everything then.
      if (reserved == nullptr) {
        UnregisterChildWindowClass();
        StopSockets(SystemSocketApi());
      }
      return TRUE;
    default:
      return TRUE;
  }
}
