// Facts about the loaded plug-in module and its self-registration, answered by
// the platform layer.
#pragma once

#include <cstdint>
#include <string>

namespace km4r::platform {

// File title of a path: the name without directory and extension; both '/'
// and '\\' separate directories.
inline std::string FileTitleFromPath(std::string path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos) path.erase(0, slash + 1);
  const std::size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && dot != 0) path.erase(dot);
  return path;
}

// File name of the plug-in module without directory and extension
// ("KM4R" for .../KM4R.so or ...\KM4R.dll).
std::string ModuleFileTitle();

// Type-library self-registration; results are the COM status codes the host
// expects (0, SELFREG_E_TYPELIB 0x80040200, SELFREG_E_CLASS 0x80040201).
int32_t RegisterServer();
int32_t UnregisterServer();
// Class-factory queries answered for an empty class list.
int32_t GetClassObject(const void* clsid, const void* iid, void** out);
int32_t CanUnloadNow();

}  // namespace km4r::platform
