/* Stands in for the window framework's DLL in the string host's process: the
 * module decides from the loaded framework DLL's name which generation of
 * the string class the host uses. The host's framework code itself is in
 * string_host.cpp. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
