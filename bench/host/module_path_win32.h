// Path of the module a Windows test loads, given relative to the test
// program's own directory (KM4R_MODULE_RELPATH, set by the build).
#pragma once

#include <windows.h>

#include <string>

namespace km4r::sim {

inline std::string ModulePath() {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string dir(exe, n);
  dir.erase(dir.find_last_of('\\') + 1);
  return dir + KM4R_MODULE_RELPATH;
}

}  // namespace km4r::sim
