// Opens the module's configuration dialog on a scratch profile, prints
// "shown" once it is on screen, and cancels it after the given number of
// milliseconds (default 5000), so it can be looked at or photographed.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/host/module_path_win32.h"
#include "platform/host_string.h"

namespace {

using km4r::sim::ModulePath;

void HoldThenCancel(DWORD holdMs) {
  HWND dlg = nullptr;
  for (int i = 0; i < 1000 && dlg == nullptr; ++i) {
    dlg = FindWindowA("#32770", "01");
    if (dlg == nullptr || !IsWindowVisible(dlg)) {
      dlg = nullptr;
      Sleep(10);
    }
  }
  if (dlg == nullptr) {
    std::fprintf(stderr, "the dialog did not appear\n");
    return;
  }
  std::printf("shown\n");
  std::fflush(stdout);
  Sleep(holdMs);
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD holdMs = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 5000;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HMODULE dll = LoadLibraryA(ModulePath().c_str());
  if (dll == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", ModulePath().c_str());
    return 1;
  }
  auto setProName = reinterpret_cast<const char* (*)(km4r::platform::HostStringParam)>(
      reinterpret_cast<void*>(GetProcAddress(dll, "SetProName")));
  auto config =
      reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "Config")));
  if (setProName == nullptr || config == nullptr) return 1;

  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string profile = std::string(temp) + "km4r_show_dialog_profile.xml";
  DeleteFileA(profile.c_str());
  setProName(km4r::platform::HostStringArgument(profile.c_str()));

  std::thread closer(HoldThenCancel, holdMs);
  config();
  closer.join();
  DeleteFileA(profile.c_str());
  FreeLibrary(dll);
  CoUninitialize();
  return 0;
}
