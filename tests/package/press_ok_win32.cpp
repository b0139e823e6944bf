// Stands in for the user at the plug-in's configuration dialog, which
// another process opened: waits for it (caption "01") and presses OK.
#include <windows.h>

#include <cstdio>

int main() {
  for (int i = 0; i < 1200; ++i) {
    HWND dialog = FindWindowA("#32770", "01");
    if (dialog != nullptr) {
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
      return 0;
    }
    Sleep(100);
  }
  std::fprintf(stderr, "press_ok: no configuration dialog appeared in two minutes\n");
  return 1;
}
